// Contexts and command queues.
#include "api.h"
#include "call.h"
#include "commands.h"
#include "info.h"

#include <algorithm>

namespace fakecl {

ContextObj *contextOf(State &S, cl_context C) {
  return isLive(S, C, ObjectKind::Context) ? C->Obj : nullptr;
}
QueueObj *queueOf(State &S, cl_command_queue Q) {
  return isLive(S, Q, ObjectKind::Queue) ? Q->Obj : nullptr;
}

void retainContext(State &, ContextObj &Ctx) { ++Ctx.RefCount; }

void releaseContext(State &S, ContextObj &Ctx) {
  if (--Ctx.RefCount)
    return;
  retire(S, &Ctx);
}

static cl_context makeContext(Call &C, const cl_context_properties *Properties, cl_uint NumDevices,
                              const cl_device_id *Devices, cl_int *ErrcodeRet) {
  if (cl_int E = C.fault())
    return C.fail<cl_context>(E, ErrcodeRet);
  if (!Devices || NumDevices == 0)
    return C.fail<cl_context>(CL_INVALID_VALUE, ErrcodeRet);
  cl_platform_id Platform = nullptr;
  std::vector<cl_context_properties> Props;
  for (const cl_context_properties *P = Properties; P && *P; P += 2) {
    if (P[0] == CL_CONTEXT_PLATFORM)
      Platform = reinterpret_cast<cl_platform_id>(P[1]);
    else if (P[0] != CL_CONTEXT_INTEROP_USER_SYNC)
      return C.fail<cl_context>(CL_INVALID_PROPERTY, ErrcodeRet);
    Props.push_back(P[0]);
    Props.push_back(P[1]);
  }
  if (Properties)
    Props.push_back(0);
  if (Platform && !platformOf(C.S, Platform))
    return C.fail<cl_context>(CL_INVALID_PLATFORM, ErrcodeRet);
  for (cl_uint I = 0; I < NumDevices; ++I) {
    DeviceModel *D = deviceOf(C.S, Devices[I]);
    if (!D || (Platform && &D->Platform->Handle != Platform))
      return C.fail<cl_context>(CL_INVALID_DEVICE, ErrcodeRet);
  }
  auto *Ctx = new ContextObj();
  Ctx->Handle = {dispatchTable(), Ctx};
  Ctx->Devices.assign(Devices, Devices + NumDevices);
  Ctx->Properties = Props;
  trackObject(C.S, ObjectKind::Context, &Ctx->Handle);
  return C.retHandle(&Ctx->Handle, CL_SUCCESS, ErrcodeRet);
}

cl_context CL_API_CALL CreateContext(const cl_context_properties *Properties, cl_uint NumDevices,
                                     const cl_device_id *Devices,
                                     void(CL_CALLBACK *Notify)(const char *, const void *, size_t, void *),
                                     void *UserData, cl_int *ErrcodeRet) {
  Call C("clCreateContext", PropList<cl_context_properties>{Properties}, NumDevices,
         HandleArray<cl_device_id>{Devices, Devices ? NumDevices : 0}, reinterpret_cast<void *>(Notify), UserData,
         ErrcodeRet);
  if (!Notify && UserData)
    return C.fail<cl_context>(CL_INVALID_VALUE, ErrcodeRet);
  return makeContext(C, Properties, NumDevices, Devices, ErrcodeRet);
}

cl_context CL_API_CALL CreateContextFromType(const cl_context_properties *Properties, cl_device_type Type,
                                             void(CL_CALLBACK *Notify)(const char *, const void *, size_t,
                                                                       void *),
                                             void *UserData, cl_int *ErrcodeRet) {
  Call C("clCreateContextFromType", PropList<cl_context_properties>{Properties}, Hex{Type},
         reinterpret_cast<void *>(Notify), UserData, ErrcodeRet);
  cl_platform_id Platform = nullptr;
  for (const cl_context_properties *P = Properties; P && *P; P += 2)
    if (P[0] == CL_CONTEXT_PLATFORM)
      Platform = reinterpret_cast<cl_platform_id>(P[1]);
  std::vector<cl_device_id> Devices;
  for (auto &P : C.S.Platforms)
    if (!Platform || &P->Handle == Platform)
      for (auto &D : P->Devices)
        if (Type == CL_DEVICE_TYPE_ALL || (D->Type & Type))
          Devices.push_back(&D->Handle);
  if (Devices.empty()) {
    if (cl_int E = C.fault())
      return C.fail<cl_context>(E, ErrcodeRet);
    return C.fail<cl_context>(CL_DEVICE_NOT_FOUND, ErrcodeRet);
  }
  return makeContext(C, Properties, static_cast<cl_uint>(Devices.size()), Devices.data(), ErrcodeRet);
}

cl_int CL_API_CALL RetainContext(cl_context Context) {
  Call C("clRetainContext", Context);
  if (cl_int E = C.fault())
    return C.ret(E);
  ContextObj *Ctx = contextOf(C.S, Context);
  if (!Ctx)
    return C.ret(CL_INVALID_CONTEXT);
  retainContext(C.S, *Ctx);
  return C.ret(CL_SUCCESS);
}

cl_int CL_API_CALL ReleaseContext(cl_context Context) {
  Call C("clReleaseContext", Context);
  if (cl_int E = C.fault())
    return C.ret(E);
  ContextObj *Ctx = contextOf(C.S, Context);
  if (!Ctx)
    return C.ret(CL_INVALID_CONTEXT);
  releaseContext(C.S, *Ctx);
  return C.ret(CL_SUCCESS);
}

cl_int CL_API_CALL GetContextInfo(cl_context Context, cl_context_info Param, size_t Size, void *Value,
                                  size_t *SizeRet) {
  Call C("clGetContextInfo", Context, Hex{Param}, Size, Value, SizeRet);
  if (cl_int E = C.fault())
    return C.ret(E);
  ContextObj *Ctx = contextOf(C.S, Context);
  if (!Ctx)
    return C.ret(CL_INVALID_CONTEXT);
  switch (Param) {
  case CL_CONTEXT_REFERENCE_COUNT:
    return C.ret(answerScalar<cl_uint>(Ctx->RefCount, Size, Value, SizeRet));
  case CL_CONTEXT_NUM_DEVICES:
    return C.ret(answerScalar<cl_uint>(static_cast<cl_uint>(Ctx->Devices.size()), Size, Value, SizeRet));
  case CL_CONTEXT_DEVICES:
    return C.ret(answerBytes(Ctx->Devices.data(), Ctx->Devices.size() * sizeof(cl_device_id), Size, Value,
                             SizeRet));
  case CL_CONTEXT_PROPERTIES:
    return C.ret(answerBytes(Ctx->Properties.data(), Ctx->Properties.size() * sizeof(cl_context_properties),
                             Size, Value, SizeRet));
  default:
    return C.ret(CL_INVALID_VALUE);
  }
}

static cl_command_queue makeQueue(Call &C, cl_context Context, cl_device_id Device,
                                  cl_command_queue_properties Flags, std::vector<cl_queue_properties> List,
                                  cl_int *ErrcodeRet) {
  ContextObj *Ctx = contextOf(C.S, Context);
  if (!Ctx)
    return C.fail<cl_command_queue>(CL_INVALID_CONTEXT, ErrcodeRet);
  if (std::find(Ctx->Devices.begin(), Ctx->Devices.end(), Device) == Ctx->Devices.end())
    return C.fail<cl_command_queue>(CL_INVALID_DEVICE, ErrcodeRet);
  const cl_command_queue_properties Known = CL_QUEUE_OUT_OF_ORDER_EXEC_MODE_ENABLE | CL_QUEUE_PROFILING_ENABLE;
  if (Flags & ~Known)
    return C.fail<cl_command_queue>(CL_INVALID_QUEUE_PROPERTIES, ErrcodeRet);
  auto *Q = new QueueObj();
  Q->Handle = {dispatchTable(), Q};
  Q->Context = Context;
  Q->Device = Device;
  Q->Properties = Flags;
  Q->PropertyList = std::move(List);
  retainContext(C.S, *Ctx); // a queue keeps its context alive, as a real driver does
  trackObject(C.S, ObjectKind::Queue, &Q->Handle);
  return C.retHandle(&Q->Handle, CL_SUCCESS, ErrcodeRet);
}

cl_command_queue CL_API_CALL CreateCommandQueueWithProperties(cl_context Context, cl_device_id Device,
                                                              const cl_queue_properties *Properties,
                                                              cl_int *ErrcodeRet) {
  Call C("clCreateCommandQueueWithProperties", Context, Device, PropList<cl_queue_properties>{Properties},
         ErrcodeRet);
  if (cl_int E = C.fault())
    return C.fail<cl_command_queue>(E, ErrcodeRet);
  cl_command_queue_properties Flags = 0;
  std::vector<cl_queue_properties> List;
  for (const cl_queue_properties *P = Properties; P && *P; P += 2) {
    if (P[0] == CL_QUEUE_PROPERTIES)
      Flags = P[1];
    else if (P[0] != CL_QUEUE_SIZE)
      return C.fail<cl_command_queue>(CL_INVALID_VALUE, ErrcodeRet);
    List.push_back(P[0]);
    List.push_back(P[1]);
  }
  if (Properties)
    List.push_back(0);
  return makeQueue(C, Context, Device, Flags, std::move(List), ErrcodeRet);
}

cl_command_queue CL_API_CALL CreateCommandQueue(cl_context Context, cl_device_id Device,
                                                cl_command_queue_properties Flags, cl_int *ErrcodeRet) {
  Call C("clCreateCommandQueue", Context, Device, Hex{Flags}, ErrcodeRet);
  if (cl_int E = C.fault())
    return C.fail<cl_command_queue>(E, ErrcodeRet);
  return makeQueue(C, Context, Device, Flags, {}, ErrcodeRet);
}

void releaseQueue(State &S, QueueObj &Q) {
  if (--Q.RefCount)
    return;
  runPending(S, Q); // a released queue still finishes its commands
  ContextObj *Ctx = Q.Context->Obj;
  retire(S, &Q);
  releaseContext(S, *Ctx);
}

cl_int CL_API_CALL RetainCommandQueue(cl_command_queue Queue) {
  Call C("clRetainCommandQueue", Queue);
  if (cl_int E = C.fault())
    return C.ret(E);
  QueueObj *Q = queueOf(C.S, Queue);
  if (!Q)
    return C.ret(CL_INVALID_COMMAND_QUEUE);
  ++Q->RefCount;
  ++Q->ApiRefs;
  return C.ret(CL_SUCCESS);
}

cl_int CL_API_CALL ReleaseCommandQueue(cl_command_queue Queue) {
  Call C("clReleaseCommandQueue", Queue);
  if (cl_int E = C.fault())
    return C.ret(E);
  QueueObj *Q = queueOf(C.S, Queue);
  if (!Q)
    return C.ret(CL_INVALID_COMMAND_QUEUE);
  // The last release flushes: the queue's commands run even while their events keep it alive.
  if (Q->ApiRefs > 0 && --Q->ApiRefs == 0)
    runPending(C.S, *Q);
  releaseQueue(C.S, *Q);
  return C.ret(CL_SUCCESS);
}

cl_int CL_API_CALL GetCommandQueueInfo(cl_command_queue Queue, cl_command_queue_info Param, size_t Size,
                                       void *Value, size_t *SizeRet) {
  Call C("clGetCommandQueueInfo", Queue, Hex{Param}, Size, Value, SizeRet);
  if (cl_int E = C.fault())
    return C.ret(E);
  QueueObj *Q = queueOf(C.S, Queue);
  if (!Q)
    return C.ret(CL_INVALID_COMMAND_QUEUE);
  switch (Param) {
  case CL_QUEUE_CONTEXT:
    return C.ret(answerScalar(Q->Context, Size, Value, SizeRet));
  case CL_QUEUE_DEVICE:
    return C.ret(answerScalar(Q->Device, Size, Value, SizeRet));
  case CL_QUEUE_REFERENCE_COUNT:
    return C.ret(answerScalar<cl_uint>(Q->RefCount, Size, Value, SizeRet));
  case CL_QUEUE_PROPERTIES:
    return C.ret(answerScalar(Q->Properties, Size, Value, SizeRet));
  case CL_QUEUE_PROPERTIES_ARRAY:
    return C.ret(answerBytes(Q->PropertyList.data(), Q->PropertyList.size() * sizeof(cl_queue_properties), Size,
                             Value, SizeRet));
  default:
    return C.ret(CL_INVALID_VALUE);
  }
}

cl_int CL_API_CALL Finish(cl_command_queue Queue) {
  Call C("clFinish", Queue);
  if (cl_int E = C.fault())
    return C.ret(E);
  QueueObj *Q = queueOf(C.S, Queue);
  if (!Q)
    return C.ret(CL_INVALID_COMMAND_QUEUE);
  runPending(C.S, *Q);
  return C.ret(CL_SUCCESS);
}

cl_int CL_API_CALL Flush(cl_command_queue Queue) {
  Call C("clFlush", Queue);
  if (cl_int E = C.fault())
    return C.ret(E);
  return C.ret(queueOf(C.S, Queue) ? CL_SUCCESS : CL_INVALID_COMMAND_QUEUE);
}

} // namespace fakecl
