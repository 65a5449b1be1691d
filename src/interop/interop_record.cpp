#include "interop/interop_record.h"

#include "frame/cl_call.h"
#include "frame/device_check.h"
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
// The host owns them; a pointer it passes back is read only under the lock and only once it is
// known to be one of them, so a concurrent release cannot free it while its fields are copied.
// What the host then does with the copied queue is its own affair: using a record while releasing
// it remains the host's job to avoid.
struct LiveRegistry {
  std::mutex Mutex;
  std::map<const InteropRecord *, bool> Records;
};

// Never destroyed: a host global or exit handler may release records after this library's
// statics are gone.
LiveRegistry &liveRegistry() {
  static LiveRegistry *Registry = new LiveRegistry();
  return *Registry;
}

void reportInvalid(const InteropRecord *Interop) {
  DP("Invalid/inconsistent OpenMP interop 0x%0*llx\n", 16,
     static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(Interop)));
}

// Whether Interop is a live record not being released, made for *DeviceId when that is given;
// with Claim it is then marked as being released. Out receives its fields, copied under the lock.
bool checkRecord(const InteropRecord *Interop, const int32_t *DeviceId, bool Claim,
                 InteropSnapshot &Out) {
  bool Valid = false;
  if (Interop) {
    LiveRegistry &Live = liveRegistry();
    std::lock_guard<std::mutex> Guard(Live.Mutex);
    auto It = Live.Records.find(Interop);
    Valid = It != Live.Records.end() && !It->second &&
            (!DeviceId || (int64_t(Interop->device_num) == int64_t(*DeviceId) &&
                           Interop->fr_id == OpenCLForeignRuntime));
    if (Valid && Claim)
      It->second = true;
    if (Valid) {
      Out.TargetSync = static_cast<cl_command_queue>(Interop->targetsync);
      Out.HasPluginProperty = Interop->plugin_property != nullptr;
    }
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
  if (!checkDeviceId(DeviceId))
    return nullptr;
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
    LiveRegistry &Live = liveRegistry();
    std::lock_guard<std::mutex> Guard(Live.Mutex);
    Live.Records.emplace(Record, false);
  } catch (const std::bad_alloc &) {
    if (Record->targetsync)
      CL_CALL_LOGGED(clReleaseCommandQueue, static_cast<cl_command_queue>(Record->targetsync));
    freeRecord(Record);
    return nullptr;
  }
  return Record;
}

bool snapshotInterop(const InteropRecord *Interop, const int32_t *DeviceId, InteropSnapshot &Out) {
  return checkRecord(Interop, DeviceId, false, Out);
}

int32_t finishInteropQueue(cl_command_queue CmdQueue, const char *Op) {
  if (!CmdQueue)
    return 0;
  return CL_CALL(Op, clFinish, CmdQueue) == CL_SUCCESS ? 0 : -1;
}

int32_t releaseInteropRecord(int32_t DeviceId, InteropRecord *Interop) {
  constexpr const char *Op = "__tgt_rtl_release_interop";
  // Claimed, so that another release of the same record meanwhile is refused and the record can
  // be read without the lock until it is freed.
  InteropSnapshot Record;
  if (!checkRecord(Interop, &DeviceId, true, Record))
    return -1;
  LiveRegistry &Live = liveRegistry();
  if (Record.TargetSync) {
    cl_command_queue CmdQueue = Record.TargetSync;
    if (CL_CALL(Op, clFinish, CmdQueue) != CL_SUCCESS ||
        CL_CALL(Op, clReleaseCommandQueue, CmdQueue) != CL_SUCCESS) {
      // The record stays usable for another attempt.
      std::lock_guard<std::mutex> Guard(Live.Mutex);
      Live.Records.find(Interop)->second = false;
      return -1;
    }
  }
  {
    std::lock_guard<std::mutex> Guard(Live.Mutex);
    Live.Records.erase(Interop);
  }
  freeRecord(Interop);
  return 0;
}
