// The interop construct: a targetsync object of the default device with its OpenCL handles, typed
// property access and its errors, and destruction.
#include "check.h"

#include <string.h>

int main(void) {
  CHECK(onDevice());
  omp_interop_t Obj = omp_interop_none;
#pragma omp interop init(targetsync : Obj)
  CHECK(Obj != omp_interop_none);
  int Err = 1;
  CHECK(omp_get_interop_int(Obj, omp_ipr_fr_id, &Err) == omp_ifr_opencl && Err == omp_irc_success);
  CHECK(!strcmp(omp_get_interop_str(Obj, omp_ipr_fr_name, &Err), "opencl"));
  CHECK(omp_get_interop_int(Obj, omp_ipr_device_num, &Err) == omp_get_default_device());
  CHECK(omp_get_interop_ptr(Obj, omp_ipr_targetsync, &Err) != NULL && Err == omp_irc_success);
  CHECK(omp_get_interop_ptr(Obj, omp_ipr_device_context, &Err) != NULL);
  CHECK(omp_get_interop_int(Obj, omp_ipr_targetsync, &Err) == 0 && Err == omp_irc_type_ptr);
  CHECK(omp_get_interop_ptr(Obj, omp_ipr_fr_name, &Err) == NULL && Err == omp_irc_type_str);
  CHECK(omp_get_interop_int(Obj, omp_ipr_first - 1, &Err) == 0 && Err == omp_irc_out_of_range);
  CHECK(!strcmp(omp_get_interop_name(Obj, omp_ipr_targetsync), "targetsync"));
#pragma omp interop use(Obj)
#pragma omp interop destroy(Obj)
  CHECK(Obj == omp_interop_none);
  CHECK(omp_get_interop_int(Obj, omp_ipr_fr_id, &Err) == 0 && Err == omp_irc_empty);
  return Failures;
}
