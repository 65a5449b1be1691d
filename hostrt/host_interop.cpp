#include "host_interop.h"

intptr_t interopSlot(const InteropRecord *Interop, int32_t Property, int32_t &Rc) {
  if (!Interop || Property < -9 || Property > -1) {
    Rc = -2;
    return 0;
  }
  Rc = 0;
  // Slot k holds property -(k+1); every slot is pointer-sized.
  return reinterpret_cast<const intptr_t *>(Interop)[-(Property + 1)];
}

int32_t interopDestroy(HostPlugin &Plugin, int32_t DeviceId, InteropRecord *&Interop) {
  int32_t Rc = Plugin.release_interop(DeviceId, Interop);
  if (Rc == 0)
    Interop = nullptr;
  return Rc;
}
