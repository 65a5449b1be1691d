#include "interop/interop_record.h"

#include "frame/cl_call.h"
#include "frame/plugin_state.h"

#include <mutex>
#include <new>
#include <set>

namespace {

constexpr intptr_t OpenCLForeignRuntime = 3;
constexpr intptr_t Vendor = 8;
const char *const ForeignRuntimeName = "opencl";
const char *const VendorName = "tarno";

// The records handed out and not yet released. The host owns them, but a pointer it passes back
// is only read once it is known to be one of them.
std::mutex LiveMutex;
std::set<const InteropRecord *> &liveRecords() {
  static std::set<const InteropRecord *> Records;
  return Records;
}

void reportInvalid(const InteropRecord *Interop) {
  DP("Invalid/inconsistent OpenMP interop 0x%0*llx\n", 16,
     static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(Interop)));
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
  std::lock_guard<std::mutex> Guard(LiveMutex);
  liveRecords().insert(Record);
  return Record;
}

bool isLiveInterop(const InteropRecord *Interop) {
  bool Live = false;
  if (Interop) {
    std::lock_guard<std::mutex> Guard(LiveMutex);
    Live = liveRecords().count(Interop) != 0;
  }
  if (!Live)
    reportInvalid(Interop);
  return Live;
}

bool isValidInterop(int32_t DeviceId, const InteropRecord *Interop) {
  if (!isLiveInterop(Interop))
    return false;
  if (static_cast<int64_t>(Interop->device_num) == static_cast<int64_t>(DeviceId) &&
      Interop->fr_id == OpenCLForeignRuntime)
    return true;
  reportInvalid(Interop);
  return false;
}

int32_t finishInteropQueue(const InteropRecord *Interop, const char *Op) {
  if (!Interop->targetsync)
    return 0;
  cl_command_queue CmdQueue = static_cast<cl_command_queue>(Interop->targetsync);
  return CL_CALL(Op, clFinish, CmdQueue) == CL_SUCCESS ? 0 : -1;
}

int32_t releaseInteropRecord(int32_t DeviceId, InteropRecord *Interop) {
  constexpr const char *Op = "__tgt_rtl_release_interop";
  if (!isValidInterop(DeviceId, Interop))
    return -1;
  {
    // Claimed first, so that a second release of the same record is refused.
    std::lock_guard<std::mutex> Guard(LiveMutex);
    if (liveRecords().erase(Interop) == 0) {
      reportInvalid(Interop);
      return -1;
    }
  }
  if (Interop->targetsync) {
    cl_command_queue CmdQueue = static_cast<cl_command_queue>(Interop->targetsync);
    if (CL_CALL(Op, clFinish, CmdQueue) != CL_SUCCESS ||
        CL_CALL(Op, clReleaseCommandQueue, CmdQueue) != CL_SUCCESS) {
      // The record stays usable for another attempt.
      std::lock_guard<std::mutex> Guard(LiveMutex);
      liveRecords().insert(Interop);
      return -1;
    }
  }
  freeRecord(Interop);
  return 0;
}
