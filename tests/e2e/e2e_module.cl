// The device side of the end-to-end tests, laid out with the device-code kit: a teams saxpy with
// a kernel info record, a cross-team reduction capped by its record, a 2-D loop region, a region
// reading a declare-target variable, and one reading the program data record.
#include "omp_offload_kit.h"

__global long e2e_value = 5;

OMP_OFFLOAD_NAME(grid, "e2e_grid");
OMP_OFFLOAD_NAME(heap, "e2e_heap");
OMP_OFFLOAD_NAME(read_value, "e2e_read_value");
OMP_OFFLOAD_NAME(reduce, "e2e_reduce");
OMP_OFFLOAD_NAME(saxpy, "e2e_saxpy");
OMP_OFFLOAD_NAME(value, "e2e_value");

OMP_OFFLOAD_TABLE(OMP_OFFLOAD_REGION(grid), OMP_OFFLOAD_REGION(heap),
                  OMP_OFFLOAD_REGION(read_value), OMP_OFFLOAD_REGION(reduce),
                  OMP_OFFLOAD_REGION(saxpy), OMP_OFFLOAD_VARIABLE(value, e2e_value));

OMP_PROGRAM_DATA;

// y = a x + y over n elements; a is a 4-byte value, n an 8-byte one.
OMP_KERNEL_INFO_V4(e2e_saxpy, 4, 0, 0, 0, OMP_ARG_POINTER, OMP_ARG_POINTER, OMP_ARG_BY_VALUE(4),
                   OMP_ARG_BY_VALUE(8));
__kernel void e2e_saxpy(__global float *y, __global const float *x, float a, long n) {
  long i = get_global_id(0);
  if (i < n)
    y[i] = a * x[i] + y[i];
}

// total[0] += in[0..n); total[1] = the most teams seen, total[2] = the largest team.
OMP_KERNEL_INFO_V4(e2e_reduce, 3, OMP_KERNEL_TEAMS_REDUCTION, 8, 64, OMP_ARG_POINTER,
                   OMP_ARG_POINTER, OMP_ARG_BY_VALUE(8));
__kernel void e2e_reduce(__global uint *total, __global const uint *in, long n) {
  uint s = 0;
  for (long i = get_global_id(0); i < n; i += get_global_size(0))
    s += in[i];
  atomic_add(&total[0], s);
  atomic_max(&total[1], (uint)get_num_groups(0));
  atomic_max(&total[2], (uint)get_local_size(0));
}

// out[j][i] = 1000 j + i over a rows x cols grid, one work-item per iteration.
__kernel void e2e_grid(__global long *out, long cols, long rows) {
  long i = get_global_id(0), j = get_global_id(1);
  if (i < cols && j < rows)
    out[j * cols + i] = j * 1000 + i;
}

__kernel void e2e_read_value(__global long *out) { *out = 2 * e2e_value; }

__kernel void e2e_heap(__global ulong *out) {
  out[0] = __omp_spirv_program_data.initialized;
  out[1] = __omp_spirv_program_data.dynamic_memory_lb;
  out[2] = __omp_spirv_program_data.dynamic_memory_ub;
  out[3] = (ulong)__omp_spirv_program_data.device_num;
}
