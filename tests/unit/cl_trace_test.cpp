// The OpenCL call trace at the debug level this binary was started with (CTest runs it at levels
// 1, 2 and 3, with the fake driver as the only platform). Real OpenCL calls go through the
// checked-call macros, and the whole output of each is compared line by line.
#include "child_process.h"
#include "frame/cl_call.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

int32_t levelOfThisRun() {
  const char *Text = std::getenv("LIBOMPTARGET_DEBUG");
  return Text ? static_cast<int32_t>(std::atol(Text)) : 0;
}

std::string prefix() {
  if (levelOfThisRun() <= 2)
    return "Target OPENCL RTL --> ";
  return "Target OPENCL RTL (pid:" + std::to_string(getpid()) + ")  --> ";
}

std::string hex(const void *Ptr) {
  char Buf[32];
  std::snprintf(Buf, sizeof(Buf), "0x%016" PRIxPTR, reinterpret_cast<uintptr_t>(Ptr));
  return Buf;
}

// Handles of the fake driver's one platform and GPU, made without the macros.
struct FakeObjects {
  cl_platform_id Platform = nullptr;
  cl_device_id Device = nullptr;
  cl_context Context = nullptr;
  cl_command_queue Queue = nullptr;
  clHostMemAllocTARNO_fn HostAlloc = nullptr;
  clMemFreeTARNO_fn MemFree = nullptr;
};

bool makeFakeObjects(FakeObjects &F) {
  cl_int Rc = CL_SUCCESS;
  if (clGetPlatformIDs(1, &F.Platform, nullptr) != CL_SUCCESS ||
      clGetDeviceIDs(F.Platform, CL_DEVICE_TYPE_GPU, 1, &F.Device, nullptr) != CL_SUCCESS)
    return false;
  F.Context = clCreateContext(nullptr, 1, &F.Device, nullptr, nullptr, &Rc);
  if (Rc != CL_SUCCESS)
    return false;
  F.Queue = clCreateCommandQueueWithProperties(F.Context, F.Device, nullptr, &Rc);
  F.HostAlloc = reinterpret_cast<clHostMemAllocTARNO_fn>(
      clGetExtensionFunctionAddressForPlatform(F.Platform, "clHostMemAllocTARNO"));
  F.MemFree = reinterpret_cast<clMemFreeTARNO_fn>(
      clGetExtensionFunctionAddressForPlatform(F.Platform, "clMemFreeTARNO"));
  return Rc == CL_SUCCESS && F.HostAlloc && F.MemFree;
}

} // namespace

