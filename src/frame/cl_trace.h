// The tracing layer: a traced variant CLTR<name> of each function of cl_trace_list.inc, which logs
// the callee and every argument, then calls the real function and returns its result unchanged.
// The checked-call macros pick the variant at compile time from the function's name:
//   CL_TRACED(Fn)                 the variant of an imported function, or Fn itself when untraced
//   CL_TRACED_PTR(Name, Ptr, ...) calls the variant of a function fetched by address through Ptr,
//                                 or Ptr directly when untraced
#ifndef FRAME_CL_TRACE_H
#define FRAME_CL_TRACE_H

#include "device/extension_api.h"
#include "frame/opencl.h"

// Positions in the list of traced functions.
enum CLTraceId : int {
#define CL_TRACE_ARG(Name, Class)
#define CL_TRACE_IMPORT(Name, ...) CLTraceId_##Name,
#define CL_TRACE_BY_ADDRESS(Name, ...) CLTraceId_##Name,
#include "frame/cl_trace_list.inc"
#undef CL_TRACE_IMPORT
#undef CL_TRACE_BY_ADDRESS
  CLTraceCount
};

inline constexpr const char *CLTraceNames[] = {
#define CL_TRACE_IMPORT(Name, ...) #Name,
#define CL_TRACE_BY_ADDRESS(Name, ...) #Name,
#include "frame/cl_trace_list.inc"
#undef CL_TRACE_IMPORT
#undef CL_TRACE_BY_ADDRESS
#undef CL_TRACE_ARG
};
static_assert(sizeof(CLTraceNames) / sizeof(CLTraceNames[0]) == CLTraceCount);

// The position of a function in the list, or -1; evaluated by the compiler at each call site.
constexpr int findCLTrace(const char *Name) {
  for (int I = 0; I < CLTraceCount; ++I) {
    const char *A = CLTraceNames[I];
    const char *B = Name;
    while (*A && *A == *B) {
      ++A;
      ++B;
    }
    if (*A == *B)
      return I;
  }
  return -1;
}

// A function fetched by address bound to the variant that traces it: called with the function's
// own parameter types, so the call site's arguments convert exactly as in a direct call.
template <typename Fn> struct CLBoundTrace;
template <typename R, typename... P> struct CLBoundTrace<R(CL_API_CALL *)(P...)> {
  using Variant = R (*)(R(CL_API_CALL *)(P...), P...);
  Variant Traced;
  R(CL_API_CALL *Real)(P...);
  R operator()(P... Args) const { return Traced(Real, Args...); }
};

// A function missing from the list is not traced.
template <int Id> struct CLTraceOf {
  template <typename Fn> static Fn variant(Fn F) { return F; }
  template <typename Fn> static Fn bind(Fn Ptr) { return Ptr; }
};

#define CL_TRACE_IMPORT(Name, ...)                                                                 \
  extern decltype(&Name) const CLTR##Name;                                                         \
  template <> struct CLTraceOf<CLTraceId_##Name> {                                                 \
    static decltype(&Name) variant(decltype(&Name)) { return CLTR##Name; }                         \
  };
#define CL_TRACE_BY_ADDRESS(Name, ...)                                                             \
  extern CLBoundTrace<Name##_fn>::Variant const CLTR##Name;                                        \
  template <> struct CLTraceOf<CLTraceId_##Name> {                                                 \
    static CLBoundTrace<Name##_fn> bind(Name##_fn Ptr) { return {CLTR##Name, Ptr}; }               \
  };
#include "frame/cl_trace_list.inc"
#undef CL_TRACE_IMPORT
#undef CL_TRACE_BY_ADDRESS

#define CL_TRACED(Fn) CLTraceOf<findCLTrace(#Fn)>::variant(Fn)
#define CL_TRACED_PTR(Name, Ptr, ...) CLTraceOf<findCLTrace(#Name)>::bind(Ptr)(__VA_ARGS__)

#endif
