// Fallback for cl_tarno_devicelib_complex: single-precision complex arithmetic on float2
// (__devicelib_cabsf, __devicelib_mulsc3, ...).
#include "complex_functions.h"

DEVICELIB_COMPLEX_FUNCTIONS(float, float2, f, sc3)
