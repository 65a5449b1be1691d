// The program data record and the device heap: the pool's layout in-process, and over the fake
// driver the record a load writes, the plain heap, the pool as copied to the device, and the
// failures that leave a program without a heap.
#include "memory_fake_driver.h"
#include "program/program_data.h"
#include "program_fake_driver.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace memtest;
using namespace progtest;

namespace {

const std::string Module = "kernel k\nglobal __omp_spirv_program_data 64";

// Hardware attributes every test device reports.
const std::string Attributes = "devinfo 0x4252 u32 2\ndevinfo 0x4253 u32 3\n"
                               "devinfo 0x4254 u32 5\ndevinfo 0x4255 u32 7\n"
                               "devinfo 0x1004 size 512\n";

template <typename T> T at(const void *Bytes, size_t Offset) {
  T Value;
  std::memcpy(&Value, static_cast<const uint8_t *>(Bytes) + Offset, sizeof(T));
  return Value;
}

// The record as device code reads it, field by field from its byte offsets; the padding must
// stay zero.
struct Record {
  uint32_t Marker, NumDevices, DeviceNum, EUs, ThreadsPerEU, NotGPU, MaxGroup;
  uint64_t LB, UB, Pool;
  bool PaddingZero;
};

Record readRecord(const void *Bytes) {
  Record R;
  R.Marker = at<uint32_t>(Bytes, 0);
  R.NumDevices = at<uint32_t>(Bytes, 4);
  R.DeviceNum = at<uint32_t>(Bytes, 8);
  R.EUs = at<uint32_t>(Bytes, 12);
  R.ThreadsPerEU = at<uint32_t>(Bytes, 16);
  R.LB = at<uint64_t>(Bytes, 24);
  R.UB = at<uint64_t>(Bytes, 32);
  R.NotGPU = at<uint32_t>(Bytes, 40);
  R.Pool = at<uint64_t>(Bytes, 48);
  R.MaxGroup = at<uint32_t>(Bytes, 56);
  R.PaddingZero = !at<uint32_t>(Bytes, 20) && !at<uint32_t>(Bytes, 44) && !at<uint32_t>(Bytes, 60);
  return R;
}

// Loads the module on a device; the record's bytes are then the fake's global. Null on a failed
// load.
const void *loadModule(int32_t DeviceId, const std::string &Manifest,
                       TargetTable *(*Load)(int32_t, DeviceImage *), const fakecl_control_v1 &Fake) {
  static std::vector<uint8_t> Bytes;
  static HostEntries Host;
  Bytes = spirvModule(Manifest);
  static DeviceImage Image;
  Image = imageOf(Bytes, Host);
  if (!Load(DeviceId, &Image))
    return nullptr;
  size_t Size = 0;
  void *Global = Fake.find_global("__omp_spirv_program_data", &Size);
  return Size == 64 ? Global : nullptr;
}

bool allZero(const void *Mem, size_t Size) {
  const uint8_t *B = static_cast<const uint8_t *>(Mem);
  return std::all_of(B, B + Size, [](uint8_t V) { return V == 0; });
}

} // namespace

