// Host threads launching one kernel on one device at once: each launch runs with its own
// arguments, because binding and enqueue happen under the device mutex.
#include "memory_fake_driver.h"
#include "program_fake_driver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace memtest;
using namespace progtest;

namespace {

constexpr int Threads = 4;
constexpr int Rounds = 100;

// The kernel stores its 8-byte value argument where its pointer argument points.
void storeValue(const fakecl_launch *L, void *) {
  uint64_t Value;
  std::memcpy(&Value, L->args[1].value, sizeof(Value));
  *static_cast<uint64_t *>(L->args[0].pointer) = Value;
}

} // namespace

TEST(LaunchConcurrency, ThreadsLaunchOneKernelWithTheirOwnArguments) {
  HostEntries Host;
  Host.add("store");
  ChildResult R = loadLinked(OneGPU, "kernel store args=2\nentry store\n", Host,
                             [](OpenCLProgramTy &, TargetTable *Table, const fakecl::Client &Fake) {
    if (!Table)
      return 7;
    Fake.setKernelBody("store", storeValue);
    void *Entry = Table->EntriesBegin[0].address;
    std::atomic<int> Wrong{0};
    std::vector<std::thread> Pool;
    for (int T = 0; T < Threads; ++T)
      Pool.emplace_back([T, Entry, &Wrong] {
        auto *Slot = static_cast<uint64_t *>(__tgt_rtl_data_alloc(0, 8, nullptr, 2));
        for (int Round = 0; Round < Rounds; ++Round) {
          uint64_t Value = uint64_t(T) << 32 | uint64_t(Round);
          void *Args[] = {Slot, reinterpret_cast<void *>(Value)};
          ptrdiff_t Offsets[] = {0, INT64_MAX};
          Wrong += __tgt_rtl_run_target_team_nd_region(0, Entry, Args, Offsets, 2, 1, 1,
                                                       nullptr) != 0;
          Wrong += *Slot != Value;
        }
        Wrong += __tgt_rtl_data_delete(0, Slot) != 0;
      });
    for (std::thread &T : Pool)
      T.join();
    std::printf("wrong=%d events=%zu\n", Wrong.load(), Fake.liveObjects("event"));
    return 0;
  });
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_EQ(R.Stdout, "wrong=0 events=0\n") << R.Stderr;
}
