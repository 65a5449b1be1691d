// Answers to info queries, with the size query and short-buffer rules of a real driver.
#pragma once

#include "objects.h"

#include <cstring>
#include <string>

namespace fakecl {

// A null value (unknown param) gives CL_INVALID_VALUE; a failing value its error; a buffer
// smaller than the answer gives CL_INVALID_VALUE; a null buffer answers only the size.
cl_int answerInfo(const InfoValue *V, size_t Size, void *Value, size_t *SizeRet);
cl_int answerBytes(const void *Data, size_t Bytes, size_t Size, void *Value, size_t *SizeRet);
const InfoValue *findInfo(const InfoTable &T, cl_uint Param);

template <class T> InfoValue infoOf(const T &V) {
  InfoValue R;
  R.Bytes.resize(sizeof(T));
  std::memcpy(R.Bytes.data(), &V, sizeof(T));
  return R;
}
InfoValue infoOfString(const std::string &Text);
template <class T> cl_int answerScalar(const T &V, size_t Size, void *Value, size_t *SizeRet) {
  return answerBytes(&V, sizeof(T), Size, Value, SizeRet);
}
inline cl_int answerString(const std::string &Text, size_t Size, void *Value, size_t *SizeRet) {
  return answerBytes(Text.c_str(), Text.size() + 1, Size, Value, SizeRet);
}
std::string infoString(const InfoTable &T, cl_uint Param);

} // namespace fakecl