TEST(PoolLayout, OneMegabyteHeapsAndHeapCounts) {
  PoolTy Pool;
  std::memset(static_cast<void *>(&Pool), 0x5A, sizeof(Pool)); // all must be laid out anew
  const uint64_t Base = 0x7f0000000000, MB = 1 << 20;
  layOutPool(Pool, Base, MB);
  EXPECT_EQ(Pool.PoolBase, Base);
  EXPECT_EQ(Pool.HeapSize, MB);
  ASSERT_EQ(Pool.NumHeaps, 3u);
  const uint64_t BlockSize[] = {64, 4096, 262144}, MaxSize[] = {2048, 131072, 1048576};
  const uint32_t Blocks[] = {16384, 256, 4}, Desc[] = {512, 8, 1}, Counters[] = {16, 1, 1};
  for (int I = 0; I < 3; ++I) {
    const PoolHeapTy &H = Pool.Heaps[I];
    EXPECT_EQ(H.Base, Base + I * MB) << I;
    EXPECT_EQ(H.BlockSize, BlockSize[I]) << I;
    EXPECT_EQ(H.MaxSize, MaxSize[I]) << I;
    EXPECT_EQ(H.NumBlocks, Blocks[I]) << I;
    EXPECT_EQ(H.NumBlockDesc, Desc[I]) << I;
    EXPECT_EQ(H.NumBlockCounter, Counters[I]) << I;
    EXPECT_EQ(H.Padding | H.BlockDesc | H.BlockCounter, 0u) << I;
  }
  EXPECT_EQ(Pool.Padding, 0u);
  EXPECT_TRUE(allZero(&Pool.Heaps[3], sizeof(PoolHeapTy) * (PoolMaxHeaps - 3)));

  // The largest pool the option allows: four heaps, the last with 32 blocks of 16 MB.
  layOutPool(Pool, Base, PoolMaxHeapSize);
  ASSERT_EQ(Pool.NumHeaps, 4u);
  EXPECT_EQ(Pool.Heaps[0].NumBlocks, 1u << 23);
  EXPECT_EQ(Pool.Heaps[0].NumBlockDesc, 1u << 18);
  EXPECT_EQ(Pool.Heaps[0].NumBlockCounter, 1u << 13);
  EXPECT_EQ(Pool.Heaps[3].BlockSize, 16u * MB);
  EXPECT_EQ(Pool.Heaps[3].NumBlocks, 32u);
  EXPECT_EQ(Pool.Heaps[3].MaxSize, 512u * MB);

  const std::pair<uint64_t, uint32_t> Counts[] = {
      {0, 1},         {1, 1},         {2048, 1},          {2049, 2},         {131072, 2},
      {131073, 3},    {8388608, 3},   {8388609, 4},       {536870912, 4},    {536870913, 5},
      {~0ull, PoolMaxHeaps}};
  for (auto [Size, Count] : Counts)
    EXPECT_EQ(poolHeapCount(Size), Count) << Size;
}

TEST(ProgramData, RecordWithoutHeapOnGPUAndCPU) {
  struct Case {
    std::string Layout;
    EnvironmentList Env;
    int32_t DeviceId;
    uint32_t NumDevices, NotGPU;
  } Cases[] = {
      {TwoGPUs + Attributes, {}, 1, 2, 0},
      {OneCPU + Attributes, {{"LIBOMPTARGET_DEVICETYPE", "cpu"}}, 0, 1, 1},
  };
  for (const Case &C : Cases) {
    ChildResult R = runPlugin(C.Layout, "", C.Env, [&](HostPlugin &P, const fakecl_control_v1 &Fake) {
      const void *Bytes = loadModule(C.DeviceId, Module, P.load_binary, Fake);
      if (!Bytes)
        return 7;
      Record D = readRecord(Bytes);
      std::printf("%u %u %u %u %u %llu %llu %u %llu %u %d\n", D.Marker, D.NumDevices, D.DeviceNum,
                  D.EUs, D.ThreadsPerEU, (unsigned long long)D.LB, (unsigned long long)D.UB,
                  D.NotGPU, (unsigned long long)D.Pool, D.MaxGroup, D.PaddingZero);
      return 0;
    });
    ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
    char Expected[80];
    std::snprintf(Expected, sizeof(Expected), "1 %u %d 30 7 0 0 %u 0 512 1\n", C.NumDevices,
                  C.DeviceId, C.NotGPU);
    EXPECT_EQ(R.Stdout, Expected);
  }
}

