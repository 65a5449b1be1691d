// Setting up the kernels one driver call created, all or none.
#ifndef OMPTARGET_CL_LAYER_KERNEL_SET_UP_H
#define OMPTARGET_CL_LAYER_KERNEL_SET_UP_H

#include "opencl_api.h"

// Runs SetUp on each of the Created kernels; when one fails, those already set up are released
// through Release (the layer's own release, which drops their records) and the rest through the
// driver, so the call leaves nothing behind. SetUp's error, or CL_SUCCESS.
template <typename SetUpFn, typename ReleaseFn>
cl_int setUpKernelsAllOrNone(cl_kernel *Kernels, cl_uint Created, SetUpFn SetUp,
                             ReleaseFn Release) {
  for (cl_uint I = 0; Kernels && I < Created; ++I)
    if (cl_int Error = SetUp(Kernels[I])) {
      for (cl_uint J = 0; J < I; ++J)
        Release(Kernels[J]);
      for (cl_uint J = I + 1; J < Created; ++J)
        gNext.clReleaseKernel(Kernels[J]);
      return Error;
    }
  return CL_SUCCESS;
}

#endif
