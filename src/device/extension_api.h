// The vendor extensions the plugin uses, declared here with their names and numbers; nothing of
// them comes from system headers.
#ifndef DEVICE_EXTENSION_API_H
#define DEVICE_EXTENSION_API_H

#include "frame/opencl.h"

#include <cstdint>

// Extension names searched in CL_DEVICE_EXTENSIONS.
constexpr const char *UnifiedSharedMemoryExtensionName = "cl_tarno_unified_shared_memory";
constexpr const char *DeviceAttributeQueryExtensionName = "cl_tarno_device_attribute_query";

// Device attributes of the attribute-query extension (clGetDeviceInfo parameters).
enum : cl_uint {
  CL_DEVICE_ID_TARNO = 0x4251,
  CL_DEVICE_NUM_SLICES_TARNO = 0x4252,
  CL_DEVICE_NUM_SUB_SLICES_PER_SLICE_TARNO = 0x4253,
  CL_DEVICE_NUM_EUS_PER_SUB_SLICE_TARNO = 0x4254,
  CL_DEVICE_NUM_THREADS_PER_EU_TARNO = 0x4255,
};

// Unified shared memory: the allocation-type query and its answers, the allocation property.
enum : cl_uint {
  CL_MEM_TYPE_UNKNOWN_TARNO = 0x4196,
  CL_MEM_TYPE_HOST_TARNO = 0x4197,
  CL_MEM_TYPE_DEVICE_TARNO = 0x4198,
  CL_MEM_TYPE_SHARED_TARNO = 0x4199,
  CL_MEM_ALLOC_TYPE_TARNO = 0x419A,
};
constexpr cl_ulong CL_MEM_ALLOC_FLAGS_TARNO = 0x10001;
constexpr cl_ulong CL_MEM_ALLOW_UNRESTRICTED_SIZE_TARNO = 0x800000;

// Kernel execution information: indirect access to each kind of allocation, and the pointer list.
enum : cl_uint {
  CL_KERNEL_EXEC_INFO_INDIRECT_HOST_ACCESS_TARNO = 0x4200,
  CL_KERNEL_EXEC_INFO_INDIRECT_DEVICE_ACCESS_TARNO = 0x4201,
  CL_KERNEL_EXEC_INFO_INDIRECT_SHARED_ACCESS_TARNO = 0x4202,
  CL_KERNEL_EXEC_INFO_USM_PTRS_TARNO = 0x4203,
};

using cl_mem_properties_tarno = cl_ulong;

// Signatures of the extension functions fetched per platform.
using clGetMemAllocInfoTARNO_fn = cl_int(CL_API_CALL *)(cl_context, const void *, cl_uint, size_t,
                                                        void *, size_t *);
using clHostMemAllocTARNO_fn = void *(CL_API_CALL *)(cl_context, const cl_mem_properties_tarno *,
                                                     size_t, cl_uint, cl_int *);
using clDeviceMemAllocTARNO_fn = void *(CL_API_CALL *)(cl_context, cl_device_id,
                                                       const cl_mem_properties_tarno *, size_t,
                                                       cl_uint, cl_int *);
using clSharedMemAllocTARNO_fn = clDeviceMemAllocTARNO_fn;
using clMemFreeTARNO_fn = cl_int(CL_API_CALL *)(cl_context, void *);
using clMemBlockingFreeTARNO_fn = clMemFreeTARNO_fn;
using clSetKernelArgMemPointerTARNO_fn = cl_int(CL_API_CALL *)(cl_kernel, cl_uint, const void *);
using clEnqueueMemcpyTARNO_fn = cl_int(CL_API_CALL *)(cl_command_queue, cl_bool, void *,
                                                      const void *, size_t, cl_uint,
                                                      const cl_event *, cl_event *);
using clSetProgramSpecializationConstant_fn = cl_int(CL_API_CALL *)(cl_program, cl_uint, size_t,
                                                                    const void *);
using clGetDeviceGlobalVariablePointerTARNO_fn = cl_int(CL_API_CALL *)(cl_device_id, cl_program,
                                                                       const char *, size_t *,
                                                                       void **);
using clGetKernelSuggestedLocalWorkSizeTARNO_fn = cl_int(CL_API_CALL *)(
    cl_command_queue, cl_kernel, cl_uint, const size_t *, const size_t *, size_t *);
using clVelkIndirectAllocationOffsets_fn = cl_int(CL_API_CALL *)(void *, cl_uint, cl_ulong *);

#endif
