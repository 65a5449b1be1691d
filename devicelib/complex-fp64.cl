// Fallback for cl_tarno_devicelib_complex_fp64: double-precision complex arithmetic on double2
// (__devicelib_cabs, __devicelib_muldc3, ...).
#pragma OPENCL EXTENSION cl_khr_fp64 : enable
#include "complex_functions.h"

DEVICELIB_COMPLEX_FUNCTIONS(double, double2, , dc3)
