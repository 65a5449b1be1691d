// Host threads at once with a tool attached: each launches with its own team count and reads its
// own launch record back, and creates, waits on and releases interop objects of its own.
#include "memory_fake_driver.h"
#include "ompt/ompt_entries.h"
#include "ompt_host_state.h"
#include "program_fake_driver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace memtest;
using namespace progtest;

extern "C" int32_t __kmpc_global_thread_num(void *);

TEST(InteropConcurrency, ThreadsKeepTheirOwnLaunchRecordsAndInteropObjects) {
  constexpr int Threads = 4, Rounds = 50;
  HostEntries Host;
  Host.add("k");
  ChildResult R = loadLinked(
      OneGPU, "kernel k args=0\nentry k\n", Host,
      [](OpenCLProgramTy &, TargetTable *Table, const fakecl::Client &Fake) {
        if (!Table)
          return 7;
        OmptHostState State;
        State.Flags = OmptEnabled;
        __tgt_rtl_init_ompt(&State);
        auto NumTeams = reinterpret_cast<int (*)(ompt_id_t)>(omptLookup("ompt_ext_get_num_teams"));
        void *Entry = Table->EntriesBegin[0].address;
        std::atomic<int> Wrong{0}, Finished{0};
        std::vector<std::thread> Pool;
        for (int T = 0; T < Threads; ++T)
          Pool.emplace_back([&, T] {
            for (int Round = 0; Round < Rounds; ++Round) {
              ompt_id_t TargetId = uint64_t(T) << 32 | uint64_t(Round);
              {
                // What the host runtime does when the thread enters a target region.
                std::lock_guard<std::mutex> Guard(State.Mutex);
                State.ThreadStates[__kmpc_global_thread_num(nullptr)].TargetId = TargetId;
              }
              Wrong += __tgt_rtl_run_target_team_nd_region(0, Entry, nullptr, nullptr, 0, T + 1, 8,
                                                           nullptr) != 0;
              Wrong += NumTeams(TargetId) != T + 1;
              InteropRecord *I = __tgt_rtl_create_interop(0, 1);
              Wrong += !I || __tgt_rtl_sync_barrier(I) != 0 || __tgt_rtl_release_interop(0, I) != 0;
            }
            // All alive until the last is done: the OpenMP runtime reuses a finished thread's
            // number.
            for (++Finished; Finished < Threads;)
              std::this_thread::yield();
          });
        for (std::thread &T : Pool)
          T.join();
        std::printf("wrong=%d queues=%zu entries=%zu\n", Wrong.load(), Fake.liveObjects("queue"),
                    State.ThreadStates.size());
        return 0;
      });
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  // The device's own queue stays; one entry per thread.
  EXPECT_EQ(R.Stdout, "wrong=0 queues=1 entries=4\n") << R.Stderr;
}

// A wait on a record that another thread releases meanwhile either finds the record live or
// refuses it; it never reads the record once it may be freed (the ThreadSanitizer build sees
// such a read). Using a record while releasing it stays the host's mistake: a queue's wait could
// still meet the released queue, so the records here have none.
TEST(InteropConcurrency, WaitsRacingAReleaseNeverReadAFreedRecord) {
  ChildResult R = runLinked(OneGPU, "", nullptr, [](const fakecl::Client &) {
    int Wrong = 0;
    for (int Round = 0; Round < 200; ++Round) {
      InteropRecord *I = __tgt_rtl_create_interop(0, 0);
      std::atomic<bool> Go{false};
      int32_t Waited = 0;
      std::thread Waiter([&] {
        while (!Go)
          std::this_thread::yield();
        Waited = __tgt_rtl_use_interop(0, I);
      });
      Go = true;
      Wrong += !I || __tgt_rtl_release_interop(0, I) != 0;
      Waiter.join();
      Wrong += Waited != 0 && Waited != -1;
    }
    std::printf("wrong=%d\n", Wrong);
    return 0;
  });
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_EQ(R.Stdout, "wrong=0\n") << R.Stderr;
}
