// An OpenCL layer that only measures: placed directly above the driver, it adds up the wall time
// spent inside the driver's program, kernel, memory and command calls. The benchmark reads the sum
// through offload_bench_driver_ns to split a program load into the driver's share and the share of
// the plugin and the layers above.
#include <CL/cl_icd.h>
#include <CL/cl_layer.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <ctime>

namespace {

cl_icd_dispatch Next;  // the level below
cl_icd_dispatch Table; // what the level above calls
std::atomic<uint64_t> DriverNs{0};

uint64_t nowNs() {
  timespec T;
  clock_gettime(CLOCK_MONOTONIC, &T);
  return static_cast<uint64_t>(T.tv_sec) * 1000000000u + static_cast<uint64_t>(T.tv_nsec);
}

template <class Fn, Fn cl_icd_dispatch::*Slot> struct Timed;
template <class R, class... A, R(CL_API_CALL *cl_icd_dispatch::*Slot)(A...)>
struct Timed<R(CL_API_CALL *)(A...), Slot> {
  static R CL_API_CALL call(A... Args) {
    uint64_t Start = nowNs();
    R Result = (Next.*Slot)(Args...);
    DriverNs.fetch_add(nowNs() - Start, std::memory_order_relaxed);
    return Result;
  }
};

#define BENCH_TIME(F) Table.F = &Timed<decltype(cl_icd_dispatch::F), &cl_icd_dispatch::F>::call;

void installTimers() {
  BENCH_TIME(clCreateProgramWithSource)
  BENCH_TIME(clCreateProgramWithBinary)
  BENCH_TIME(clCreateProgramWithIL)
  BENCH_TIME(clBuildProgram)
  BENCH_TIME(clCompileProgram)
  BENCH_TIME(clLinkProgram)
  BENCH_TIME(clGetProgramInfo)
  BENCH_TIME(clGetProgramBuildInfo)
  BENCH_TIME(clReleaseProgram)
  BENCH_TIME(clCreateKernel)
  BENCH_TIME(clCreateKernelsInProgram)
  BENCH_TIME(clGetKernelInfo)
  BENCH_TIME(clGetKernelWorkGroupInfo)
  BENCH_TIME(clGetKernelArgInfo)
  BENCH_TIME(clSetKernelArg)
  BENCH_TIME(clSetKernelArgSVMPointer)
  BENCH_TIME(clSetKernelExecInfo)
  BENCH_TIME(clReleaseKernel)
  BENCH_TIME(clSVMAlloc)
  BENCH_TIME(clEnqueueSVMMemcpy)
  BENCH_TIME(clEnqueueSVMMemFill)
  BENCH_TIME(clEnqueueSVMMap)
  BENCH_TIME(clEnqueueSVMUnmap)
  BENCH_TIME(clEnqueueNDRangeKernel)
  BENCH_TIME(clWaitForEvents)
  BENCH_TIME(clFinish)
}

} // namespace

extern "C" {

uint64_t offload_bench_driver_ns(void) { return DriverNs.load(std::memory_order_relaxed); }

CL_API_ENTRY cl_int CL_API_CALL clGetLayerInfo(cl_layer_info Param, size_t Size, void *Value,
                                               size_t *SizeRet) {
  if (Param != CL_LAYER_API_VERSION)
    return CL_INVALID_VALUE;
  cl_layer_api_version Version = CL_LAYER_API_VERSION_100;
  if (Value) {
    if (Size < sizeof(Version))
      return CL_INVALID_VALUE;
    std::memcpy(Value, &Version, sizeof(Version));
  }
  if (SizeRet)
    *SizeRet = sizeof(Version);
  return CL_SUCCESS;
}

CL_API_ENTRY cl_int CL_API_CALL clInitLayer(cl_uint NumEntries, const cl_icd_dispatch *Target,
                                            cl_uint *NumEntriesRet,
                                            const cl_icd_dispatch **LayerDispatchRet) {
  const cl_uint Entries = sizeof(cl_icd_dispatch) / sizeof(void *);
  if (!Target || !NumEntriesRet || !LayerDispatchRet || NumEntries < Entries)
    return CL_INVALID_VALUE;
  std::memcpy(&Next, Target, sizeof(Next));
  Table = Next;
  installTimers();
  *NumEntriesRet = Entries;
  *LayerDispatchRet = &Table;
  return CL_SUCCESS;
}

} // extern "C"
