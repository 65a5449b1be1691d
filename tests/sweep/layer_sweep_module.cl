// The device side of the sweep's session through the layer, laid out with the device-code kit:
// the same regions, variable and maps as the fake driver's module, without the function entry
// (the layer refuses function pointers). The fake driver below the layer runs the kernels as
// callbacks; this code only has to make the layer's program.
#include "omp_offload_kit.h"

__global long sweep_value;

OMP_OFFLOAD_NAME(grid, "grid");
OMP_OFFLOAD_NAME(vadd, "vadd");
OMP_OFFLOAD_NAME(value, "value");

OMP_OFFLOAD_TABLE(OMP_OFFLOAD_REGION(grid), OMP_OFFLOAD_REGION(vadd),
                  OMP_OFFLOAD_VARIABLE(value, sweep_value));

OMP_PROGRAM_DATA;
OMP_FUNCTION_POINTER_MAP;

// out[i] = 2 * in[i] + 1; n goes by value in 4 bytes.
OMP_KERNEL_INFO_V4(vadd, 3, 0, 0, 0, OMP_ARG_POINTER, OMP_ARG_POINTER, OMP_ARG_BY_VALUE(4));
__kernel void vadd(__global int *out, __global const int *in, int n) {
  int i = get_global_id(0);
  if (i < n)
    out[i] = 2 * in[i] + 1;
}

// data[i] += 3 over n elements.
__kernel void grid(__global int *data, long n) {
  long i = get_global_id(0);
  if (i < n)
    data[i] += 3;
}
