// The program data record device code reads from "__omp_spirv_program_data", and the device heap
// it points at: one plain block, or a pool of heaps with fixed block sizes whose bookkeeping
// arrays and descriptor the plugin lays out and zeroes for the allocator that runs on the device.
#include "program/program_data.h"

#include "device/extension_api.h"
#include "frame/cl_call.h"
#include "frame/plugin_state.h"
#include "memory/data_alloc.h"
#include "program/program.h"

#include <algorithm>
#include <vector>

uint32_t poolHeapCount(uint64_t HeapSize) {
  uint32_t Count = 1;
  for (uint64_t Largest = 2048; Largest < HeapSize && Count < PoolMaxHeaps; Largest <<= 6)
    ++Count;
  return Count;
}

void layOutPool(PoolTy &Pool, uint64_t PoolBase, uint64_t HeapSize) {
  Pool = PoolTy();
  Pool.PoolBase = PoolBase;
  Pool.HeapSize = HeapSize;
  Pool.NumHeaps = poolHeapCount(HeapSize);
  for (uint32_t I = 0; I < Pool.NumHeaps; ++I) {
    PoolHeapTy &Heap = Pool.Heaps[I];
    const unsigned Shift = 6 * I;
    Heap.Base = PoolBase + I * HeapSize;
    Heap.BlockSize = uint64_t(64) << Shift;
    Heap.NumBlocks = static_cast<uint32_t>(HeapSize >> (Shift + 6));
    Heap.MaxSize = std::min(uint64_t(Heap.NumBlocks) * Heap.BlockSize, uint64_t(2048) << Shift);
    Heap.NumBlockDesc = (Heap.NumBlocks + 31) / 32;
    Heap.NumBlockCounter = (Heap.NumBlockDesc + 31) / 32;
  }
}

namespace {

template <typename Fn> Fn extension(int32_t DeviceId, ExtensionFunctionIndex Index) {
  return reinterpret_cast<Fn>(DeviceInfo->extensionFunction(DeviceId, Index));
}

void reportMissing(const char *Op, const char *Function) {
  DP("Error: %s:%s is not available\n", Op, Function);
}

// Takes a new device buffer into the plugin's ownership; false when the allocation failed.
bool keepAllocation(int32_t DeviceId, const char *Op, void *Mem, cl_int Rc) {
  if (CL_CHECK_RC(Op, clDeviceMemAllocTARNO, Rc) != CL_SUCCESS)
    return false;
  if (!Mem) {
    DP("Error: %s:clDeviceMemAllocTARNO returned no memory\n", Op);
    return false;
  }
  DeviceInfo->OwnedMemory[DeviceId].push_back(Mem);
  return true;
}

// The device addresses of one heap's bookkeeping arrays.
struct HeapArraysTy {
  void *BlockDesc = nullptr;
  void *BlockCounter = nullptr;
};

} // namespace