TEST(ProgramData, PlainHeapIsOneOwnedBlock) {
  ChildResult R = runLinked(
      OneGPU + Attributes, "",
      [] {
        DeviceInfo->Option.DynamicMemorySize = 16 << 20;
        DeviceInfo->Option.DynamicMemoryMethod = 0;
      },
      [](const fakecl::Client &Fake) {
        const void *Bytes = loadModule(0, Module, __tgt_rtl_load_binary, Fake.table());
        if (!Bytes)
          return 7;
        Record D = readRecord(Bytes);
        void *Heap = reinterpret_cast<void *>(D.LB);
        fakecl_usm_info Usm = Fake.usmInfo(Heap);
        std::printf("span=%llu pool=%llu type=%x base=%d size=%zu owned=%d\n",
                    (unsigned long long)(D.UB - D.LB), (unsigned long long)D.Pool, Usm.type,
                    Usm.base == Heap, Usm.size,
                    DeviceInfo->OwnedMemory[0] == std::vector<void *>{Heap});
        closeRTL();
        std::printf("usm after shutdown=%zu\n", Fake.liveObjects("usm"));
        return 0;
      });
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_EQ(R.Stdout, "span=16777216 pool=0 type=4198 base=1 size=16777216 owned=1\n"
                      "usm after shutdown=0\n");
}

TEST(ProgramData, PoolIsCopiedToTheDeviceWithZeroedBookkeeping) {
  ChildResult R = runLinked(
      OneGPU + Attributes, "",
      [] {
        DeviceInfo->Option.DynamicMemorySize = 1 << 20;
        DeviceInfo->Option.DynamicMemoryMethod = 1;
      },
      [](const fakecl::Client &Fake) {
        const void *Bytes = loadModule(0, Module, __tgt_rtl_load_binary, Fake.table());
        if (!Bytes)
          return 7;
        Record D = readRecord(Bytes);
        const void *Device = reinterpret_cast<const void *>(D.Pool);
        fakecl_usm_info PoolUsm = Fake.usmInfo(Device);
        std::printf("lb=%llu ub=%llu descriptor=%x,%zu\n", (unsigned long long)D.LB,
                    (unsigned long long)D.UB, PoolUsm.type, PoolUsm.size);
        // The descriptor as the device sees it, against the layout the host computes.
        uint64_t Base = at<uint64_t>(Device, 0);
        PoolTy Expected;
        layOutPool(Expected, Base, 1 << 20);
        fakecl_usm_info BaseUsm = Fake.usmInfo(reinterpret_cast<void *>(Base));
        std::printf("base=%x,%zu,%d\n", BaseUsm.type, BaseUsm.size,
                    BaseUsm.base == reinterpret_cast<void *>(Base));
        std::vector<void *> Owned = {reinterpret_cast<void *>(Base)};
        for (uint32_t I = 0; I < Expected.NumHeaps; ++I) {
          auto *Desc = reinterpret_cast<void *>(at<uint64_t>(Device, 24 + 56 * I + 40));
          auto *Counter = reinterpret_cast<void *>(at<uint64_t>(Device, 24 + 56 * I + 48));
          Expected.Heaps[I].BlockDesc = reinterpret_cast<uintptr_t>(Desc);
          Expected.Heaps[I].BlockCounter = reinterpret_cast<uintptr_t>(Counter);
          fakecl_usm_info DescUsm = Fake.usmInfo(Desc), CounterUsm = Fake.usmInfo(Counter);
          std::printf("heap %u desc=%x,%zu,%d counter=%x,%zu,%d\n", I, DescUsm.type,
                      DescUsm.size, allZero(Desc, DescUsm.size), CounterUsm.type,
                      CounterUsm.size, allZero(Counter, CounterUsm.size));
          Owned.push_back(Desc);
          Owned.push_back(Counter);
        }
        Owned.push_back(const_cast<void *>(Device));
        std::printf("bytes equal=%d owned=%d\n",
                    std::memcmp(Device, &Expected, sizeof(PoolTy)) == 0,
                    DeviceInfo->OwnedMemory[0] == Owned);
        closeRTL();
        std::printf("usm after shutdown=%zu\n", Fake.liveObjects("usm"));
        return 0;
      });
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_EQ(splitLines(R.Stdout), (std::vector<std::string>{
                                      "lb=0 ub=0 descriptor=4198,472",
                                      "base=4198,3145728,1",
                                      "heap 0 desc=4198,4096,1 counter=4198,64,1",
                                      "heap 1 desc=4198,64,1 counter=4198,4,1",
                                      "heap 2 desc=4198,8,1 counter=4198,4,1",
                                      "bytes equal=1 owned=1",
                                      "usm after shutdown=0",
                                  }));
}

