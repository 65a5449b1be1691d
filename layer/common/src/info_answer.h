// The usual OpenCL pattern for answering a query with a block of bytes.
#pragma once

#include "opencl_api.h"

#include <cstring>
#include <string>
#include <vector>

inline cl_int answerBytes(size_t ValueSize, void *Value, size_t *SizeRet, const void *Data,
                          size_t Bytes) {
  if (Value) {
    if (ValueSize < Bytes)
      return CL_INVALID_VALUE;
    if (Bytes)
      std::memcpy(Value, Data, Bytes);
  }
  if (SizeRet)
    *SizeRet = Bytes;
  return CL_SUCCESS;
}

template <typename T>
cl_int answerValue(size_t ValueSize, void *Value, size_t *SizeRet, const T &Data) {
  return answerBytes(ValueSize, Value, SizeRet, &Data, sizeof(T));
}

inline cl_int answerText(size_t ValueSize, void *Value, size_t *SizeRet, const std::string &Text) {
  return answerBytes(ValueSize, Value, SizeRet, Text.c_str(), Text.size() + 1);
}
