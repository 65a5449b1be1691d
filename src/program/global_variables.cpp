// Copies of named device globals between the device and the host, through the platform's
// global-variable and copy extensions.
#include "device/extension_api.h"
#include "frame/cl_call.h"
#include "frame/plugin_state.h"
#include "program/program.h"

namespace {

// The device address of a global of the program, or null (with a debug message when one of the
// extension functions is missing). A global the driver knows to be smaller than Size is refused:
// a record read from it would run past its end. Missing tells a global the driver does not know
// (or a null address) from a failed lookup.
void *findDeviceGlobal(int32_t DeviceId, cl_device_id Device, cl_program FinalProgram,
                       const char *Name, size_t Size, bool *Missing = nullptr) {
  auto GetGlobal = reinterpret_cast<clGetDeviceGlobalVariablePointerTARNO_fn>(
      DeviceInfo->extensionFunction(DeviceId, ExtGetDeviceGlobalVariablePointer));
  // Without the lookup nothing is known of the program's globals, not even whether they exist.
  if (Missing)
    *Missing = false;
  if (!GetGlobal) {
    DP("Error: %s is not available\n", "clGetDeviceGlobalVariablePointerTARNO");
    return nullptr;
  }
  size_t SizeDummy = 0; // the caller's size is copied: the driver's answer may be rounded up
  void *DevicePtr = nullptr;
  cl_int Rc = CL_CALL_PTR_LOGGED(clGetDeviceGlobalVariablePointerTARNO, GetGlobal, Device,
                                 FinalProgram, Name, &SizeDummy, &DevicePtr);
  if (Missing)
    *Missing = Rc == CL_INVALID_ARG_VALUE || (Rc == CL_SUCCESS && !DevicePtr);
  if (Rc != CL_SUCCESS)
    return nullptr;
  if (DevicePtr && SizeDummy != 0 && SizeDummy < Size) {
    DP("Warning: device global variable %s has %zu bytes, not %zu\n", Name, SizeDummy, Size);
    return nullptr;
  }
  return DevicePtr;
}

clEnqueueMemcpyTARNO_fn memcpyFunction(int32_t DeviceId, const char *Op) {
  auto Memcpy = reinterpret_cast<clEnqueueMemcpyTARNO_fn>(
      DeviceInfo->extensionFunction(DeviceId, ExtEnqueueMemcpy));
  if (!Memcpy)
    DP("Error: %s:%s is not available\n", Op, "clEnqueueMemcpyTARNO");
  return Memcpy;
}

} // namespace

int32_t OpenCLProgramTy::readGlobalVariable(const char *Name, size_t Size, void *HostPtr) {
  bool Missing = false;
  void *DevicePtr = findDeviceGlobal(DeviceId, Device, FinalProgram, Name, Size, &Missing);
  if (!DevicePtr) {
    DP("Warning: cannot read from device global variable %s\n", Name);
    return Missing ? GlobalMissing : -1;
  }
  clEnqueueMemcpyTARNO_fn Memcpy = memcpyFunction(DeviceId, "readGlobalVariable");
  if (!Memcpy)
    return -1;
  cl_command_queue CmdQueue = DeviceInfo->Queues[DeviceId];
  // Blocking copy. The blanks around some arguments belong to the logged argument text.
  if (CL_CALL_PTR("readGlobalVariable", clEnqueueMemcpyTARNO, Memcpy, CmdQueue, 1 , HostPtr,
                  DevicePtr, Size, 0 , nullptr , nullptr) != CL_SUCCESS)
    return -1;
  return 0;
}

int32_t OpenCLProgramTy::writeGlobalVariable(const char *Name, size_t Size, void *HostPtr) {
  bool Missing = false;
  void *DevicePtr = findDeviceGlobal(DeviceId, Device, FinalProgram, Name, Size, &Missing);
  if (!DevicePtr) {
    DP("Warning: cannot write to device global variable %s\n", Name);
    return Missing ? GlobalMissing : -1;
  }
  clEnqueueMemcpyTARNO_fn Memcpy = memcpyFunction(DeviceId, "writeGlobalVariable");
  if (!Memcpy)
    return -1;
  cl_command_queue CmdQueue = DeviceInfo->Queues[DeviceId];
  if (CL_CALL_PTR("writeGlobalVariable", clEnqueueMemcpyTARNO, Memcpy, CmdQueue, 1 , DevicePtr,
                  HostPtr, Size, 0 , nullptr , nullptr) != CL_SUCCESS)
    return -1;
  return 0;
}
