// The OpenMP device memory routines and the device count the host OpenMP runtime asks for
// (its omp_get_num_devices and omp_get_initial_device call __tgt_get_num_devices).
#include "debug.h"
#include "device_select.h"
#include "offload_policy.h"
#include "runtime.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using ull = unsigned long long;

// A device's lock and state for a routine, or null after a message.
DeviceState *routineDevice(int32_t Device, std::unique_lock<std::mutex> &Guard,
                           const char *Routine) {
  DeviceState *State = readyDevice(Device, Guard);
  if (!State)
    hostMessage("%s: device %d is not usable\n", Routine, Device);
  return State;
}

// Copies Size bytes between any two of host (-1) and devices; 0 on success.
int copyBetween(char *Dst, const char *Src, size_t Size, int32_t DstDevice, int32_t SrcDevice) {
  if (Size == 0)
    return 0;
  HostPlugin &P = runtimeState().Plugin;
  if (DstDevice < 0 && SrcDevice < 0) {
    std::memmove(Dst, Src, Size);
    return 0;
  }
  if (SrcDevice < 0)
    return P.data_submit(DstDevice, Dst, const_cast<char *>(Src), static_cast<int64_t>(Size));
  if (DstDevice < 0)
    return P.data_retrieve(SrcDevice, Dst, const_cast<char *>(Src), static_cast<int64_t>(Size));
  if (DstDevice == SrcDevice && P.data_exchange &&
      P.data_exchange(SrcDevice, const_cast<char *>(Src), DstDevice, Dst,
                      static_cast<int64_t>(Size)) == 0)
    return 0;
  // Between devices: through a host buffer.
  std::vector<char> Staging(Size);
  if (P.data_retrieve(SrcDevice, Staging.data(), const_cast<char *>(Src),
                      static_cast<int64_t>(Size)) != 0)
    return -1;
  return P.data_submit(DstDevice, Dst, Staging.data(), static_cast<int64_t>(Size));
}

// One hyper-rectangle level of omp_target_memcpy_rect.
int copyRect(char *Dst, const char *Src, size_t ElementSize, int NumDims, const size_t *Volume,
             const size_t *DstOffsets, const size_t *SrcOffsets, const size_t *DstDims,
             const size_t *SrcDims, int32_t DstDevice, int32_t SrcDevice) {
  // Bytes per step of the first dimension: the product of the inner extents.
  size_t DstStride = ElementSize, SrcStride = ElementSize;
  for (int D = 1; D < NumDims; ++D) {
    DstStride *= DstDims[D];
    SrcStride *= SrcDims[D];
  }
  if (NumDims == 1)
    return copyBetween(Dst + DstOffsets[0] * ElementSize, Src + SrcOffsets[0] * ElementSize,
                       Volume[0] * ElementSize, DstDevice, SrcDevice);
  for (size_t I = 0; I < Volume[0]; ++I)
    if (copyRect(Dst + (DstOffsets[0] + I) * DstStride, Src + (SrcOffsets[0] + I) * SrcStride,
                 ElementSize, NumDims - 1, Volume + 1, DstOffsets + 1, SrcOffsets + 1, DstDims + 1,
                 SrcDims + 1, DstDevice, SrcDevice) != 0)
      return -1;
  return 0;
}

} // namespace

EXPORT int __tgt_get_num_devices(void) {
  return noThrow("__tgt_get_num_devices", 0, [] { return numDevices(); });
}

EXPORT void *omp_target_alloc(size_t Size, int DeviceNum) {
  return noThrow("omp_target_alloc", static_cast<void *>(nullptr), [&]() -> void * {
    int32_t Device = checkRoutineDevice(DeviceNum, "omp_target_alloc");
    if (Device == -1)
      return std::malloc(Size);
    if (Device < 0 || Size == 0)
      return nullptr;
    std::unique_lock<std::mutex> Guard;
    if (!routineDevice(Device, Guard, "omp_target_alloc"))
      return nullptr;
    void *Ptr = runtimeState().Plugin.data_alloc(Device, static_cast<int64_t>(Size), nullptr, 0);
    HOST_DP("omp_target_alloc(%zu, %d) = 0x%llx\n", Size, DeviceNum, (ull)(uintptr_t)Ptr);
    return Ptr;
  });
}

EXPORT void omp_target_free(void *Ptr, int DeviceNum) {
  noThrow("omp_target_free", [&] {
    if (!Ptr)
      return;
    int32_t Device = checkRoutineDevice(DeviceNum, "omp_target_free");
    if (Device == -1) {
      std::free(Ptr);
      return;
    }
    std::unique_lock<std::mutex> Guard;
    if (Device >= 0 && routineDevice(Device, Guard, "omp_target_free") &&
        runtimeState().Plugin.data_delete(Device, Ptr) != 0)
      hostMessage("omp_target_free: 0x%llx is not device memory of device %d\n",
                  (ull)(uintptr_t)Ptr, DeviceNum);
  });
}

