#include "info.h"

#include <cstdio>

namespace fakecl {

std::string formatPointer(const void *P) {
  if (!P)
    return "null";
  char Buf[32];
  std::snprintf(Buf, sizeof(Buf), "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(P)));
  return Buf;
}

cl_int answerBytes(const void *Data, size_t Bytes, size_t Size, void *Value, size_t *SizeRet) {
  if (Value) {
    if (Size < Bytes)
      return CL_INVALID_VALUE;
    if (Bytes)
      std::memcpy(Value, Data, Bytes);
  }
  if (SizeRet)
    *SizeRet = Bytes;
  return CL_SUCCESS;
}

cl_int answerInfo(const InfoValue *V, size_t Size, void *Value, size_t *SizeRet) {
  if (!V)
    return CL_INVALID_VALUE;
  if (V->Fails)
    return V->Error;
  return answerBytes(V->Bytes.data(), V->Bytes.size(), Size, Value, SizeRet);
}

const InfoValue *findInfo(const InfoTable &T, cl_uint Param) {
  auto It = T.find(Param);
  return It == T.end() ? nullptr : &It->second;
}

InfoValue infoOfString(const std::string &Text) {
  InfoValue R;
  R.Bytes.assign(Text.begin(), Text.end());
  R.Bytes.push_back(0);
  return R;
}

std::string infoString(const InfoTable &T, cl_uint Param) {
  const InfoValue *V = findInfo(T, Param);
  if (!V || V->Bytes.empty())
    return "";
  return std::string(reinterpret_cast<const char *>(V->Bytes.data()), strnlen(reinterpret_cast<const char *>(V->Bytes.data()), V->Bytes.size()));
}

} // namespace fakecl
