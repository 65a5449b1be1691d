// The device side of a small OpenMP program, laid out as its compiler would lay it out: three
// target regions (two teams regions and a loop region), two declare-target variables, the offload
// table that names them (sorted by name), a kernel info record for saxpy and the program data
// record the plugin fills in.
#include "omp_offload_kit.h"

__global int demo_counter = 42;
__global long demo_scale[4] = {1, 2, 3, 4};

OMP_OFFLOAD_NAME(grid, "__omp_offloading_demo_grid_l40");
OMP_OFFLOAD_NAME(saxpy, "__omp_offloading_demo_saxpy_l12");
OMP_OFFLOAD_NAME(sum, "__omp_offloading_demo_sum_l30");
OMP_OFFLOAD_NAME(counter, "demo_counter");
OMP_OFFLOAD_NAME(scale, "demo_scale");

OMP_OFFLOAD_TABLE(OMP_OFFLOAD_REGION(grid), OMP_OFFLOAD_REGION(saxpy), OMP_OFFLOAD_REGION(sum),
                  OMP_OFFLOAD_VARIABLE(counter, demo_counter),
                  OMP_OFFLOAD_VARIABLE(scale, demo_scale));

// saxpy(y, a): y by pointer, a by value (4 bytes); teams of at most 64 threads.
OMP_KERNEL_INFO_V4(__omp_offloading_demo_saxpy_l12, 2, 0, 0, 64, OMP_ARG_POINTER,
                   OMP_ARG_BY_VALUE(4));

OMP_PROGRAM_DATA;

__kernel void __omp_offloading_demo_saxpy_l12(__global float *y, float a) {
  size_t i = get_global_id(0);
  y[i] = a * y[i] + (float)demo_scale[i % 4];
}

// One work-item adds up n values and the counter. Scalars without a kernel info record arrive as
// 8-byte values.
__kernel void __omp_offloading_demo_sum_l30(__global long *out, __global const long *in, long n) {
  long s = demo_counter;
  for (long i = 0; i < n; ++i)
    s += in[i];
  *out = s;
}

// A loop region over a rows x cols grid, one work-item per iteration: the ND-range may round the
// iteration space up to whole work-groups.
__kernel void __omp_offloading_demo_grid_l40(__global long *out, long cols, long rows) {
  long i = get_global_id(0), j = get_global_id(1);
  if (i < cols && j < rows)
    out[j * cols + i] = j * 1000 + i;
}
