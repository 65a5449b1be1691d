// The traced variants, generated from cl_trace_list.inc: one template does the work for every
// signature; each list line contributes the names and print classes of its arguments.
#include "frame/cl_trace.h"

#include "frame/debug.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <type_traits>
#include <utility>

namespace {

enum class CLArgClass { H, U, Z, L };

struct CLTraceArg {
  const char *Name;
  CLArgClass Class;
};

struct CLTraceSpec {
  const char *VariantName; // "CLTR" and the function's name
  const CLTraceArg *Args;
  size_t NumArgs;
};

template <typename T> constexpr bool fitsClass(CLArgClass Class) {
  constexpr bool Unsigned = std::is_integral_v<T> && std::is_unsigned_v<T>;
  switch (Class) {
  case CLArgClass::H:
    return std::is_pointer_v<T>;
  case CLArgClass::U:
    return Unsigned && sizeof(T) == 4;
  case CLArgClass::Z:
    return std::is_same_v<T, size_t>;
  case CLArgClass::L:
    return Unsigned && sizeof(T) == 8;
  }
  return false;
}

template <typename... P, size_t... I>
constexpr bool classesFit(const CLTraceSpec &Spec, std::index_sequence<I...>) {
  return (fitsClass<P>(Spec.Args[I].Class) && ...);
}

template <typename T> unsigned long long traceValue(T Value) {
  if constexpr (std::is_pointer_v<T>)
    return reinterpret_cast<uintptr_t>(Value);
  else
    return Value;
}

void writeArg(const CLTraceArg &Arg, unsigned long long Value) {
  switch (Arg.Class) {
  case CLArgClass::H:
    DP("    %s = 0x%0*llx\n", Arg.Name, 16, Value);
    break;
  case CLArgClass::U:
    DP("    %s = %u\n", Arg.Name, static_cast<unsigned>(Value));
    break;
  case CLArgClass::Z:
    DP("    %s = %zu\n", Arg.Name, static_cast<size_t>(Value));
    break;
  case CLArgClass::L:
    DP("    %s = %llu\n", Arg.Name, Value);
    break;
  }
}

void writeCall(const CLTraceSpec &Spec, const unsigned long long *Values) {
  if (StartupDebugLevel <= 1 || !readDebugLevel())
    return;
  DP("CL_CALLEE: %s (\n", Spec.VariantName + 4);
  for (size_t I = 0; I < Spec.NumArgs; ++I)
    writeArg(Spec.Args[I], Values[I]);
  DP(")\n");
}

template <typename Fn> struct CLTracer;
template <typename R, typename... P> struct CLTracer<R(CL_API_CALL *)(P...)> {
  using Real = R(CL_API_CALL *)(P...);

  template <const CLTraceSpec &Spec> static constexpr bool fits() {
    static_assert(Spec.NumArgs == sizeof...(P), "argument count differs from the declaration");
    static_assert(Spec.NumArgs != sizeof...(P) ||
                      classesFit<P...>(Spec, std::index_sequence_for<P...>()),
                  "print class does not fit the declared parameter type");
    return true;
  }

  template <const CLTraceSpec &Spec> static R callThrough(Real F, P... Args) {
    static_assert(fits<Spec>());
    const std::array<unsigned long long, sizeof...(P)> Values = {traceValue(Args)...};
    writeCall(Spec, Values.data());
    return F(Args...);
  }

  template <const CLTraceSpec &Spec, Real F> static R call(P... Args) {
    return callThrough<Spec>(F, Args...);
  }
};

#define CL_TRACE_ARG(Name, Class)                                                                  \
  CLTraceArg { #Name, CLArgClass::Class }
#define CL_TRACE_SPEC(Name, ...)                                                                   \
  constexpr CLTraceArg CLTRArgs##Name[] = {__VA_ARGS__};                                           \
  constexpr CLTraceSpec CLTRSpec##Name = {"CLTR" #Name, CLTRArgs##Name, std::size(CLTRArgs##Name)};
#define CL_TRACE_IMPORT(Name, ...) CL_TRACE_SPEC(Name, __VA_ARGS__)
#define CL_TRACE_BY_ADDRESS(Name, ...) CL_TRACE_SPEC(Name, __VA_ARGS__)
#include "frame/cl_trace_list.inc"
#undef CL_TRACE_IMPORT
#undef CL_TRACE_BY_ADDRESS

} // namespace

#define CL_TRACE_IMPORT(Name, ...)                                                                 \
  decltype(&Name) const CLTR##Name = &CLTracer<decltype(&Name)>::call<CLTRSpec##Name, &Name>;
#define CL_TRACE_BY_ADDRESS(Name, ...)                                                             \
  CLBoundTrace<Name##_fn>::Variant const CLTR##Name =                                              \
      &CLTracer<Name##_fn>::callThrough<CLTRSpec##Name>;
#include "frame/cl_trace_list.inc"
