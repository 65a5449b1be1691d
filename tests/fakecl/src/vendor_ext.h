// Vendor extension names, values and function types that the fake driver offers.
// Declared here on purpose: no vendor declarations are taken from system headers.
#pragma once

#define CL_TARGET_OPENCL_VERSION 300
#include <CL/cl.h>
#include <CL/cl_icd.h>

#include <cstdint>

namespace fakecl {

// Device attribute query (cl_tarno_device_attribute_query).
constexpr cl_uint DeviceAttrDeviceId = 0x4251;
constexpr cl_uint DeviceAttrNumSlices = 0x4252;
constexpr cl_uint DeviceAttrNumSubslicesPerSlice = 0x4253;
constexpr cl_uint DeviceAttrNumEUsPerSubslice = 0x4254;
constexpr cl_uint DeviceAttrNumThreadsPerEU = 0x4255;

// Unified shared memory (cl_tarno_unified_shared_memory).
constexpr cl_uint MemTypeUnknown = 0x4196;
constexpr cl_uint MemTypeHost = 0x4197;
constexpr cl_uint MemTypeDevice = 0x4198;
constexpr cl_uint MemTypeShared = 0x4199;
constexpr cl_uint MemAllocInfoType = 0x419A;
// Further pointer queries this fake answers (base, size and device of an allocation).
constexpr cl_uint MemAllocInfoBasePtr = 0x419B;
constexpr cl_uint MemAllocInfoSize = 0x419C;
constexpr cl_uint MemAllocInfoDevice = 0x419D;
constexpr cl_ulong MemAllocFlagsProperty = 0x10001;
constexpr cl_ulong MemAllocAllowLargeFlag = 0x800000;

// Command type of a unified-shared-memory copy, as its event reports it.
constexpr cl_command_type CommandUsmMemcpy = 0x4204;

// Kernel execution information for indirect accesses.
constexpr cl_uint KernelExecIndirectHost = 0x4200;
constexpr cl_uint KernelExecIndirectDevice = 0x4201;
constexpr cl_uint KernelExecIndirectShared = 0x4202;
constexpr cl_uint KernelExecUsmPtrs = 0x4203;

using MemPropertiesTy = cl_ulong;

extern "C" {
using GetMemAllocInfoFn = cl_int(CL_API_CALL *)(cl_context, const void *, cl_uint, size_t, void *, size_t *);
using HostMemAllocFn = void *(CL_API_CALL *)(cl_context, const MemPropertiesTy *, size_t, cl_uint, cl_int *);
using DeviceMemAllocFn = void *(CL_API_CALL *)(cl_context, cl_device_id, const MemPropertiesTy *, size_t, cl_uint,
                                               cl_int *);
using MemFreeFn = cl_int(CL_API_CALL *)(cl_context, void *);
using SetKernelArgMemPointerFn = cl_int(CL_API_CALL *)(cl_kernel, cl_uint, const void *);
using EnqueueMemcpyFn = cl_int(CL_API_CALL *)(cl_command_queue, cl_bool, void *, const void *, size_t, cl_uint,
                                              const cl_event *, cl_event *);
using SetProgramSpecializationConstantFn = cl_int(CL_API_CALL *)(cl_program, cl_uint, size_t, const void *);
using GetDeviceGlobalVariablePointerFn = cl_int(CL_API_CALL *)(cl_device_id, cl_program, const char *, size_t *,
                                                               void **);
using GetKernelSuggestedLocalWorkSizeFn = cl_int(CL_API_CALL *)(cl_command_queue, cl_kernel, cl_uint,
                                                                const size_t *, const size_t *, size_t *);
using IndirectAllocationOffsetsFn = cl_int(CL_API_CALL *)(void *, cl_uint, cl_ulong *);
}

// The vendor functions a platform offers by default, in the plugin's lookup order.
constexpr const char *VendorFunctionNames[] = {
    "clGetMemAllocInfoTARNO",
    "clHostMemAllocTARNO",
    "clDeviceMemAllocTARNO",
    "clSharedMemAllocTARNO",
    "clMemFreeTARNO",
    "clMemBlockingFreeTARNO",
    "clSetKernelArgMemPointerTARNO",
    "clEnqueueMemcpyTARNO",
    "clSetProgramSpecializationConstant",
    "clGetDeviceGlobalVariablePointerTARNO",
    "clGetKernelSuggestedLocalWorkSizeTARNO",
    "clVelkIndirectAllocationOffsets",
};
constexpr unsigned NumVendorFunctions = sizeof(VendorFunctionNames) / sizeof(VendorFunctionNames[0]);

} // namespace fakecl
