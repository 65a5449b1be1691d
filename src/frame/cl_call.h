// The checked OpenCL call convention. Every OpenCL call of the plugin goes through one of:
//   CL_CALL(Op, clFn, args...)         result code checked; a failure is reported under Op's name
//   CL_CALL_WARN(Op, clFn, args...)    same, but a failure is only a warning and the caller goes on
//   CL_CALL_LOGGED(clFn, args...)      logged only; the caller handles the result itself
//   CL_INVOKE_RC(clFn, Rc, args...)    a handle-returning call; &Rc is passed as the last argument
//                                      and left out of the logged argument text
//   CL_CHECK_RC(Op, clFn, Rc)          checks the error code such a call wrote
// and the _PTR forms for extension functions fetched by address, which name the function and pass
// its pointer. Each yields the OpenCL result; the caller takes its own failure path on a non-zero
// result.
//
// With the start-up debug level below 2 a call costs one comparison and the call itself. At level 2
// and above the call site's own argument text (captured at compile time) is logged as
// "CL_CALLER" and the call goes through the tracing layer (cl_trace.h), which logs the callee and
// its argument values; a function the layer does not list is then called directly.
#ifndef FRAME_CL_CALL_H
#define FRAME_CL_CALL_H

#include "frame/cl_trace.h"
#include "frame/debug.h"
#include "frame/opencl.h"

void logCLCaller(const char *Function, const char *ArgumentText);
[[gnu::cold]] void reportCLError(const char *Operation, const char *Function, cl_int Rc);
[[gnu::cold]] void reportCLWarning(const char *Operation, const char *Function, cl_int Rc);

inline cl_int checkCLResult(cl_int Rc, const char *Operation, const char *Function) {
  if (__builtin_expect(Rc != CL_SUCCESS, 0))
    reportCLError(Operation, Function, Rc);
  return Rc;
}

inline cl_int warnCLResult(cl_int Rc, const char *Operation, const char *Function) {
  if (__builtin_expect(Rc != CL_SUCCESS, 0))
    reportCLWarning(Operation, Function, Rc);
  return Rc;
}

#define CL_INVOKE(Fn, ...)                                                                         \
  (StartupDebugLevel < 2                                                                           \
       ? Fn(__VA_ARGS__)                                                                           \
       : (logCLCaller(#Fn, "( " #__VA_ARGS__ " )"), CL_TRACED(Fn)(__VA_ARGS__)))

#define CL_INVOKE_RC(Fn, Rc, ...)                                                                  \
  (StartupDebugLevel < 2                                                                           \
       ? Fn(__VA_ARGS__, &Rc)                                                                      \
       : (logCLCaller(#Fn, "( " #__VA_ARGS__ " )"), CL_TRACED(Fn)(__VA_ARGS__, &Rc)))

#define CL_INVOKE_PTR(Name, Ptr, ...)                                                              \
  (StartupDebugLevel < 2                                                                           \
       ? (Ptr)(__VA_ARGS__)                                                                        \
       : (logCLCaller(#Name, "( " #__VA_ARGS__ " )"), CL_TRACED_PTR(Name, Ptr, __VA_ARGS__)))

#define CL_CALL(Op, Fn, ...) checkCLResult(CL_INVOKE(Fn, __VA_ARGS__), Op, #Fn)
#define CL_CALL_WARN(Op, Fn, ...) warnCLResult(CL_INVOKE(Fn, __VA_ARGS__), Op, #Fn)
#define CL_CALL_LOGGED(Fn, ...) CL_INVOKE(Fn, __VA_ARGS__)
#define CL_CHECK_RC(Op, Fn, Rc) checkCLResult(Rc, Op, #Fn)

#define CL_CALL_PTR(Op, Name, Ptr, ...) checkCLResult(CL_INVOKE_PTR(Name, Ptr, __VA_ARGS__), Op, #Name)
#define CL_CALL_PTR_LOGGED(Name, Ptr, ...) CL_INVOKE_PTR(Name, Ptr, __VA_ARGS__)
#define CL_INVOKE_PTR_RC(Name, Ptr, Rc, ...)                                                       \
  (StartupDebugLevel < 2                                                                           \
       ? (Ptr)(__VA_ARGS__, &Rc)                                                                   \
       : (logCLCaller(#Name, "( " #__VA_ARGS__ " )"), CL_TRACED_PTR(Name, Ptr, __VA_ARGS__, &Rc)))

#endif
