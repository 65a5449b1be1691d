#include "interop/interop_record.h"

#include "frame/cl_call.h"
#include "frame/plugin_state.h"

#include <map>
#include <mutex>
#include <new>

namespace {

constexpr intptr_t OpenCLForeignRuntime = 3;
constexpr intptr_t Vendor = 8;
const char *const ForeignRuntimeName = "opencl";
const char *const VendorName = "tarno";

// The records handed out and not yet released, each marked while a release of it is under way.
// The host owns them, but a pointer it passes back is only read once it is known to be one of
// them, and under the lock, so that a concurrent release cannot free it meanwhile.
std::mutex LiveMutex;
std::map<const InteropRecord *, bool> &liveRecords() {
  static std::map<const InteropRecord *, bool> Records;
  return Records;
}

void reportInvalid(const InteropRecord *Interop) {
  DP("Invalid/inconsistent OpenMP interop 0x%0*llx\n", 16,
     static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(Interop)));
}

// Whether Interop is a live record not being released, made for *DeviceId when that is given;
// with Claim it is then marked as being released.
bool checkRecord(const InteropRecord *Interop, const int32_t *DeviceId, bool Claim) {
  bool Valid = false;
  if (Interop) {
    std::lock_guard<std::mutex> Guard(LiveMutex);
    auto It = liveRecords().find(Interop);
    Valid = It != liveRecords().end() && !It->second &&
            (!DeviceId || (int64_t(Interop->device_num) == int64_t(*DeviceId) &&
                           Interop->fr_id == OpenCLForeignRuntime));
    if (Valid && Claim)
      It->second = true;
  }
  if (!Valid)
    reportInvalid(Interop);
  return Valid;
}

void freeRecord(InteropRecord *Interop) {
  delete[] static_cast<char *>(Interop->plugin_property);
  delete Interop;
}

// The record's own queue: out of order and profiling, whatever the plugin's options say.
bool createTargetSync(InteropRecord &Record) {
  cl_context Context = static_cast<cl_context>(Record.device_context);
  cl_device_id Device = static_cast<cl_device_id>(Record.device);
  cl_queue_properties QProperties[] = {0x1093, 3, 0};
  cl_int Rc = CL_SUCCESS;
  cl_command_queue Queue =
      CL_INVOKE_RC(clCreateCommandQueueWithProperties, Rc, Context, Device, QProperties);
  if (CL_CHECK_RC("__tgt_rtl_create_interop", clCreateCommandQueueWithProperties, Rc) !=
      CL_SUCCESS) {
    DP("Error: Failed to create targetsync for interop\n");
    return false;
  }
  Record.targetsync = Queue;
  return true;
}

} // namespace

InteropRecord *createInteropRecord(int32_t DeviceId, int32_t InteropKind) {
  if (!DeviceInfo || DeviceId < 0 || static_cast<uint32_t>(DeviceId) >= DeviceInfo->NumDevices ||
      !DeviceInfo->Initialized[DeviceId]) {
    DP("Error: __tgt_rtl_create_interop: device %d is not initialized\n", DeviceId);
    return nullptr;
  }
  auto *Record = new (std::nothrow) InteropRecord();
  if (!Record)
    return nullptr;
  Record->fr_id = OpenCLForeignRuntime;
  Record->fr_name = ForeignRuntimeName;
  Record->vendor = Vendor;
  Record->vendor_name = VendorName;
  Record->device_num = DeviceId;
  // Kinds above 1, and negative kinds read as unsigned, carry no OpenCL handles.
  uint32_t Kind = static_cast<uint32_t>(InteropKind);
  if (Kind <= 1) {
    Record->platform = DeviceInfo->Platforms[DeviceId];
    Record->device = DeviceInfo->Devices[DeviceId];
    Record->device_context = DeviceInfo->getContext(DeviceId);
  }
  if (Kind == 1 && !createTargetSync(*Record)) {
    delete Record;
    return nullptr;
  }
  Record->plugin_property = new (std::nothrow) char[1];
  if (!Record->plugin_property) {
    if (Record->targetsync)
      CL_CALL_LOGGED(clReleaseCommandQueue, static_cast<cl_command_queue>(Record->targetsync));
    delete Record;
    return nullptr;
  }
  try {
    std::lock_guard<std::mutex> Guard(LiveMutex);
    liveRecords().emplace(Record, false);
  } catch (const std::bad_alloc &) {
    if (Record->targetsync)
      CL_CALL_LOGGED(clReleaseCommandQueue, static_cast<cl_command_queue>(Record->targetsync));
    freeRecord(Record);
    return nullptr;
  }
  return Record;
}

bool isLiveInterop(const InteropRecord *Interop) { return checkRecord(Interop, nullptr, false); }

bool isValidInterop(int32_t DeviceId, const InteropRecord *Interop) {
  return checkRecord(Interop, &DeviceId, false);
}

int32_t finishInteropQueue(const InteropRecord *Interop, const char *Op) {
  if (!Interop->targetsync)
    return 0;
  cl_command_queue CmdQueue = static_cast<cl_command_queue>(Interop->targetsync);
  return CL_CALL(Op, clFinish, CmdQueue) == CL_SUCCESS ? 0 : -1;
}

int32_t releaseInteropRecord(int32_t DeviceId, InteropRecord *Interop) {
  constexpr const char *Op = "__tgt_rtl_release_interop";
  // Claimed, so that another release of the same record meanwhile is refused.
  if (!checkRecord(Interop, &DeviceId, true))
    return -1;
  if (Interop->targetsync) {
    cl_command_queue CmdQueue = static_cast<cl_command_queue>(Interop->targetsync);
    if (CL_CALL(Op, clFinish, CmdQueue) != CL_SUCCESS ||
        CL_CALL(Op, clReleaseCommandQueue, CmdQueue) != CL_SUCCESS) {
      // The record stays usable for another attempt.
      std::lock_guard<std::mutex> Guard(LiveMutex);
      liveRecords().find(Interop)->second = false;
      return -1;
    }
  }
  {
    std::lock_guard<std::mutex> Guard(LiveMutex);
    liveRecords().erase(Interop);
  }
  freeRecord(Interop);
  return 0;
}
