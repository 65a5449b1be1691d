// The unified-shared-memory extension this layer provides: names, numeric values and function
// types, declared here so that no vendor header is needed.
#pragma once

#include "device_caps.h"

// clGetMemAllocInfoTARNO parameters and the answers of the type query.
constexpr cl_uint kMemAllocTypeQuery = 0x419A;
constexpr cl_uint kMemAllocBaseQuery = 0x419B;
constexpr cl_uint kMemAllocSizeQuery = 0x419C;
constexpr cl_uint kMemAllocDeviceQuery = 0x419D;
constexpr cl_uint kMemTypeUnknown = 0x4196;
constexpr cl_uint kMemTypeHost = 0x4197;
constexpr cl_uint kMemTypeDevice = 0x4198;
constexpr cl_uint kMemTypeShared = 0x4199;

// Allocation property list entry: memory flags, and the flag that permits an allocation above
// the device's single-allocation limit.
constexpr cl_ulong kAllocPropertyFlags = 0x10001;
constexpr cl_ulong kAllocFlagAllowLarge = 0x800000;

// clSetKernelExecInfo parameters: indirect access to host, device and shared allocations, and the
// list of pointers a kernel may use indirectly.
constexpr cl_uint kExecInfoIndirectHost = 0x4200;
constexpr cl_uint kExecInfoIndirectDevice = 0x4201;
constexpr cl_uint kExecInfoIndirectShared = 0x4202;
constexpr cl_uint kExecInfoUsmPtrs = 0x4203;

using cl_mem_properties_tarno = cl_ulong;

extern "C" {
void *CL_API_CALL layerHostMemAlloc(cl_context context, const cl_mem_properties_tarno *properties,
                                    size_t size, cl_uint alignment, cl_int *errcode_ret);
void *CL_API_CALL layerDeviceMemAlloc(cl_context context, cl_device_id device,
                                      const cl_mem_properties_tarno *properties, size_t size,
                                      cl_uint alignment, cl_int *errcode_ret);
void *CL_API_CALL layerSharedMemAlloc(cl_context context, cl_device_id device,
                                      const cl_mem_properties_tarno *properties, size_t size,
                                      cl_uint alignment, cl_int *errcode_ret);
cl_int CL_API_CALL layerMemFree(cl_context context, void *ptr);
cl_int CL_API_CALL layerMemBlockingFree(cl_context context, void *ptr);
cl_int CL_API_CALL layerGetMemAllocInfo(cl_context context, const void *ptr, cl_uint param_name,
                                        size_t param_value_size, void *param_value,
                                        size_t *param_value_size_ret);
cl_int CL_API_CALL layerSetKernelArgMemPointer(cl_kernel kernel, cl_uint arg_index,
                                               const void *arg_value);
cl_int CL_API_CALL layerEnqueueMemcpy(cl_command_queue queue, cl_bool blocking, void *dst_ptr,
                                      const void *src_ptr, size_t size,
                                      cl_uint num_events_in_wait_list,
                                      const cl_event *event_wait_list, cl_event *event);
cl_int CL_API_CALL layerGetKernelSuggestedLocalWorkSize(cl_command_queue queue, cl_kernel kernel,
                                                        cl_uint work_dim,
                                                        const size_t *global_work_offset,
                                                        const size_t *global_work_size,
                                                        size_t *suggested_local_work_size);
}
