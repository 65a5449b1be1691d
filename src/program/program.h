// The program object of one offload image on one device. It lives in the device's program list
// from its load until shutdown (the list never moves its elements: the host runtime keeps
// addresses of its device entries) and owns its OpenCL programs, kernels, device-entry table,
// name copies and kernel info records.
#ifndef PROGRAM_PROGRAM_H
#define PROGRAM_PROGRAM_H

#include "frame/opencl.h"
#include "omptarget_records.h"
#include "program/kernel_info.h"
#include "program/program_data.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// One record of the device's own offload table, as the device program exports it.
// readGlobalVariable's answer for a global the program does not have.
constexpr int32_t GlobalMissing = 1;

struct OffloadTableEntry {
  OffloadEntry Base; // on the device Base.name is the device address of the name text
  uint64_t NameSize; // bytes of the name including its NUL
};
static_assert(sizeof(OffloadTableEntry) == 40, "the device offload table has 40-byte records");

struct OpenCLProgramTy {
  DeviceImage *ImageDesc = nullptr; // the host's, not owned
  cl_context Context = nullptr;
  cl_device_id Device = nullptr;
  int32_t DeviceId = -1;
  bool IsBinary = false; // the image program came from a native binary
  ::TargetTable TargetTable = {nullptr, nullptr}; // handed to the host runtime
  std::vector<OffloadEntry> OffloadEntries; // storage behind TargetTable, one per host entry
  std::vector<OffloadTableEntry> OffloadTable; // sorted by name; names are owned host copies
  std::vector<cl_program> Programs; // from the image and the device libraries, creation order
  std::vector<cl_kernel> Kernels;   // one slot per host entry; null where none was created
  std::unordered_map<cl_kernel, KernelInfoTy> KernelInfo;
  ProgramDataTy ProgramData;
  cl_program FinalProgram = nullptr;
  bool RequiresProgramLink = false; // FinalProgram is a linked program of its own

  OpenCLProgramTy(DeviceImage *Image, cl_context Ctx, cl_device_id Dev, int32_t Id);
  ~OpenCLProgramTy();
  OpenCLProgramTy(const OpenCLProgramTy &) = delete;
  OpenCLProgramTy &operator=(const OpenCLProgramTy &) = delete;

  size_t numHostEntries() const {
    return ImageDesc ? static_cast<size_t>(ImageDesc->EntryTableEnd - ImageDesc->EntryTableBegin)
                     : 0;
  }

  // The build pipeline; each returns 0 or -1. The option texts are modified in place.
  int32_t createPrograms(std::string &CompileOptions, std::string &LinkOptions);
  int32_t addProgramIL(size_t Size, const void *Image);
  int32_t addProgramBIN(size_t Size, const void *Image);
  int32_t compilePrograms(std::string &CompileOptions, std::string &LinkOptions);
  int32_t linkPrograms(std::string &LinkOptions);

  // Kernels, device entries and the device's offload table.
  int32_t buildKernels();
  bool loadOffloadTable(size_t NumEntries);
  void *lookupOffloadTable(const char *Name, size_t Size);
  // 0 when copied; GlobalMissing when the program has no such global, -1 on any other failure.
  int32_t readGlobalVariable(const char *Name, size_t Size, void *HostPtr);
  int32_t writeGlobalVariable(const char *Name, size_t Size, void *HostPtr);
  // Reads and stores the kernel info record of the kernel whose handle Entry.address points at;
  // false for a record of an unusable version or one that exists but cannot be read.
  bool readKernelInfo(const OffloadEntry &Entry);

  // Fills and writes the program data record, with its heap or pool; always 0.
  int32_t initProgramData();

private:
  // Frees the host copies of the names of OffloadTable records [0, Count).
  void freeOffloadTableNames(size_t Count);
};

// Sets the options' specialization constants on Program, from the last to the first.
void applySpecConstants(int32_t DeviceId, cl_program Program);
// Prints the program's build log when the start-up debug level or the build-log option asks.
void debugPrintBuildLog(cl_program Program, cl_device_id Device);

#endif
