// No exception may cross the loader's C interface: every hook a layer installs, and every
// extension function it hands out, runs behind this barrier. What escapes a hook becomes
// CL_OUT_OF_HOST_MEMORY (through errcode_ret, with a null handle, for calls that create).
#pragma once

#include "opencl_api.h"

#include <tuple>
#include <type_traits>

template <typename Result, typename... Args> Result failedCall(Args... Arguments) {
  if constexpr (std::is_void_v<Result>) {
    return;
  } else if constexpr (std::is_same_v<Result, cl_int>) {
    return CL_OUT_OF_HOST_MEMORY;
  } else {
    if constexpr (sizeof...(Args) > 0) {
      auto Last = std::get<sizeof...(Args) - 1>(std::make_tuple(Arguments...));
      if constexpr (std::is_same_v<decltype(Last), cl_int *>)
        if (Last)
          *Last = CL_OUT_OF_HOST_MEMORY;
    }
    return Result{};
  }
}

template <auto Hook> struct Barrier;
template <typename Result, typename... Args, Result (*Hook)(Args...)> struct Barrier<Hook> {
  static Result CL_API_CALL call(Args... Arguments) noexcept {
    try {
      return Hook(Arguments...);
    } catch (...) {
      return failedCall<Result>(Arguments...);
    }
  }
};

// The hook as it goes into a dispatch table or an extension-function list.
template <auto Hook> constexpr auto guarded = &Barrier<Hook>::call;