TEST(CallTrace, CompleteOutputPerCall) {
  ASSERT_NE(std::getenv("OCL_ICD_VENDORS"), nullptr) << "run through CTest";
  FakeObjects F;
  ASSERT_TRUE(makeFakeObjects(F));

  cl_device_id FoundDevice = nullptr;
  char Name[64] = {};
  cl_int Rc = CL_SUCCESS;
  void *Mem = nullptr;
  const cl_device_type AboveBit32 = (cl_device_type(1) << 32) | CL_DEVICE_TYPE_GPU;

  struct Case {
    const char *Title;
    std::function<cl_int()> Call;
    cl_int Result;
    // The caller's and the callee's lines, written from start-up level 2 on.
    std::function<Lines()> Traced;
    const char *Error; // written at every non-zero level; null: none
  } Cases[] = {
      {"a handle", [&] { return CL_CALL("stop", clFinish, F.Queue); }, CL_SUCCESS,
       [&]() -> Lines {
         return {"CL_CALLER: clFinish ( F.Queue )", "CL_CALLEE: clFinish (",
                 "    command_queue = " + hex(F.Queue), ")"};
       },
       nullptr},
      {"a parameter name, a size and a null pointer",
       [&] {
         cl_int R = CL_CALL("__tgt_rtl_get_device_name", clGetDeviceInfo, F.Device, 0x102B,
                            sizeof(Name), Name, nullptr);
         EXPECT_NE(Name[0], '\0');
         return R;
       },
       CL_SUCCESS,
       [&]() -> Lines {
         return {"CL_CALLER: clGetDeviceInfo ( F.Device, 0x102B, sizeof(Name), Name, "
                 "nullptr )",
                 "CL_CALLEE: clGetDeviceInfo (",
                 "    device = " + hex(F.Device),
                 "    param_name = 4139",
                 "    param_value_size = 64",
                 "    param_value = " + hex(Name),
                 "    param_value_size_ret = 0x0000000000000000",
                 ")"};
       },
       nullptr},
      {"a 64-bit device type the driver refuses",
       [&] {
         return CL_CALL("__tgt_rtl_number_of_devices", clGetDeviceIDs, F.Platform, AboveBit32, 1,
                        &FoundDevice, nullptr);
       },
       CL_INVALID_DEVICE_TYPE,
       [&]() -> Lines {
         return {"CL_CALLER: clGetDeviceIDs ( F.Platform, AboveBit32, 1, &FoundDevice, nullptr )",
                 "CL_CALLEE: clGetDeviceIDs (",
                 "    platform = " + hex(F.Platform),
                 "    device_type = 4294967300",
                 "    num_entries = 1",
                 "    devices = " + hex(&FoundDevice),
                 "    num_devices = 0x0000000000000000",
                 ")"};
       },
       "Error: __tgt_rtl_number_of_devices:clGetDeviceIDs failed with error code -31, "
       "CL_INVALID_DEVICE_TYPE"},
      {"a function fetched by address, returning a pointer",
       [&] {
         Mem = CL_INVOKE_PTR_RC(clHostMemAllocTARNO, F.HostAlloc, Rc, F.Context, nullptr, 64, 0);
         EXPECT_NE(Mem, nullptr);
         return CL_CHECK_RC("dataAlloc", clHostMemAllocTARNO, Rc);
       },
       CL_SUCCESS,
       [&]() -> Lines {
         return {"CL_CALLER: clHostMemAllocTARNO ( F.Context, nullptr, 64, 0 )",
                 "CL_CALLEE: clHostMemAllocTARNO (",
                 "    context = " + hex(F.Context),
                 "    properties = 0x0000000000000000",
                 "    size = 64",
                 "    alignment = 0",
                 "    errcode_ret = " + hex(&Rc),
                 ")"};
       },
       nullptr},
      {"a function fetched by address, failing",
       [&] {
         return CL_CALL_PTR("__tgt_rtl_data_delete", clMemFreeTARNO, F.MemFree, nullptr, Mem);
       },
       CL_INVALID_CONTEXT,
       [&]() -> Lines {
         return {"CL_CALLER: clMemFreeTARNO ( nullptr, Mem )", "CL_CALLEE: clMemFreeTARNO (",
                 "    context = 0x0000000000000000", "    ptr = " + hex(Mem), ")"};
       },
       "Error: __tgt_rtl_data_delete:clMemFreeTARNO failed with error code -34, "
       "CL_INVALID_CONTEXT"},
      {"a logged call whose caller handles the result",
       [&] { return CL_CALL_LOGGED(clReleaseEvent, nullptr); }, CL_INVALID_EVENT,
       [&]() -> Lines {
         return {"CL_CALLER: clReleaseEvent ( nullptr )", "CL_CALLEE: clReleaseEvent (",
                 "    event = 0x0000000000000000", ")"};
       },
       nullptr},
      {"a function the layer does not list", [&] { return CL_CALL("stop", clFlush, F.Queue); },
       CL_SUCCESS, [&]() -> Lines { return {"CL_CALLER: clFlush ( F.Queue )"}; }, nullptr},
  };

  const int32_t Level = levelOfThisRun();
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Title);
    testing::internal::CaptureStderr();
    cl_int Result = C.Call();
    std::string Out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Result, C.Result);
    Lines Expected;
    if (Level >= 2)
      for (const std::string &Line : C.Traced())
        Expected.push_back(prefix() + Line);
    if (C.Error && Level != 0)
      Expected.push_back(prefix() + C.Error);
    EXPECT_EQ(splitLines(Out), Expected) << Out;
  }
  clReleaseCommandQueue(F.Queue);
  clReleaseContext(F.Context);
}