// Status a body returns after shutting the plugin down itself.
constexpr int ShutDown = 42;

TEST(ProgramData, FailedHeapsLeaveZerosAndFreeTheirBuffersAtShutdown) {
  struct Case {
    const char *Size, *Faults, *Line;
    size_t LiveBeforeShutdown;
  } Cases[] = {
      {"16,0", "fail clDeviceMemAllocTARNO",
       "Error: initProgramData:clDeviceMemAllocTARNO failed with error code -5, "
       "CL_OUT_OF_RESOURCES",
       0},
      {"1", "fail clDeviceMemAllocTARNO nth=3",
       "Error: initDynamicMemPool:clDeviceMemAllocTARNO failed with error code -5, "
       "CL_OUT_OF_RESOURCES",
       2},
      {"1", "fail clEnqueueMemcpyTARNO nth=2 err=-36",
       "Error: initDynamicMemPool:clEnqueueMemcpyTARNO failed with error code -36, "
       "CL_INVALID_COMMAND_QUEUE",
       3},
      {"1", "extfn clDeviceMemAllocTARNO off",
       "Error: initDynamicMemPool:clDeviceMemAllocTARNO is not available", 0},
      {"16,0", "extfn clDeviceMemAllocTARNO off",
       "Error: initProgramData:clDeviceMemAllocTARNO is not available", 0},
  };
  for (const Case &C : Cases) {
    ChildResult R = runPlugin(
        OneGPU + Attributes, C.Faults,
        {{"LIBOMPTARGET_DEBUG", "1"}, {"LIBOMPTARGET_DYNAMIC_MEMORY_SIZE", C.Size}},
        [&](HostPlugin &P, const fakecl_control_v1 &Fake) {
          const void *Bytes = loadModule(0, Module, P.load_binary, Fake);
          if (!Bytes)
            return 7;
          Record D = readRecord(Bytes);
          std::printf("heap=%llu,%llu,%llu live=%zu\n", (unsigned long long)D.LB,
                      (unsigned long long)D.UB, (unsigned long long)D.Pool,
                      Fake.live_objects("usm"));
          P.unregister_lib(nullptr);
          std::printf("usm after shutdown=%zu\n", Fake.live_objects("usm"));
          return ShutDown;
        });
    ASSERT_EQ(R.ExitStatus, ShutDown) << C.Faults << "\n" << R.Stderr;
    EXPECT_EQ(R.Stdout, "heap=0,0,0 live=" + std::to_string(C.LiveBeforeShutdown) +
                            "\nusm after shutdown=0\n")
        << C.Faults;
    EXPECT_TRUE(hasLine(R.Stderr, Prefix + C.Line)) << C.Faults << "\n" << R.Stderr;
  }
}

TEST(ProgramData, MissingGlobalOnlyWarns) {
  ChildResult R = runPlugin(OneGPU, "", {{"LIBOMPTARGET_DEBUG", "1"}},
                            [&](HostPlugin &P, const fakecl_control_v1 &) {
                              std::vector<uint8_t> Bytes = spirvModule("kernel k");
                              HostEntries Host;
                              DeviceImage Image = imageOf(Bytes, Host);
                              return P.load_binary(0, &Image) ? 0 : 7;
                            });
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_TRUE(hasLine(R.Stderr, Prefix + "Warning: cannot write global program data on device"))
      << R.Stderr;
}