EXPORT int omp_target_is_present(const void *Ptr, int DeviceNum) {
  return noThrow("omp_target_is_present", int(0), [&]() -> int {
    int32_t Device = checkRoutineDevice(DeviceNum, "omp_target_is_present");
    if (Device == -1)
      return 1;
    std::unique_lock<std::mutex> Guard;
    DeviceState *State =
        Device >= 0 ? routineDevice(Device, Guard, "omp_target_is_present") : nullptr;
    return State && lookupRange(State->Mappings, reinterpret_cast<uintptr_t>(Ptr), 0).State ==
                        RangeState::Contained;
  });
}

EXPORT void *omp_get_mapped_ptr(const void *Ptr, int DeviceNum) {
  return noThrow("omp_get_mapped_ptr", static_cast<void *>(nullptr), [&]() -> void * {
    int32_t Device = checkRoutineDevice(DeviceNum, "omp_get_mapped_ptr");
    if (Device == -1)
      return const_cast<void *>(Ptr);
    std::unique_lock<std::mutex> Guard;
    DeviceState *State = Device >= 0 ? routineDevice(Device, Guard, "omp_get_mapped_ptr") : nullptr;
    if (!State)
      return nullptr;
    RangeLookup Found = lookupRange(State->Mappings, reinterpret_cast<uintptr_t>(Ptr), 0);
    return Found.State == RangeState::Contained
               ? reinterpret_cast<void *>(Found.Entry->toDevice(reinterpret_cast<uintptr_t>(Ptr)))
               : nullptr;
  });
}

EXPORT int omp_target_memcpy(void *Dst, const void *Src, size_t Length, size_t DstOffset,
                             size_t SrcOffset, int DstDeviceNum, int SrcDeviceNum) {
  return noThrow("omp_target_memcpy", int(-1), [&]() -> int {
    int32_t DstDevice = checkRoutineDevice(DstDeviceNum, "omp_target_memcpy");
    int32_t SrcDevice = checkRoutineDevice(SrcDeviceNum, "omp_target_memcpy");
    if (DstDevice == -2 || SrcDevice == -2 || !Dst || !Src)
      return -1;
    for (int32_t Device : {DstDevice, SrcDevice}) {
      std::unique_lock<std::mutex> Guard;
      if (Device >= 0 && !routineDevice(Device, Guard, "omp_target_memcpy"))
        return -1;
    }
    int Rc = copyBetween(static_cast<char *>(Dst) + DstOffset,
                         static_cast<const char *>(Src) + SrcOffset, Length, DstDevice, SrcDevice);
    if (Rc != 0)
      hostMessage("omp_target_memcpy of %zu bytes failed\n", Length);
    return Rc;
  });
}

EXPORT int omp_target_memcpy_rect(void *Dst, const void *Src, size_t ElementSize, int NumDims,
                                  const size_t *Volume, const size_t *DstOffsets,
                                  const size_t *SrcOffsets, const size_t *DstDimensions,
                                  const size_t *SrcDimensions, int DstDeviceNum, int SrcDeviceNum) {
  return noThrow("omp_target_memcpy_rect", int(-1), [&]() -> int {
    if (!Dst && !Src)
      return INT_MAX; // the number of dimensions supported
    int32_t DstDevice = checkRoutineDevice(DstDeviceNum, "omp_target_memcpy_rect");
    int32_t SrcDevice = checkRoutineDevice(SrcDeviceNum, "omp_target_memcpy_rect");
    if (DstDevice == -2 || SrcDevice == -2 || !Dst || !Src || NumDims < 1 || !Volume ||
        !DstOffsets || !SrcOffsets || !DstDimensions || !SrcDimensions)
      return -1;
    for (int32_t Device : {DstDevice, SrcDevice}) {
      std::unique_lock<std::mutex> Guard;
      if (Device >= 0 && !routineDevice(Device, Guard, "omp_target_memcpy_rect"))
        return -1;
    }
    return copyRect(static_cast<char *>(Dst), static_cast<const char *>(Src), ElementSize, NumDims,
                    Volume, DstOffsets, SrcOffsets, DstDimensions, SrcDimensions, DstDevice,
                    SrcDevice);
  });
}

