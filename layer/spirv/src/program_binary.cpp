#include "program_binary.h"

#include <cstring>

namespace {

constexpr char kMagic[8] = {'O', 'C', 'L', 'S', 'P', 'V', 'B', '1'};

} // namespace

std::string layerBinary(cl_program_binary_type Type, const std::string &Bitcode) {
  std::string Binary(kMagic, sizeof(kMagic));
  Binary.append(reinterpret_cast<const char *>(&Type), sizeof(Type));
  return Binary + Bitcode;
}

bool readLayerBinary(const unsigned char *Bytes, size_t Length, cl_program_binary_type &Type,
                     std::string &Bitcode) {
  if (!Bytes || Length <= sizeof(kMagic) + sizeof(Type) ||
      std::memcmp(Bytes, kMagic, sizeof(kMagic)) != 0)
    return false;
  std::memcpy(&Type, Bytes + sizeof(kMagic), sizeof(Type));
  if (Type != CL_PROGRAM_BINARY_TYPE_COMPILED_OBJECT && Type != CL_PROGRAM_BINARY_TYPE_LIBRARY &&
      Type != CL_PROGRAM_BINARY_TYPE_EXECUTABLE)
    return false;
  size_t Header = sizeof(kMagic) + sizeof(Type);
  Bitcode.assign(reinterpret_cast<const char *>(Bytes) + Header, Length - Header);
  return true;
}