TEST(ProgramData, CallTextsOfTheHeapAllocationsAndCopies) {
  const std::pair<const char *, std::vector<std::string>> Cases[] = {
      {"16,0",
       {"clDeviceMemAllocTARNO ( Context, Device, AllocProp->data(), MemSize, 0 )"}},
      {"1",
       {"clDeviceMemAllocTARNO ( Context, Device, BaseProp->data(), BaseSize, 0 )",
        "clDeviceMemAllocTARNO ( Context, Device, DescProp->data(), DescSize, 0 )",
        "clEnqueueMemcpyTARNO ( DeviceInfo->Queues[DeviceId], 1, Heap.BlockDesc, "
        "BlockDescInit.data(), DescSize, 0, nullptr, nullptr )",
        "clDeviceMemAllocTARNO ( Context, Device, CounterProp->data(), CounterSize, 0 )",
        "clEnqueueMemcpyTARNO ( DeviceInfo->Queues[DeviceId], 1, Heap.BlockCounter, "
        "BlockCounterInit.data(), CounterSize, 0, nullptr, nullptr )",
        "clDeviceMemAllocTARNO ( Context, Device, PoolProp->data(), sizeof(Pool), 0 )",
        "clEnqueueMemcpyTARNO ( DeviceInfo->Queues[DeviceId], 1, PoolDevice, &Pool, "
        "sizeof(Pool), 0, nullptr, nullptr )"}},
  };
  for (const auto &[Size, Texts] : Cases) {
    ChildResult R = runPlugin(
        OneGPU, "", {{"LIBOMPTARGET_DEBUG", "2"}, {"LIBOMPTARGET_DYNAMIC_MEMORY_SIZE", Size}},
        [&](HostPlugin &P, const fakecl_control_v1 &) {
          std::vector<uint8_t> Bytes = spirvModule(Module);
          HostEntries Host;
          DeviceImage Image = imageOf(Bytes, Host);
          return P.load_binary(0, &Image) ? 0 : 7;
        });
    ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
    for (const std::string &Text : Texts)
      EXPECT_TRUE(hasLine(R.Stderr, Prefix + "CL_CALLER: " + Text)) << Text << "\n" << R.Stderr;
  }
}

// Shutdown releases the queue, frees the plugin's own memory, releases the context, then the
// programs; a failed free is reported and shutdown goes on.
TEST(ProgramData, ShutdownOrderAndAFailedFreeOfOwnedMemory) {
  for (const char *Faults : {"", "fail clMemFreeTARNO all err=-38"}) {
    SCOPED_TRACE(Faults);
    ChildResult R = runPlugin(
        OneGPU, Faults, {{"LIBOMPTARGET_DEBUG", "1"}, {"LIBOMPTARGET_DYNAMIC_MEMORY_SIZE", "16,0"}},
        [&](HostPlugin &P, const fakecl_control_v1 &Fake) {
          if (!loadModule(0, Module, P.load_binary, Fake))
            return 7;
          Fake.reset_log();
          P.unregister_lib(nullptr);
          for (const std::string &Line : splitLines(fakeCallLog(Fake)))
            if (Line.rfind("clRelease", 0) == 0 || Line.rfind("clMemFree", 0) == 0)
              std::printf("%s\n", Line.substr(0, Line.find('(')).c_str());
          return ShutDown;
        });
    ASSERT_EQ(R.ExitStatus, ShutDown) << R.Stderr;
    EXPECT_EQ(R.Stdout, "clReleaseCommandQueue\nclMemFreeTARNO\nclReleaseContext\n"
                        "clReleaseProgram\nclReleaseProgram\n");
    EXPECT_EQ(hasLine(R.Stderr, Prefix + "Error: closeRTL:clMemFreeTARNO failed with error code "
                                         "-38, CL_INVALID_MEM_OBJECT"),
              *Faults != '\0')
        << R.Stderr;
    EXPECT_TRUE(hasLine(R.Stderr, Prefix + "Closed RTL successfully")) << R.Stderr;
  }
}