EXPORT void *omp_target_memset(void *Ptr, int Value, size_t Size, int DeviceNum) {
  return noThrow("omp_target_memset", static_cast<void *>(nullptr), [&]() -> void * {
    int32_t Device = checkRoutineDevice(DeviceNum, "omp_target_memset");
    if (Device == -1)
      return std::memset(Ptr, Value, Size);
    std::unique_lock<std::mutex> Guard;
    if (Device < 0 || !Ptr || !routineDevice(Device, Guard, "omp_target_memset"))
      return nullptr;
    std::vector<char> Bytes(Size, static_cast<char>(Value));
    if (Size && runtimeState().Plugin.data_submit(Device, Ptr, Bytes.data(),
                                                  static_cast<int64_t>(Size)) != 0)
      hostMessage("omp_target_memset of %zu bytes failed\n", Size);
    return Ptr;
  });
}

EXPORT int omp_target_associate_ptr(const void *HostPtr, const void *DevicePtr, size_t Size,
                                    size_t DeviceOffset, int DeviceNum) {
  return noThrow("omp_target_associate_ptr", int(-1), [&]() -> int {
    int32_t Device = checkRoutineDevice(DeviceNum, "omp_target_associate_ptr");
    std::unique_lock<std::mutex> Guard;
    DeviceState *State =
        Device >= 0 ? routineDevice(Device, Guard, "omp_target_associate_ptr") : nullptr;
    if (!State || !HostPtr || !DevicePtr || Size == 0)
      return -1;
    uintptr_t Host = reinterpret_cast<uintptr_t>(HostPtr);
    uintptr_t Tgt = reinterpret_cast<uintptr_t>(DevicePtr) + DeviceOffset;
    RangeLookup Found = lookupRange(State->Mappings, Host, Size);
    if (Found.State == RangeState::Contained)
      return Found.Entry->toDevice(Host) == Tgt ? 0 : -1; // already so associated, or otherwise
    if (Found.State == RangeState::Extends) {
      hostMessage("omp_target_associate_ptr: host 0x%llx (%zu bytes) overlaps a mapping\n",
                  (ull)Host, Size);
      return -1;
    }
    MappingEntry E;
    E.HostBegin = Host;
    E.HostEnd = Host + Size;
    E.TgtBegin = Tgt;
    E.Permanent = true;
    E.Associated = true;
    insertEntry(State->Mappings, E);
    return 0;
  });
}

EXPORT int omp_target_disassociate_ptr(const void *HostPtr, int DeviceNum) {
  return noThrow("omp_target_disassociate_ptr", int(-1), [&]() -> int {
    int32_t Device = checkRoutineDevice(DeviceNum, "omp_target_disassociate_ptr");
    std::unique_lock<std::mutex> Guard;
    DeviceState *State =
        Device >= 0 ? routineDevice(Device, Guard, "omp_target_disassociate_ptr") : nullptr;
    if (!State)
      return -1;
    auto It = State->Mappings.Entries.find(reinterpret_cast<uintptr_t>(HostPtr));
    if (It == State->Mappings.Entries.end() || !It->second.Associated)
      return -1;
    State->Mappings.Entries.erase(It);
    return 0;
  });
}

// The asynchronous forms complete before they return, which their task may always do; the
// dependences are satisfied by the calling task having reached the call.
EXPORT int omp_target_memcpy_async(void *Dst, const void *Src, size_t Length, size_t DstOffset,
                                   size_t SrcOffset, int DstDeviceNum, int SrcDeviceNum, int,
                                   void *) {
  return noThrow("omp_target_memcpy_async", int(-1), [&]() -> int {
    return omp_target_memcpy(Dst, Src, Length, DstOffset, SrcOffset, DstDeviceNum, SrcDeviceNum);
  });
}

EXPORT int omp_target_memcpy_rect_async(void *Dst, const void *Src, size_t ElementSize, int NumDims,
                                        const size_t *Volume, const size_t *DstOffsets,
                                        const size_t *SrcOffsets, const size_t *DstDimensions,
                                        const size_t *SrcDimensions, int DstDeviceNum,
                                        int SrcDeviceNum, int, void *) {
  return noThrow("omp_target_memcpy_rect_async", int(-1), [&]() -> int {
    return omp_target_memcpy_rect(Dst, Src, ElementSize, NumDims, Volume, DstOffsets, SrcOffsets,
                                  DstDimensions, SrcDimensions, DstDeviceNum, SrcDeviceNum);
  });
}

EXPORT void *omp_target_memset_async(void *Ptr, int Value, size_t Size, int DeviceNum, int,
                                     void *) {
  return noThrow("omp_target_memset_async", static_cast<void *>(nullptr),
                 [&]() -> void * { return omp_target_memset(Ptr, Value, Size, DeviceNum); });
}
