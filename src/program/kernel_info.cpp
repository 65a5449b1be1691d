// Reading the kernel info record the compiler leaves in a device global named after the kernel.
#include "program/kernel_info.h"

#include "frame/debug.h"
#include "program/program.h"

#include <cstring>
#include <string>

uint64_t kernelInfoRecordSize(uint32_t Version, uint32_t NumArgs) {
  uint64_t ArgBytes = 8 * static_cast<uint64_t>(NumArgs);
  switch (Version) {
  case 1: return 8 + ArgBytes;
  case 2: return 16 + ArgBytes;
  case 3: return 24 + ArgBytes;
  case 4:
  case 5: return 32 + ArgBytes;
  default: return 0;
  }
}

namespace {

template <typename T> T readField(const std::vector<uint8_t> &Record, uint64_t Offset) {
  T Value;
  std::memcpy(&Value, Record.data() + Offset, sizeof(T));
  return Value;
}

} // namespace

bool OpenCLProgramTy::readKernelInfo(const OffloadEntry &Entry) {
  const cl_kernel Kernel = *static_cast<const cl_kernel *>(Entry.address);
  const std::string Name = std::string(Entry.name) + "_kernel_info";

  struct {
    uint32_t Version;
    uint32_t NumArgs;
  } Header = {0, 0};
  // Older compilers emit no record; the kernel is then used without one. A record that exists
  // but cannot be read fails the load: without it by-value arguments would be passed wrongly.
  int32_t Rc = readGlobalVariable(Name.c_str(), sizeof(Header), &Header);
  if (Rc == GlobalMissing)
    return true;
  if (Rc != 0)
    return false;

  if (Header.Version > KernelInfoMaxVersion) {
    DP("Error: unsupported version (%u) of kernel info structure.\n", Header.Version);
    DP("Error: please use newer OpenMP offload runtime.\n");
    return false;
  }
  if (Header.Version == 0) {
    DP("Error: version 0 of kernel info structure is illegal.\n");
    return false;
  }
  if (Header.NumArgs > KernelInfoMaxArgs) {
    DP("Warning: kernel info of %s declares %u arguments; the record is ignored.\n", Entry.name,
       Header.NumArgs);
    return true;
  }

  const uint32_t Version = Header.Version, NumArgs = Header.NumArgs;
  std::vector<uint8_t> Record(kernelInfoRecordSize(Version, NumArgs), 0);
  if (readGlobalVariable(Name.c_str(), Record.size(), Record.data()) != 0)
    return false;

  KernelInfoTy Info;
  Info.Version = Version;
  Info.Args.resize(NumArgs);
  for (uint32_t J = 0; J < NumArgs; ++J) {
    Info.Args[J].ByValue = readField<uint32_t>(Record, 8 + 8 * uint64_t(J)) != 0;
    Info.Args[J].ArgSize = readField<uint32_t>(Record, 12 + 8 * uint64_t(J));
  }
  const uint64_t Tail = 8 + 8 * uint64_t(NumArgs);
  if (Version >= 2)
    Info.Attributes = readField<uint64_t>(Record, Tail);
  if (Version >= 3)
    Info.MaxTeamCount = readField<uint32_t>(Record, Tail + 8);
  if (Version >= 4)
    Info.MaxTeamSize = readField<uint32_t>(Record, Tail + 16);

  // A kernel handle seen again keeps the record it got first.
  KernelInfo.emplace(Kernel, std::move(Info));
  return true;
}
