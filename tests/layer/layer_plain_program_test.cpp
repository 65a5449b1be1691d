// A plain OpenCL program (no shared-memory or SPIR-V use) behaves the same without the layers,
// over the shared-memory layer alone and under both: the same results and error codes, its own
// SVM pointer lists reach the driver, and its commands and releases reach the driver in the same
// order without anything waiting on the host. Each run is a child process over the fake driver.
#include "child_process.h"
#include "fakecl_client.h"

#define CL_TARGET_OPENCL_VERSION 300
#include <CL/cl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

constexpr const char *kLayout = R"(
platform version="OpenCL 3.0 svm-only" name=svm-only
device type=gpu name=svm-gpu extensions="cl_khr_fp64"
devinfo 0x1053 u64 3
devinfo 0x105B unset
deferred on
)";

// The fake's kernel body prints each launch's pointer list by the names the program gave them.
std::map<void *, std::string> *gNames;
void printPointerList(const fakecl_launch *Launch, void *) {
  std::printf("launch %s list:", Launch->kernel_name);
  for (uint32_t I = 0; I < Launch->num_indirect_pointers; ++I)
    std::printf(" %s", (*gNames)[Launch->indirect_pointers[I]].c_str());
  std::printf("\n");
}

cl_int status(cl_event Event) {
  cl_int Status = -1;
  clGetEventInfo(Event, CL_EVENT_COMMAND_EXECUTION_STATUS, sizeof(Status), &Status, nullptr);
  return Status;
}

// The program; everything it sees, and the driver calls that run or release work, on stdout.
int plainProgram() {
  fakecl::Client Fake(FAKECL_PATH);
  Fake.configure(kLayout);
  cl_platform_id Platform = nullptr;
  cl_device_id Device = nullptr;
  clGetPlatformIDs(1, &Platform, nullptr);
  clGetDeviceIDs(Platform, CL_DEVICE_TYPE_ALL, 1, &Device, nullptr);
  cl_int Error = CL_SUCCESS;
  cl_context Context = clCreateContext(nullptr, 1, &Device, nullptr, nullptr, &Error);
  cl_command_queue Queue = clCreateCommandQueueWithProperties(Context, Device, nullptr, &Error);
  const char *Source = "FAKECL-MODULE\nkernel k args=1 argtypes=int* argnames=data\nend";
  cl_program Program = clCreateProgramWithSource(Context, 1, &Source, nullptr, &Error);
  std::printf("build %d\n", clBuildProgram(Program, 0, nullptr, nullptr, nullptr, nullptr));
  clCreateKernel(Program, "missing", &Error);
  std::printf("missing kernel %d\n", Error);
  cl_kernel Kernel = clCreateKernel(Program, "k", &Error);
  std::printf("kernel %d, bad argument %d\n", Error, clSetKernelArg(Kernel, 5, 4, &Error));
  std::map<void *, std::string> Names;
  gNames = &Names;
  void *Data = clSVMAlloc(Context, CL_MEM_READ_WRITE, 64, 0);
  void *Other = clSVMAlloc(Context, CL_MEM_READ_WRITE, 64, 0);
  Names[Data] = "data";
  Names[Other] = "other";
  Fake.setKernelBody("k", printPointerList);
  Fake.configure("record on");
  Fake.resetLog();
  std::printf("argument %d\n", clSetKernelArgSVMPointer(Kernel, 0, Data));
  void *List[] = {Other, Data};
  std::printf("list %d\n", clSetKernelExecInfo(Kernel, CL_KERNEL_EXEC_INFO_SVM_PTRS,
                                                sizeof(List), List));
  size_t Global = 4;
  cl_event Ran = nullptr, Marker = nullptr;
  std::printf("launch %d\n",
              clEnqueueNDRangeKernel(Queue, Kernel, 1, nullptr, &Global, nullptr, 0, nullptr, &Ran));
  std::printf("launch queued %d\n", status(Ran) != CL_COMPLETE);
  std::printf("empty list %d\n",
              clSetKernelExecInfo(Kernel, CL_KERNEL_EXEC_INFO_SVM_PTRS, 0, List));
  std::printf("launch %d\n", clEnqueueNDRangeKernel(Queue, Kernel, 1, nullptr, &Global, nullptr,
                                                    1, &Ran, nullptr));
  std::printf("marker %d\n", clEnqueueMarkerWithWaitList(Queue, 1, &Ran, &Marker));
  std::printf("copy %d\n", clEnqueueSVMMemcpy(Queue, CL_FALSE, Other, Data, 64, 0, nullptr,
                                               nullptr));
  // Releases while the work is still queued: nothing may wait for it.
  std::printf("releases %d %d %d\n", clReleaseKernel(Kernel), clReleaseProgram(Program),
              clReleaseCommandQueue(Queue));
  std::printf("marker complete %d, wait %d\n", status(Marker) == CL_COMPLETE,
              clWaitForEvents(1, &Marker));
  clReleaseEvent(Ran);
  clReleaseEvent(Marker);
  clSVMFree(Context, Data);
  clSVMFree(Context, Other);
  std::printf("context %d\n", clReleaseContext(Context));
  for (const std::string &Line : Fake.calls()) {
    std::string Name = Line.substr(0, Line.find('('));
    bool Work = Name.find("Enqueue") != std::string::npos || Name == "clFinish" ||
                Name == "clWaitForEvents" || Name.find("Release") != std::string::npos ||
                Name.find("SVM") != std::string::npos || Name == "clSetKernelExecInfo";
    if (Work)
      std::printf("driver: %s%s\n", Name.c_str(), Line.substr(Line.rfind(" = ")).c_str());
  }
  std::printf("left: %zu\n", Fake.liveObjects("all"));
  return 0;
}

std::string run(const char *Layers) {
  EnvironmentList Env = {{"OCL_ICD_VENDORS", FAKECL_PATH}, {"OCL_ICD_PLATFORM_SORT", "none"}};
  if (*Layers)
    Env.emplace_back("OPENCL_LAYERS", Layers);
  ChildResult Result = runInChild(Env, plainProgram);
  EXPECT_EQ(Result.ExitStatus, 0) << Layers << "\n" << Result.Stderr;
  return Result.Stdout;
}

TEST(PlainProgram, BehavesTheSameWithAndWithoutTheLayers) {
  std::string Alone = run("");
  // The program itself works on the fake: its own lists reach the driver, the second launch
  // with the list cleared.
  EXPECT_NE(Alone.find("launch k list: other data\n"), std::string::npos) << Alone;
  EXPECT_NE(Alone.find("launch k list:\n"), std::string::npos) << Alone;
  EXPECT_NE(Alone.find("left: 0"), std::string::npos) << Alone;
  EXPECT_EQ(run(USM_LAYER_PATH), Alone);
  EXPECT_EQ(run(LAYER_PATHS), Alone);
}

} // namespace
