// One driver call: takes the state lock, formats the arguments for the call record, applies the
// fault rules, and records the call with its result when it returns.
#pragma once

#include "state.h"

#include <string>
#include <type_traits>

namespace fakecl {

struct Hex {
  unsigned long long Value;
};
struct Str {
  const char *Text;
};
// A zero-terminated property list (context, queue or allocation properties).
template <class T> struct PropList {
  const T *Items;
};
struct SizeArray {
  const size_t *Items;
  size_t Count;
};
template <class T> struct HandleArray {
  const T *Items;
  size_t Count;
};

std::string formatPointer(const void *P);

inline void formatArg(std::string &Out, Hex H) {
  if (H.Value == 0) {
    Out += '0';
    return;
  }
  char Buf[32];
  std::snprintf(Buf, sizeof(Buf), "0x%llx", H.Value);
  Out += Buf;
}
inline void formatArg(std::string &Out, Str S) {
  if (!S.Text) {
    Out += "null";
    return;
  }
  Out += '"';
  Out += S.Text;
  Out += '"';
}
template <class T> void formatArg(std::string &Out, PropList<T> L) {
  if (!L.Items) {
    Out += "null";
    return;
  }
  Out += '[';
  for (const T *P = L.Items;; ++P) {
    formatArg(Out, Hex{static_cast<unsigned long long>(*P)});
    if (*P == 0)
      break;
    Out += ", ";
  }
  Out += ']';
}
inline void formatArg(std::string &Out, SizeArray A) {
  if (!A.Items) {
    Out += "null";
    return;
  }
  Out += '[';
  for (size_t I = 0; I < A.Count; ++I) {
    if (I)
      Out += ", ";
    Out += std::to_string(A.Items[I]);
  }
  Out += ']';
}
template <class T> void formatArg(std::string &Out, HandleArray<T> A) {
  if (!A.Items) {
    Out += "null";
    return;
  }
  Out += '[';
  for (size_t I = 0; I < A.Count; ++I) {
    if (I)
      Out += ", ";
    Out += formatPointer(A.Items[I]);
  }
  Out += ']';
}
template <class T> void formatArg(std::string &Out, T *P) { Out += formatPointer(P); }
template <class T> std::enable_if_t<std::is_integral<T>::value> formatArg(std::string &Out, T V) {
  Out += std::to_string(V);
}

class Call {
public:
  template <class... Args>
  Call(const char *Name, const Args &...A) : S(state()), Guard(S.Mutex), Name(Name) {
    if (!S.Recording)
      return;
    Text = Name;
    Text += '(';
    bool First = true;
    ((Text += First ? "" : ", ", First = false, formatArg(Text, A)), ...);
    Text += ')';
  }
  Call(const Call &) = delete;
  Call &operator=(const Call &) = delete;

  // The error of a fault rule that fires for this call, or CL_SUCCESS.
  cl_int fault() { return takeFault(S, Name); }

  cl_int ret(cl_int Error) {
    if (S.Recording)
      recordCall(S, Text + " = " + std::to_string(Error));
    return Error;
  }
  // For functions that return a handle or pointer and report through errcode_ret.
  template <class H> H retHandle(H Handle, cl_int Error, cl_int *ErrcodeRet) {
    if (ErrcodeRet)
      *ErrcodeRet = Error;
    if (S.Recording)
      recordCall(S, Text + " = " + formatPointer(Handle) + " err=" + std::to_string(Error));
    return Handle;
  }
  template <class H> H fail(cl_int Error, cl_int *ErrcodeRet) {
    return retHandle(static_cast<H>(nullptr), Error, ErrcodeRet);
  }

  State &S;

private:
  Lock Guard;
  const char *Name;
  std::string Text;
};

} // namespace fakecl
