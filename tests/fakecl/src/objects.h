// The driver's objects. Every handle the loader sees is a struct whose first member is the
// dispatch pointer; the handle points back to the object that holds the driver's own state.
#pragma once

#include "vendor_ext.h"

#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

namespace fakecl {
struct PlatformModel;
struct DeviceModel;
struct ContextObj;
struct QueueObj;
struct EventObj;
struct ProgramObj;
struct KernelObj;
} // namespace fakecl

struct _cl_platform_id {
  const cl_icd_dispatch *dispatch;
  fakecl::PlatformModel *Obj;
};
struct _cl_device_id {
  const cl_icd_dispatch *dispatch;
  fakecl::DeviceModel *Obj;
};
struct _cl_context {
  const cl_icd_dispatch *dispatch;
  fakecl::ContextObj *Obj;
};
struct _cl_command_queue {
  const cl_icd_dispatch *dispatch;
  fakecl::QueueObj *Obj;
};
struct _cl_event {
  const cl_icd_dispatch *dispatch;
  fakecl::EventObj *Obj;
};
struct _cl_program {
  const cl_icd_dispatch *dispatch;
  fakecl::ProgramObj *Obj;
};
struct _cl_kernel {
  const cl_icd_dispatch *dispatch;
  fakecl::KernelObj *Obj;
};

#define FAKECL_CHECK_HANDLE_LAYOUT(T)                                                                          \
  static_assert(std::is_standard_layout<T>::value && offsetof(T, dispatch) == 0,                               \
                #T " must start with the dispatch pointer")
FAKECL_CHECK_HANDLE_LAYOUT(_cl_platform_id);
FAKECL_CHECK_HANDLE_LAYOUT(_cl_device_id);
FAKECL_CHECK_HANDLE_LAYOUT(_cl_context);
FAKECL_CHECK_HANDLE_LAYOUT(_cl_command_queue);
FAKECL_CHECK_HANDLE_LAYOUT(_cl_event);
FAKECL_CHECK_HANDLE_LAYOUT(_cl_program);
FAKECL_CHECK_HANDLE_LAYOUT(_cl_kernel);
#undef FAKECL_CHECK_HANDLE_LAYOUT

namespace fakecl {

const cl_icd_dispatch *dispatchTable();

// One answer of an info query: its bytes, or the error the query fails with.
struct InfoValue {
  bool Fails = false;
  cl_int Error = CL_SUCCESS;
  std::vector<unsigned char> Bytes;
};
using InfoTable = std::map<cl_uint, InfoValue>;

struct DeviceModel {
  _cl_device_id Handle;
  PlatformModel *Platform = nullptr;
  cl_device_type Type = CL_DEVICE_TYPE_GPU;
  InfoTable Info;
};

struct PlatformModel {
  _cl_platform_id Handle;
  unsigned Index = 0;
  InfoTable Info;
  // Vendor functions offered to clGetExtensionFunctionAddressForPlatform, by name.
  std::map<std::string, void *> ExtensionFunctions;
  std::vector<std::unique_ptr<DeviceModel>> Devices;
};

// Object kinds whose live instances are counted.
enum class ObjectKind { Context, Queue, Program, Kernel, Event, Usm, Count };
const char *objectKindName(ObjectKind K);

struct ContextObj {
  _cl_context Handle;
  cl_uint RefCount = 1;
  std::vector<cl_device_id> Devices;
  std::vector<cl_context_properties> Properties;
};

struct PendingCommand;

struct QueueObj {
  _cl_command_queue Handle;
  cl_uint RefCount = 1;
  cl_uint ApiRefs = 1; // the references of clCreate/Retain/ReleaseCommandQueue alone
  cl_context Context = nullptr;
  cl_device_id Device = nullptr;
  cl_command_queue_properties Properties = 0;
  std::vector<cl_queue_properties> PropertyList;
  // Commands enqueued but not yet run (only in deferred mode).
  std::vector<std::shared_ptr<PendingCommand>> Pending;
};

struct EventObj {
  _cl_event Handle;
  cl_uint RefCount = 1;
  cl_command_queue Queue = nullptr;
  cl_context Context = nullptr;
  cl_command_type CommandType = 0;
  cl_int Status = CL_QUEUED;
  bool Profiling = false;
  // QUEUED, SUBMIT, START, END, COMPLETE, filled when the command completes.
  cl_ulong Times[5] = {0, 0, 0, 0, 0};
};

// What a module declares: kernels, program-scope globals and device offload entries.
struct KernelDecl {
  std::string Name;
  cl_uint NumArgs = 0;
  std::vector<std::string> ArgTypes;
  std::vector<std::string> ArgNames;
  InfoTable Info; // kernel, work-group and sub-group query overrides by param
  std::vector<size_t> Suggested;
};
struct GlobalDecl {
  std::string Name;
  size_t Size = 0;
  std::vector<unsigned char> Init;
};
struct EntryDecl {
  std::string Name;
  cl_ulong Size = 0;
  cl_uint Flags = 0;
  std::string Global;       // the global whose address the entry carries, if any
  cl_ulong Address = 0;     // otherwise this literal address
  cl_long NameSize = -1;    // -1: the name's length plus its NUL
  bool NoName = false;      // the record's name pointer is null
};
struct ModuleDecl {
  std::vector<KernelDecl> Kernels;
  std::vector<GlobalDecl> Globals;
  std::vector<EntryDecl> Entries;
  bool BuildFails = false;
  std::string Log;
};

struct GlobalStorage {
  std::string Name;
  size_t Size = 0;
  std::unique_ptr<unsigned char[]> Bytes;
};

enum class ProgramState { Created, Compiled, Executable, Failed };

struct ProgramObj {
  _cl_program Handle;
  cl_uint RefCount = 1;
  cl_context Context = nullptr;
  bool FromBinary = false;
  bool Linked = false;
  std::vector<unsigned char> Source;
  ModuleDecl Module;
  ProgramState State = ProgramState::Created;
  std::string Options;
  std::string Log;
  std::map<cl_uint, std::vector<unsigned char>> SpecConstants;
  // Backing memory of the globals, made when the program becomes executable.
  std::vector<GlobalStorage> Globals;
  std::vector<std::unique_ptr<char[]>> EntryNames;
  cl_uint KernelCount = 0; // live kernels made from this program
};

enum class ArgKind : uint32_t { Unset = 0, Value = 1, Pointer = 2, Local = 3 };
struct KernelArg {
  ArgKind Kind = ArgKind::Unset;
  std::vector<unsigned char> Bytes;
  void *Pointer = nullptr;
  size_t Size = 0;
};

struct KernelObj {
  _cl_kernel Handle;
  cl_uint RefCount = 1;
  cl_program Program = nullptr;
  KernelDecl Decl;
  std::vector<KernelArg> Args;
  std::vector<void *> IndirectPointers;
  cl_uint IndirectFlags = 0; // bit 0 host, 1 device, 2 shared
  std::vector<std::pair<cl_uint, std::vector<unsigned char>>> ExecInfo;
};

} // namespace fakecl
