#include "direct_driver.h"

#include <cstdio>

namespace bench {

namespace {

template <class Fn> bool lookUp(const DirectDriver &D, const char *Name, Fn &Into) {
  Into = reinterpret_cast<Fn>(clGetExtensionFunctionAddressForPlatform(D.Platform, Name));
  if (!Into)
    std::fprintf(stderr, "offload_bench: the platform offers no %s\n", Name);
  return Into != nullptr;
}

} // namespace

bool openDirectDriver(HostPlugin &Plugin, int32_t DeviceId, DirectDriver &D) {
  D.Context = static_cast<cl_context>(Plugin.get_context_handle(DeviceId));
  if (!D.Context ||
      clGetContextInfo(D.Context, CL_CONTEXT_DEVICES, sizeof(D.Device), &D.Device, nullptr) !=
          CL_SUCCESS ||
      clGetDeviceInfo(D.Device, CL_DEVICE_PLATFORM, sizeof(D.Platform), &D.Platform, nullptr) !=
          CL_SUCCESS) {
    std::fprintf(stderr, "offload_bench: no context or device for device %d\n", DeviceId);
    return false;
  }
  cl_int Rc = CL_SUCCESS;
  D.Queue = clCreateCommandQueueWithProperties(D.Context, D.Device, nullptr, &Rc);
  if (Rc != CL_SUCCESS) {
    std::fprintf(stderr, "offload_bench: clCreateCommandQueueWithProperties failed (%d)\n", Rc);
    return false;
  }
  return lookUp(D, "clSetKernelArgMemPointerTARNO", D.SetArgPointer) &&
         lookUp(D, "clEnqueueMemcpyTARNO", D.Memcpy) &&
         lookUp(D, "clDeviceMemAllocTARNO", D.DeviceAlloc) &&
         lookUp(D, "clMemBlockingFreeTARNO", D.BlockingFree);
}

void closeDirectDriver(DirectDriver &D) {
  if (D.Queue)
    clReleaseCommandQueue(D.Queue);
  D.Queue = nullptr;
}

bool finish(cl_event Event) {
  bool Ok = clWaitForEvents(1, &Event) == CL_SUCCESS;
  clReleaseEvent(Event);
  return Ok;
}

} // namespace bench
