// Matching the host's offload entries with the device program: kernels for target regions, device
// addresses for globals and function pointers, and the table of device entries the host receives.
#include "frame/cl_call.h"
#include "frame/plugin_state.h"
#include "memory/data_alloc.h"
#include "memory/data_transfer.h"
#include "profile/profiling_timer.h"
#include "program/program.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr int32_t OffloadEntryFunctionPointer = 0x8;
// Architecture code whose preferred group size multiple is taken as the driver reports it.
constexpr uint64_t ArchKeepsPreferredWidth = 1;

// Lists a kernel's arguments in the debug output. False when a query after the first type-name
// size query fails; without argument information the listing just stops.
bool listKernelArguments(size_t I, const char *Name, cl_kernel Kernel) {
  cl_uint NumArgs = 0;
  // CL_KERNEL_NUM_ARGS
  if (CL_CALL("buildKernels", clGetKernelInfo, Kernel, 0x1191, sizeof(cl_uint), &NumArgs,
              nullptr) != CL_SUCCESS)
    return false;
  DP("Kernel %zu: Name = %s, NumArgs = %u\n", I, Name, NumArgs);
  std::vector<char> Buf;
  for (cl_uint J = 0; J < NumArgs; ++J) {
    size_t BufSize = 0;
    // CL_KERNEL_ARG_TYPE_NAME; argument information is optional (kept only on request).
    if (CL_CALL_LOGGED(clGetKernelArgInfo, Kernel, J, 0x1198, 0, nullptr, &BufSize) !=
        CL_SUCCESS)
      return true;
    Buf.assign(BufSize + 1, '\0'); // one more byte keeps the text terminated whatever comes back
    if (CL_CALL("buildKernels", clGetKernelArgInfo, Kernel, J, 0x1198, BufSize, Buf.data(),
                nullptr) != CL_SUCCESS)
      return false;
    std::string TypeName(Buf.data());
    // CL_KERNEL_ARG_NAME
    if (CL_CALL("buildKernels", clGetKernelArgInfo, Kernel, J, 0x119A, 0, nullptr, &BufSize) !=
        CL_SUCCESS)
      return false;
    Buf.assign(BufSize + 1, '\0');
    if (CL_CALL("buildKernels", clGetKernelArgInfo, Kernel, J, 0x119A, BufSize, Buf.data(),
                nullptr) != CL_SUCCESS)
      return false;
    DP("  Arg %2u: %s %s\n", J, TypeName.c_str(), Buf[0] ? Buf.data() : "undefined");
  }
  return true;
}

// Fills the kernel's property record on the device: group size multiple, sub-group size and the
// largest work-group. False when a query fails.
bool setKernelProperties(int32_t DeviceId, cl_device_id Device, cl_kernel Kernel) {
  // The variable is named after its type: the argument texts in the call log read so.
  ::KernelProperty &KernelProperty = DeviceInfo->KernelProperties[DeviceId][Kernel];
  // CL_KERNEL_PREFERRED_WORK_GROUP_SIZE_MULTIPLE
  if (CL_CALL("buildKernels", clGetKernelWorkGroupInfo, Kernel, Device, 0x11B3, sizeof(size_t),
              &KernelProperty.Width, nullptr) != CL_SUCCESS)
    return false;
  // CL_KERNEL_MAX_SUB_GROUP_SIZE_FOR_NDRANGE; the record's current value is the input.
  if (CL_CALL("buildKernels", clGetKernelSubGroupInfo, Kernel, Device, 0x2033, sizeof(size_t),
              &KernelProperty.SIMDWidth, sizeof(size_t), &KernelProperty.SIMDWidth,
              nullptr) != CL_SUCCESS)
    return false;
  if (KernelProperty.SIMDWidth == 0)
    KernelProperty.SIMDWidth = KernelProperty.Width / 2;
  // Groups of two sub-groups at least keep the hardware threads busy.
  if (DeviceInfo->DeviceArchs[DeviceId] != ArchKeepsPreferredWidth)
    KernelProperty.Width = std::max(KernelProperty.Width, 2 * KernelProperty.SIMDWidth);
  // CL_KERNEL_WORK_GROUP_SIZE
  if (CL_CALL("buildKernels", clGetKernelWorkGroupInfo, Kernel, Device, 0x11B0, sizeof(size_t),
              &KernelProperty.MaxThreadGroupSize, nullptr) != CL_SUCCESS)
    return false;
  return true;
}

} // namespace

