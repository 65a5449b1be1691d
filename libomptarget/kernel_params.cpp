#include "kernel_params.h"

#include <cstdint>
#include <cstring>
#include <set>

namespace {

constexpr uint32_t SpirvMagic = 0x07230203;
enum : uint32_t {
  OpEntryPoint = 15,
  OpTypePointer = 32,
  OpFunction = 54,
  OpFunctionParameter = 55,
  OpTypeUntypedPointerKHR = 4417
};

} // namespace

std::map<std::string, std::vector<bool>> kernelPointerParams(const void *Image, size_t Size) {
  std::map<std::string, std::vector<bool>> Result;
  size_t Count = Size / 4;
  if (!Image || Count < 5)
    return Result;
  std::vector<uint32_t> Words(Count);
  std::memcpy(Words.data(), Image, Count * 4);
  if (Words[0] != SpirvMagic)
    return Result; // an ELF container or a module of the other byte order: nothing known

  std::set<uint32_t> PointerTypes;
  std::map<uint32_t, std::string> EntryNames; // function id -> entry point name
  std::map<uint32_t, std::vector<bool>> Params;
  uint32_t Function = 0;
  for (size_t At = 5; At < Count;) {
    uint32_t Length = Words[At] >> 16, Opcode = Words[At] & 0xFFFF;
    if (Length == 0 || At + Length > Count)
      return {};
    const uint32_t *Op = &Words[At + 1];
    if ((Opcode == OpTypePointer || Opcode == OpTypeUntypedPointerKHR) && Length >= 2) {
      PointerTypes.insert(Op[0]);
    } else if (Opcode == OpEntryPoint && Length >= 4) {
      // The name is a NUL-terminated string packed in the words after the function id.
      const char *Name = reinterpret_cast<const char *>(Op + 2);
      size_t Limit = (Length - 3) * 4;
      EntryNames[Op[1]] = std::string(Name, strnlen(Name, Limit));
    } else if (Opcode == OpFunction && Length >= 5) {
      Function = Op[1];
      Params[Function];
    } else if (Opcode == OpFunctionParameter && Length >= 3 && Function) {
      Params[Function].push_back(PointerTypes.count(Op[0]) != 0);
    }
    At += Length;
  }
  for (const auto &[Id, Name] : EntryNames)
    Result[Name] = Params[Id];
  return Result;
}
