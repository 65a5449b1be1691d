// Feeds arbitrary device offload tables and kernel info records to program loading, through the
// fake driver's program globals, as a device program would export them. The input is decoded
// into a module manifest: a few table entries (names from a small alphabet, sizes, flags, name
// sizes, missing names, optionally a table size that lies) and the raw bytes of one kernel's info
// record. Each input is loaded on the fake device, the kernel info is queried through the launch
// entry point, and the program is dropped again.
#include "fakecl_control.h"
#include "device/platform_info.h"
#include "frame/plugin_state.h"
#include "memory/allocation_table.h"
#include "omptargetplugin.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <vector>

namespace {

// Reads the input front to back; past its end every read gives zero.
struct Cursor {
  const uint8_t *Data;
  size_t Size;
  size_t At = 0;
  uint8_t byte() { return At < Size ? Data[At++] : 0; }
  uint32_t u32() {
    uint32_t V = 0;
    for (int I = 0; I < 4; ++I)
      V |= uint32_t(byte()) << (8 * I);
    return V;
  }
};

std::string hex(const uint8_t *Bytes, size_t Size) {
  static const char Digits[] = "0123456789abcdef";
  std::string Text;
  for (size_t I = 0; I < Size; ++I) {
    Text += Digits[Bytes[I] >> 4];
    Text += Digits[Bytes[I] & 15];
  }
  return Text;
}

// The manifest of one input, and the names of its kernel entries.
std::string manifestOf(Cursor &In, std::vector<std::string> &Kernels,
                       std::vector<std::string> &Variables) {
  std::string Manifest = "\nFAKECL-MODULE\n";
  uint8_t Header = In.byte();
  size_t Entries = Header & 7;
  for (size_t I = 0; I < Entries; ++I) {
    uint8_t Kind = In.byte();
    std::string Name(1 + (Kind & 3), 'a');
    for (char &C : Name)
      C = "abk_"[In.byte() & 3];
    std::string Line = "entry " + Name;
    if (Kind & 0x04) { // a variable with its global
      uint32_t Size = 1 + (In.byte() & 31);
      Manifest += "global " + Name + " " + std::to_string(Size) + "\n";
      Line += " size=" + std::to_string(Size) + " global=" + Name;
      Variables.push_back(Name);
    } else {
      Manifest += "kernel " + Name + " args=" + std::to_string(In.byte() & 7) + "\n";
      Kernels.push_back(Name);
    }
    if (Kind & 0x08)
      Line += " flags=" + std::to_string(In.byte());
    if (Kind & 0x10)
      Line += " namesize=" + std::to_string(In.u32() & 0x1ffff);
    if (Kind & 0x20)
      Line += " noname";
    Manifest += Line + "\n";
  }
  if (Header & 0x08) { // the table claims a size of its own
    uint64_t Claim = In.u32() | uint64_t(Header & 0xf0) << 28;
    uint8_t Bytes[8];
    std::memcpy(Bytes, &Claim, 8);
    Manifest += "global __omp_offloading_entries_table_size 8 init=" + hex(Bytes, 8) + "\n";
  }
  // The rest is the info record of the first kernel.
  if (!Kernels.empty() && In.At < In.Size)
    Manifest += "global " + Kernels[0] + "_kernel_info " + std::to_string(In.Size - In.At) +
                " init=" + hex(In.Data + In.At, In.Size - In.At) + "\n";
  return Manifest + "end\n";
}

bool Started = false;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // The fake driver is the only platform; its default layout has one GPU.
  setenv("OCL_ICD_VENDORS", FAKECL_PATH, 1);
  setenv("OCL_ICD_PLATFORM_SORT", "none", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (!Started) {
    Started = true;
    // The driver keeps no call record: it would grow with every input.
    void *Driver = dlopen(FAKECL_PATH, RTLD_NOW | RTLD_LOCAL);
    auto *Fake = Driver ? static_cast<const fakecl_control_v1 *>(dlsym(Driver, FAKECL_CONTROL_SYMBOL))
                        : nullptr;
    char Error[256];
    if (!Fake || Fake->configure("record off", Error, sizeof(Error)) != 0)
      std::abort();
    __tgt_rtl_register_lib(nullptr);
    if (__tgt_rtl_number_of_devices() < 1 || __tgt_rtl_init_device(0) != 0)
      std::abort();
  }
  Cursor In{Data, Size};
  std::vector<std::string> Kernels, Variables;
  std::string Manifest = manifestOf(In, Kernels, Variables);
  std::vector<uint8_t> Bytes = {0x03, 0x02, 0x23, 0x07};
  Bytes.insert(Bytes.end(), Manifest.begin(), Manifest.end());
  Bytes.push_back(0);
  // The host's entries name the same regions and variables, in the same order as the host
  // compiler would list them.
  static int64_t HostVariables[8][4];
  std::vector<OffloadEntry> Host;
  for (size_t I = 0; I < Kernels.size(); ++I)
    Host.push_back({&Host, &Kernels[I][0], 0, 0, 0});
  for (size_t I = 0; I < Variables.size() && I < 8; ++I)
    Host.push_back({HostVariables[I], &Variables[I][0], 1, 0, 0});
  for (size_t I = 0; I < Kernels.size(); ++I)
    Host[I].address = &Host[I]; // a unique tag per region
  OffloadEntry *Begin = Host.empty() ? nullptr : Host.data();
  DeviceImage Image{Bytes.data(), Bytes.data() + Bytes.size(), Begin,
                    Begin ? Begin + Host.size() : nullptr};
  if (TargetTable *Table = __tgt_rtl_load_binary(0, &Image)) {
    for (const OffloadEntry *E = Table->EntriesBegin; E != Table->EntriesEnd; ++E)
      for (uint32_t Arg = 0; Arg < 9 && E->address && E->size == 0; ++Arg)
        __tgt_rtl_is_private_arg_on_host(0, E->address, Arg);
  }
  // Nothing of this input stays: its program and kernels are released, and so is the memory the
  // plugin allocated for variables the device table lacked (otherwise kept until shutdown).
  DeviceInfo->Programs[0].clear();
  using MemFreeFn = cl_int(CL_API_CALL *)(cl_context, void *);
  auto MemFree = reinterpret_cast<MemFreeFn>(DeviceInfo->extensionFunction(0, ExtMemFree));
  for (void *Mem : DeviceInfo->OwnedMemory[0]) {
    AllocationInfo Info;
    DeviceInfo->AllocationTables[0]->remove(Mem, Info);
    MemFree(DeviceInfo->getContext(0), Mem);
  }
  DeviceInfo->OwnedMemory[0].clear();
  return 0;
}