int32_t OpenCLProgramTy::buildKernels() {
  const size_t NumEntries = numHostEntries();
  OffloadEntries.assign(NumEntries, OffloadEntry{});
  // Sized once: the device entries of target regions point into this vector.
  Kernels.assign(NumEntries, nullptr);

  ProfilingTimer Timer("OffloadEntriesInit", DeviceId);
  Timer.start();
  if (!loadOffloadTable(NumEntries))
    DP("Warning: could not load offload table.\n");
  Timer.stop();

  for (size_t I = 0; I < NumEntries; ++I) {
    const OffloadEntry &HostEntry = ImageDesc->EntryTableBegin[I];
    OffloadEntry &Entry = OffloadEntries[I];
    const char *Name = HostEntry.name;
    // Checked before anything else: a global without a name cannot be looked up either.
    if (!Name) {
      DP("Warning: Entry with a nullptr name!!!\n");
      continue;
    }

    if (HostEntry.size != 0) {
      Timer.start();
      size_t Size = static_cast<size_t>(HostEntry.size);
      void *HostPtr = HostEntry.address;
      void *TgtPtr = lookupOffloadTable(Name, Size);
      if (!TgtPtr) {
        TgtPtr = dataAlloc(DeviceId, static_cast<int64_t>(Size), HostPtr, HostPtr, !HostPtr, 0);
        if (!TgtPtr) {
          DP("Error: cannot allocate global variable '%s' of size %zu.\n", Name, Size);
          Timer.stop();
          return -1;
        }
        // The host runtime never deletes this memory: the plugin frees it at shutdown.
        DeviceInfo->OwnedMemory[DeviceId].push_back(TgtPtr);
        if (HostPtr)
          submitData(DeviceId, TgtPtr, HostPtr, static_cast<int64_t>(Size));
        DP("Warning: global variable '%s' allocated. "
           "Direct references will not work properly.\n",
           Name);
      }
      DP("Global variable mapped: Name = %s, Size = %zu, HostPtr = " DPxMOD ", TgtPtr = " DPxMOD
         "\n",
         Name, Size, DPxPTR(HostPtr), DPxPTR(TgtPtr));
      Entry.address = TgtPtr;
      Entry.name = HostEntry.name;
      Entry.size = HostEntry.size;
      Timer.stop();
      continue;
    }

    cl_int Rc = CL_SUCCESS;
    Kernels[I] = CL_INVOKE_RC(clCreateKernel, Rc, FinalProgram, Name);
    if (CL_CHECK_RC("buildKernels", clCreateKernel, Rc) != CL_SUCCESS) {
      DP("Warning: Failed to create kernel %s, %d\n", Name, Rc);
      Kernels[I] = nullptr;
    }
    // The host passes this address back at launch and reads the kernel handle through it.
    Entry.address = &Kernels[I];
    Entry.name = HostEntry.name;

    if (cl_kernel Kernel = Kernels[I]) {
      if (!readKernelInfo(Entry)) {
        DP("Error: failed to read kernel info for kernel %s\n", Name);
        return -1;
      }
      if (!setKernelProperties(DeviceId, Device, Kernel))
        return -1;
      if (StartupDebugLevel >= 1 && !listKernelArguments(I, Name, Kernel))
        return -1;
      continue;
    }

    if (HostEntry.flags & OffloadEntryFunctionPointer) {
      Entry.flags = HostEntry.flags;
      Entry.address = lookupOffloadTable(Name, 0);
      DP("Returning device function pointer " DPxMOD " for host function pointer " DPxMOD "\n",
         DPxPTR(Entry.address), DPxPTR(HostEntry.address));
    } else {
      DP("Warning: cannot find kernel %s\n", Name);
    }
  }

  TargetTable.EntriesBegin = OffloadEntries.data();
  TargetTable.EntriesEnd = OffloadEntries.data() + NumEntries;
  return 0;
}
