// The host runtime's side of OpenMP interop objects: reading the record's slots, as the
// omp_get_interop_* calls do, and `omp interop destroy`.
#ifndef HOSTRT_HOST_INTEROP_H
#define HOSTRT_HOST_INTEROP_H

#include "host_plugin.h"

// omp_get_interop_int/ptr/str: the host reads the record's slot for Property (-1 to -9) itself.
// Rc is 0 (omp_irc_success), or -2 (omp_irc_out_of_range) for another number or a null record.
intptr_t interopSlot(const InteropRecord *Interop, int32_t Property, int32_t &Rc);

// `omp interop destroy`: the record stays the host's when the plugin cannot release it.
int32_t interopDestroy(HostPlugin &Plugin, int32_t DeviceId, InteropRecord *&Interop);

#endif
