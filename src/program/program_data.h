// The records device code reads to learn about its device and its heap: the program data record
// written to "__omp_spirv_program_data", and the descriptor of the dynamic memory pool with one
// entry per heap. Layouts are fixed byte for byte (little-endian, fixed-width fields).
#ifndef PROGRAM_PROGRAM_DATA_H
#define PROGRAM_PROGRAM_DATA_H

#include <cstddef>
#include <cstdint>

struct ProgramDataTy {
  uint32_t Initialized = 0;   // 1 once filled
  uint32_t NumDevices = 0;
  int32_t DeviceNum = -1;     // the program's device number
  uint32_t TotalEUs = 0;      // slices x subslices per slice x EUs per subslice
  uint32_t HWThreadsPerEU = 0;
  uint32_t Padding0 = 0;
  uint64_t DynamicMemoryLB = 0; // plain heap: first byte, else 0
  uint64_t DynamicMemoryUB = 0; // plain heap: one past the last byte, else 0
  uint32_t DeviceType = 0;      // 1 when the device is not a GPU
  uint32_t Padding1 = 0;
  uint64_t DynamicMemPool = 0;  // device address of the pool descriptor, else 0
  uint32_t TeamsThreadLimit = 0; // low 32 bits of the maximum work-group size
  uint32_t Padding2 = 0;
};
static_assert(sizeof(ProgramDataTy) == 64, "program data record is 64 bytes");
static_assert(offsetof(ProgramDataTy, DynamicMemoryLB) == 24, "program data layout");
static_assert(offsetof(ProgramDataTy, DeviceType) == 40, "program data layout");
static_assert(offsetof(ProgramDataTy, DynamicMemPool) == 48, "program data layout");
static_assert(offsetof(ProgramDataTy, TeamsThreadLimit) == 56, "program data layout");

constexpr uint32_t PoolMaxHeaps = 8;
// The largest heap a pool is built with (the dynamic memory option's limit): its blocks, and so
// its descriptor and counter words, stay countable in 32 bits.
constexpr uint64_t PoolMaxHeapSize = uint64_t(512) << 20;

struct PoolHeapTy {
  uint64_t Base = 0;          // pool base + index x heap size
  uint64_t BlockSize = 0;     // 64 x 64^index
  uint64_t MaxSize = 0;       // largest allocation served by this heap
  uint32_t NumBlocks = 0;
  uint32_t NumBlockDesc = 0;    // descriptor words: ceil(blocks / 32)
  uint32_t NumBlockCounter = 0; // counter words: ceil(descriptor words / 32)
  uint32_t Padding = 0;
  uint64_t BlockDesc = 0;     // device address of NumBlockDesc 8-byte words, zeroed
  uint64_t BlockCounter = 0;  // device address of NumBlockCounter 4-byte words, zeroed
};
static_assert(sizeof(PoolHeapTy) == 56, "pool heap entry is 56 bytes");
static_assert(offsetof(PoolHeapTy, NumBlocks) == 24, "pool heap layout");
static_assert(offsetof(PoolHeapTy, BlockDesc) == 40, "pool heap layout");

struct PoolTy {
  uint64_t PoolBase = 0;
  uint64_t HeapSize = 0;
  uint32_t NumHeaps = 0;
  uint32_t Padding = 0;
  PoolHeapTy Heaps[PoolMaxHeaps] = {};
};
static_assert(sizeof(PoolTy) == 472, "pool descriptor is 472 bytes");
static_assert(offsetof(PoolTy, Heaps) == 24, "pool descriptor layout");

// The number of heaps a pool of HeapSize-byte heaps needs: the smallest n >= 1 whose largest
// allocation, 2048 x 64^(n-1), reaches HeapSize (at most PoolMaxHeaps).
uint32_t poolHeapCount(uint64_t HeapSize);
// Fills the descriptor of a pool whose base buffer is at PoolBase (device addresses of the
// per-heap arrays are left 0, entries past the heaps in use are zero). HeapSize at most
// PoolMaxHeapSize.
void layOutPool(PoolTy &Pool, uint64_t PoolBase, uint64_t HeapSize);

struct OpenCLProgramTy;
// Builds the pool on the program's device; the device address of its descriptor, or null.
void *initDynamicMemPool(OpenCLProgramTy &Program);

#endif
