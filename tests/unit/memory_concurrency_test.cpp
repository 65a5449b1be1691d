// Several host threads allocating, copying, querying and deleting on one device at once.
#include "memory_fake_driver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

using namespace memtest;

namespace {

constexpr int Threads = 8;
constexpr int Rounds = 200;

// One thread's work; returns the number of wrong answers.
int work(int Seed) {
  int Wrong = 0;
  std::vector<unsigned char> In(4096), Out(4096);
  for (int Round = 0; Round < Rounds; ++Round) {
    int32_t Kind = (Seed + Round) % 3;
    size_t Size = 64 + (Seed * 131 + Round * 17) % 4000;
    for (size_t I = 0; I < Size; ++I)
      In[I] = static_cast<unsigned char>(Seed * 7 + Round + I);
    char *P = static_cast<char *>(__tgt_rtl_data_alloc(0, Size, nullptr, Kind));
    if (!P) {
      ++Wrong;
      continue;
    }
    Wrong += __tgt_rtl_data_submit(0, P, In.data(), Size) != 0;
    Wrong += __tgt_rtl_get_device_from_ptr(P + Size - 1) != (Kind == 1 ? -1 : 0);
    Wrong += __tgt_rtl_is_accessible_addr_range(0, P, Size) != 1;
    if (Round % 4 == 0) {
      // Growing moves the data to a fresh allocation of the same kind.
      char *Q = static_cast<char *>(__tgt_rtl_data_realloc(0, P, Size + 64, Kind));
      Wrong += Q == nullptr;
      P = Q ? Q : P;
    }
    Wrong += __tgt_rtl_data_retrieve(0, Out.data(), P, Size) != 0;
    Wrong += std::memcmp(In.data(), Out.data(), Size) != 0;
    Wrong += __tgt_rtl_data_delete(0, P) != 0;
  }
  return Wrong;
}

} // namespace

TEST(MemoryConcurrency, ThreadsShareOneDevice) {
  ChildResult R = runLinked(
      OneGPU, "", [] { DeviceInfo->Option.Flags |= OptionFlagProfile; },
      [](const fakecl::Client &Fake) {
        std::atomic<int> Wrong{0};
        std::vector<std::thread> Pool;
        for (int T = 0; T < Threads; ++T)
          Pool.emplace_back([T, &Wrong] { Wrong += work(T); });
        for (std::thread &T : Pool)
          T.join();
        // Every copy lands in its own thread's record: nothing is lost between threads.
        double Writes = 0, Reads = 0;
        for (const auto &Entry : DeviceInfo->Profiles[0]) {
          auto W = Entry.second.Records.find("DataWrite (Host to Device)");
          auto Rd = Entry.second.Records.find("DataRead (Device to Host)");
          Writes += W == Entry.second.Records.end() ? 0 : W->second.HostTime;
          Reads += Rd == Entry.second.Records.end() ? 0 : Rd->second.HostTime;
        }
        // The OpenMP runtime may hand a finished thread's number to a later one, so threads
        // that did not overlap can share an entry: the totals are what must add up.
        size_t Entries = DeviceInfo->Profiles[0].size();
        std::printf("wrong=%d threads=%s writes=%.0f reads=%.0f\n", Wrong.load(),
                    Entries >= 1 && Entries <= Threads ? "ok" : "bad", Writes, Reads);
        std::printf("records=%zu implicit=%d usm=%zu events=%zu\n",
                    DeviceInfo->AllocationTables[0]->Allocations.size(),
                    DeviceInfo->AllocationTables[0]->hasImplicit(3), Fake.liveObjects("usm"),
                    Fake.liveObjects("event"));
        return 0;
      });
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  // Default event times: 1300 ns from queueing to completion for every copy.
  char Expected[160];
  std::snprintf(Expected, sizeof(Expected), "wrong=0 threads=ok writes=%d reads=%d\n",
                Threads * Rounds * 1300, Threads * Rounds * 1300);
  EXPECT_EQ(R.Stdout, std::string(Expected) + "records=0 implicit=0 usm=0 events=0\n")
      << R.Stderr;
}
