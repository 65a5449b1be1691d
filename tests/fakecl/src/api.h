// The driver's OpenCL functions, as placed in the dispatch table and the vendor function list.
#pragma once

#include "state.h"

namespace fakecl {

PlatformModel *platformOf(State &S, cl_platform_id P);
DeviceModel *deviceOf(State &S, cl_device_id D);
ContextObj *contextOf(State &S, cl_context C);
QueueObj *queueOf(State &S, cl_command_queue Q);
void retainContext(State &S, ContextObj &Ctx);
void releaseContext(State &S, ContextObj &Ctx);
void releaseQueue(State &S, QueueObj &Q);
void releaseEvent(State &S, EventObj &E);
void releaseProgram(State &S, ProgramObj &P);

using ContextNotify = void(CL_CALLBACK *)(const char *, const void *, size_t, void *);
using ProgramNotify = void(CL_CALLBACK *)(cl_program, void *);

// Platforms and devices.
cl_int CL_API_CALL GetPlatformInfo(cl_platform_id, cl_platform_info, size_t, void *, size_t *);
cl_int CL_API_CALL GetDeviceIDs(cl_platform_id, cl_device_type, cl_uint, cl_device_id *, cl_uint *);
cl_int CL_API_CALL GetDeviceInfo(cl_device_id, cl_device_info, size_t, void *, size_t *);
cl_int CL_API_CALL RetainDevice(cl_device_id);
cl_int CL_API_CALL ReleaseDevice(cl_device_id);
void *CL_API_CALL GetExtensionFunctionAddressForPlatform(cl_platform_id, const char *);

// Contexts and queues.
cl_context CL_API_CALL CreateContext(const cl_context_properties *, cl_uint, const cl_device_id *, ContextNotify,
                                     void *, cl_int *);
cl_context CL_API_CALL CreateContextFromType(const cl_context_properties *, cl_device_type, ContextNotify, void *,
                                             cl_int *);
cl_int CL_API_CALL RetainContext(cl_context);
cl_int CL_API_CALL ReleaseContext(cl_context);
cl_int CL_API_CALL GetContextInfo(cl_context, cl_context_info, size_t, void *, size_t *);
cl_command_queue CL_API_CALL CreateCommandQueueWithProperties(cl_context, cl_device_id, const cl_queue_properties *,
                                                              cl_int *);
cl_command_queue CL_API_CALL CreateCommandQueue(cl_context, cl_device_id, cl_command_queue_properties, cl_int *);
cl_int CL_API_CALL RetainCommandQueue(cl_command_queue);
cl_int CL_API_CALL ReleaseCommandQueue(cl_command_queue);
cl_int CL_API_CALL GetCommandQueueInfo(cl_command_queue, cl_command_queue_info, size_t, void *, size_t *);
cl_int CL_API_CALL Finish(cl_command_queue);
cl_int CL_API_CALL Flush(cl_command_queue);

// Events and clocks.
cl_int CL_API_CALL WaitForEvents(cl_uint, const cl_event *);
cl_int CL_API_CALL GetEventInfo(cl_event, cl_event_info, size_t, void *, size_t *);
cl_int CL_API_CALL GetEventProfilingInfo(cl_event, cl_profiling_info, size_t, void *, size_t *);
cl_int CL_API_CALL RetainEvent(cl_event);
cl_int CL_API_CALL ReleaseEvent(cl_event);
cl_int CL_API_CALL GetDeviceAndHostTimer(cl_device_id, cl_ulong *, cl_ulong *);
cl_int CL_API_CALL GetHostTimer(cl_device_id, cl_ulong *);
cl_int CL_API_CALL EnqueueMarkerWithWaitList(cl_command_queue, cl_uint, const cl_event *, cl_event *);
cl_int CL_API_CALL EnqueueBarrierWithWaitList(cl_command_queue, cl_uint, const cl_event *, cl_event *);

// Unified shared memory.
cl_int CL_API_CALL GetMemAllocInfo(cl_context, const void *, cl_uint, size_t, void *, size_t *);
void *CL_API_CALL HostMemAlloc(cl_context, const MemPropertiesTy *, size_t, cl_uint, cl_int *);
void *CL_API_CALL DeviceMemAlloc(cl_context, cl_device_id, const MemPropertiesTy *, size_t, cl_uint, cl_int *);
void *CL_API_CALL SharedMemAlloc(cl_context, cl_device_id, const MemPropertiesTy *, size_t, cl_uint, cl_int *);
cl_int CL_API_CALL MemFree(cl_context, void *);
cl_int CL_API_CALL MemBlockingFree(cl_context, void *);
cl_int CL_API_CALL EnqueueMemcpy(cl_command_queue, cl_bool, void *, const void *, size_t, cl_uint,
                                 const cl_event *, cl_event *);
cl_int CL_API_CALL IndirectAllocationOffsets(void *, cl_uint, cl_ulong *);
// Buffer SVM, on the same allocations (shared, without a device).
cl_int CL_API_CALL SetKernelArgSVMPointer(cl_kernel, cl_uint, const void *);
void *CL_API_CALL SVMAlloc(cl_context, cl_svm_mem_flags, size_t, cl_uint);
void CL_API_CALL SVMFree(cl_context, void *);
cl_int CL_API_CALL EnqueueSVMMemcpy(cl_command_queue, cl_bool, void *, const void *, size_t, cl_uint,
                                    const cl_event *, cl_event *);
using SvmFreeNotify = void(CL_CALLBACK *)(cl_command_queue, cl_uint, void *[], void *);
cl_int CL_API_CALL EnqueueSVMFree(cl_command_queue, cl_uint, void *[], SvmFreeNotify, void *, cl_uint,
                                  const cl_event *, cl_event *);

// Programs.
cl_program CL_API_CALL CreateProgramWithIL(cl_context, const void *, size_t, cl_int *);
cl_program CL_API_CALL CreateProgramWithSource(cl_context, cl_uint, const char **, const size_t *, cl_int *);
cl_program CL_API_CALL CreateProgramWithBinary(cl_context, cl_uint, const cl_device_id *, const size_t *,
                                               const unsigned char **, cl_int *, cl_int *);
cl_int CL_API_CALL BuildProgram(cl_program, cl_uint, const cl_device_id *, const char *, ProgramNotify, void *);
cl_int CL_API_CALL CompileProgram(cl_program, cl_uint, const cl_device_id *, const char *, cl_uint,
                                  const cl_program *, const char **, ProgramNotify, void *);
cl_program CL_API_CALL LinkProgram(cl_context, cl_uint, const cl_device_id *, const char *, cl_uint,
                                   const cl_program *, ProgramNotify, void *, cl_int *);
cl_int CL_API_CALL RetainProgram(cl_program);
cl_int CL_API_CALL ReleaseProgram(cl_program);
cl_int CL_API_CALL GetProgramInfo(cl_program, cl_program_info, size_t, void *, size_t *);
cl_int CL_API_CALL GetProgramBuildInfo(cl_program, cl_device_id, cl_program_build_info, size_t, void *, size_t *);
cl_int CL_API_CALL SetProgramSpecializationConstant(cl_program, cl_uint, size_t, const void *);
cl_int CL_API_CALL GetDeviceGlobalVariablePointer(cl_device_id, cl_program, const char *, size_t *, void **);

// Kernels.
cl_kernel CL_API_CALL CreateKernel(cl_program, const char *, cl_int *);
cl_int CL_API_CALL RetainKernel(cl_kernel);
cl_int CL_API_CALL ReleaseKernel(cl_kernel);
cl_int CL_API_CALL GetKernelInfo(cl_kernel, cl_kernel_info, size_t, void *, size_t *);
cl_int CL_API_CALL GetKernelArgInfo(cl_kernel, cl_uint, cl_kernel_arg_info, size_t, void *, size_t *);
cl_int CL_API_CALL GetKernelWorkGroupInfo(cl_kernel, cl_device_id, cl_kernel_work_group_info, size_t, void *,
                                          size_t *);
cl_int CL_API_CALL GetKernelSubGroupInfo(cl_kernel, cl_device_id, cl_kernel_sub_group_info, size_t, const void *,
                                         size_t, void *, size_t *);
cl_int CL_API_CALL SetKernelArg(cl_kernel, cl_uint, size_t, const void *);
cl_int CL_API_CALL SetKernelArgMemPointer(cl_kernel, cl_uint, const void *);
cl_int CL_API_CALL SetKernelExecInfo(cl_kernel, cl_kernel_exec_info, size_t, const void *);
cl_int CL_API_CALL EnqueueNDRangeKernel(cl_command_queue, cl_kernel, cl_uint, const size_t *, const size_t *,
                                        const size_t *, cl_uint, const cl_event *, cl_event *);
cl_int CL_API_CALL GetKernelSuggestedLocalWorkSize(cl_command_queue, cl_kernel, cl_uint, const size_t *,
                                                   const size_t *, size_t *);

} // namespace fakecl