void *initDynamicMemPool(OpenCLProgramTy &Program) {
  const char *Op = "initDynamicMemPool";
  const int32_t DeviceId = Program.DeviceId;
  const uint64_t HeapSize = DeviceInfo->Option.DynamicMemorySize;
  if (HeapSize == 0)
    return nullptr;
  // Block counts are 32-bit on the device; the option never asks for more than this.
  if (HeapSize > PoolMaxHeapSize) {
    DP("Error: %s: heap size %llu exceeds %llu bytes\n", Op,
       static_cast<unsigned long long>(HeapSize), static_cast<unsigned long long>(PoolMaxHeapSize));
    return nullptr;
  }
  auto Alloc = extension<clDeviceMemAllocTARNO_fn>(DeviceId, ExtDeviceMemAlloc);
  auto Memcpy = extension<clEnqueueMemcpyTARNO_fn>(DeviceId, ExtEnqueueMemcpy);
  if (!Alloc || !Memcpy) {
    reportMissing(Op, Alloc ? "clEnqueueMemcpyTARNO" : "clDeviceMemAllocTARNO");
    return nullptr;
  }
  cl_context Context = Program.Context;
  cl_device_id Device = Program.Device;
  cl_int Rc = CL_SUCCESS;

  const uint64_t BaseSize = HeapSize * poolHeapCount(HeapSize);
  auto BaseProp = makeAllocProperties(DeviceId, BaseSize);
  void *PoolBase = CL_INVOKE_PTR_RC(clDeviceMemAllocTARNO, Alloc, Rc, Context, Device,
                                    BaseProp->data(), BaseSize, 0);
  if (!keepAllocation(DeviceId, Op, PoolBase, Rc))
    return nullptr;

  PoolTy Pool;
  layOutPool(Pool, reinterpret_cast<uintptr_t>(PoolBase), HeapSize);
  for (uint32_t I = 0; I < Pool.NumHeaps; ++I) {
    HeapArraysTy Heap;
    // A heap without blocks has no bookkeeping to allocate.
    if (const size_t DescSize = size_t(Pool.Heaps[I].NumBlockDesc) * 8) {
      auto DescProp = makeAllocProperties(DeviceId, DescSize);
      Heap.BlockDesc = CL_INVOKE_PTR_RC(clDeviceMemAllocTARNO, Alloc, Rc, Context, Device,
                                        DescProp->data(), DescSize, 0);
      if (!keepAllocation(DeviceId, Op, Heap.BlockDesc, Rc))
        return nullptr;
      std::vector<char> BlockDescInit(DescSize, 0);
      if (CL_CALL_PTR(Op, clEnqueueMemcpyTARNO, Memcpy, DeviceInfo->Queues[DeviceId], 1,
                      Heap.BlockDesc, BlockDescInit.data(), DescSize, 0, nullptr, nullptr))
        return nullptr;
    }
    if (const size_t CounterSize = size_t(Pool.Heaps[I].NumBlockCounter) * 4) {
      auto CounterProp = makeAllocProperties(DeviceId, CounterSize);
      Heap.BlockCounter = CL_INVOKE_PTR_RC(clDeviceMemAllocTARNO, Alloc, Rc, Context, Device,
                                           CounterProp->data(), CounterSize, 0);
      if (!keepAllocation(DeviceId, Op, Heap.BlockCounter, Rc))
        return nullptr;
      std::vector<char> BlockCounterInit(CounterSize, 0);
      if (CL_CALL_PTR(Op, clEnqueueMemcpyTARNO, Memcpy, DeviceInfo->Queues[DeviceId], 1,
                      Heap.BlockCounter, BlockCounterInit.data(), CounterSize, 0, nullptr,
                      nullptr))
        return nullptr;
    }
    Pool.Heaps[I].BlockDesc = reinterpret_cast<uintptr_t>(Heap.BlockDesc);
    Pool.Heaps[I].BlockCounter = reinterpret_cast<uintptr_t>(Heap.BlockCounter);
  }

  auto PoolProp = makeAllocProperties(DeviceId, sizeof(Pool));
  void *PoolDevice = CL_INVOKE_PTR_RC(clDeviceMemAllocTARNO, Alloc, Rc, Context, Device,
                                      PoolProp->data(), sizeof(Pool), 0);
  if (!keepAllocation(DeviceId, Op, PoolDevice, Rc))
    return nullptr;
  if (CL_CALL_PTR(Op, clEnqueueMemcpyTARNO, Memcpy, DeviceInfo->Queues[DeviceId], 1, PoolDevice,
                  &Pool, sizeof(Pool), 0, nullptr, nullptr))
    return nullptr;
  return PoolDevice;
}

namespace {

// One plain block of MemSize bytes for the device heap; null when it cannot be had.
void *allocatePlainHeap(OpenCLProgramTy &Program, uint64_t MemSize) {
  const char *Op = "initProgramData";
  const int32_t DeviceId = Program.DeviceId;
  auto Alloc = extension<clDeviceMemAllocTARNO_fn>(DeviceId, ExtDeviceMemAlloc);
  if (!Alloc) {
    reportMissing(Op, "clDeviceMemAllocTARNO");
    return nullptr;
  }
  cl_context Context = Program.Context;
  cl_device_id Device = Program.Device;
  cl_int Rc = CL_SUCCESS;
  auto AllocProp = makeAllocProperties(DeviceId, MemSize);
  void *Mem = CL_INVOKE_PTR_RC(clDeviceMemAllocTARNO, Alloc, Rc, Context, Device,
                               AllocProp->data(), MemSize, 0);
  return keepAllocation(DeviceId, Op, Mem, Rc) ? Mem : nullptr;
}

} // namespace

int32_t OpenCLProgramTy::initProgramData() {
  const PluginOptions &Option = DeviceInfo->Option;
  const DevicePropertiesTy &Properties = DeviceInfo->DeviceProperties[DeviceId];

  uint64_t HeapLB = 0, HeapUB = 0, PoolDevice = 0;
  if (Option.DynamicMemoryMethod != 0) {
    PoolDevice = reinterpret_cast<uintptr_t>(initDynamicMemPool(*this));
  } else if (const uint64_t MemSize = Option.DynamicMemorySize) {
    if (void *Mem = allocatePlainHeap(*this, MemSize)) {
      HeapLB = reinterpret_cast<uintptr_t>(Mem);
      HeapUB = HeapLB + MemSize;
    }
  }

  ProgramData.Initialized = 1;
  ProgramData.NumDevices = DeviceInfo->NumDevices;
  ProgramData.DeviceNum = DeviceId;
  ProgramData.TotalEUs =
      Properties.NumSlices * Properties.NumSubslicesPerSlice * Properties.NumEUsPerSubslice;
  ProgramData.HWThreadsPerEU = Properties.NumThreadsPerEU;
  ProgramData.DynamicMemoryLB = HeapLB;
  ProgramData.DynamicMemoryUB = HeapUB;
  ProgramData.DeviceType = Option.DeviceType != DeviceTypeGPU ? 1 : 0;
  ProgramData.DynamicMemPool = PoolDevice;
  ProgramData.TeamsThreadLimit = static_cast<uint32_t>(Properties.MaxWorkGroupSize);

  if (writeGlobalVariable("__omp_spirv_program_data", sizeof(ProgramData), &ProgramData) != 0)
    DP("Warning: cannot write global program data on device\n");
  return 0;
}
