// Real target regions end to end: the shared plugin loaded by the host runtime stand-in, the
// layer under it, PoCL's CPU device underneath. Each case runs in a fresh child process (the
// plugin reads its environment once), loads the test image on every device and checks exact
// results. CTest runs the suite once on one device and once on two.
#include "child_process.h"
#include "host_runtime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

int64_t HostValue = 5;
int64_t HostExtra = 77; // a declare-target variable the device program does not define

struct Session {
  HostRuntime RT;
  std::vector<std::unique_ptr<HostImage>> Images; // one per device
  void *entry(int32_t Device, const char *Name) { return findEntry(*Images[Device], Name); }
};

using Body = std::function<int(Session &)>;

// Starts the plugin with the base environment plus Env, loads ImagePath on every device, runs Body
// and shuts down; the child's exit status is Body's (or 90+ for a failed set-up).
ChildResult runSession(const EnvironmentList &Env, const Body &B,
                       const char *ImagePath = E2E_IMAGE) {
  EnvironmentList All = {{"OPENCL_LAYERS", LAYER_PATH},
                         {"LIBOMPTARGET_DEVICETYPE", "cpu"},
                         {"LIBOMPTARGET_DYNAMIC_MEMORY_SIZE", "1,0"}};
  All.insert(All.end(), Env.begin(), Env.end());
  return runInChild(All, [&] {
    Session S;
    if (!startHostRuntime(S.RT, PLUGIN_PATH))
      return 90;
    for (int32_t Device = 0; Device < S.RT.NumDevices; ++Device) {
      auto Image = std::make_unique<HostImage>();
      Image->region("e2e_saxpy").region("e2e_reduce").region("e2e_grid");
      Image->region("e2e_read_value").region("e2e_heap");
      Image->variable("e2e_value", &HostValue, sizeof(HostValue));
      Image->variable("e2e_extra", &HostExtra, sizeof(HostExtra));
      if (!readImageFile(ImagePath, *Image) || !loadImage(S.RT, Device, *Image))
        return 91;
      S.Images.push_back(std::move(Image));
    }
    int Rc = B(S);
    stopHostRuntime(S.RT);
    return Rc;
  });
}

int expectedDevices() {
  const char *Text = std::getenv("E2E_DEVICES");
  return Text ? std::atoi(Text) : 1;
}

// saxpy over N floats on a device with y passed 16 floats into its buffer; 0 when exact.
int saxpy(Session &S, int32_t Device, int64_t N, int32_t Teams, int32_t Threads) {
  std::vector<float> X(N), Y(N + 16, -1.0f), Expected(N);
  for (int64_t I = 0; I < N; ++I) {
    X[I] = 0.5f * float(I % 1000);
    Y[I + 16] = float(I % 7);
    Expected[I] = 3.0f * X[I] + Y[I + 16];
  }
  HostRuntime &RT = S.RT;
  void *DX = mapTo(RT, Device, X.data(), N * 4);
  void *DY = mapTo(RT, Device, Y.data(), (N + 16) * 4);
  float A = 3.0f;
  if (!DX || !DY ||
      !launchRegion(RT, Device, S.entry(Device, "e2e_saxpy"),
                    {LaunchArg::pointer(DY, 16 * 4), LaunchArg::pointer(DX),
                     LaunchArg::byValue(&A), LaunchArg::byValue(&N)},
                    Teams, Threads) ||
      !copyFrom(RT, Device, Y.data(), DY, (N + 16) * 4))
    return 1;
  int Wrong = Y[15] != -1.0f; // nothing before the offset was touched
  Wrong += std::memcmp(Y.data() + 16, Expected.data(), N * 4) != 0;
  Wrong += !unmap(RT, Device, DX) + !unmap(RT, Device, DY);
  return Wrong;
}

} // namespace

TEST(EndToEnd, SaxpyOverAMillionFloats) {
  ChildResult R = runSession({}, [](Session &S) {
    int Wrong = 0;
    for (int32_t Device = 0; Device < S.RT.NumDevices; ++Device)
      Wrong += saxpy(S, Device, 1 << 20, (1 << 20) / 256, 256);
    return S.RT.NumDevices == expectedDevices() ? Wrong : 50;
  });
  EXPECT_EQ(R.ExitStatus, 0) << R.Stderr;
}

TEST(EndToEnd, TeamsReductionWithItsTeamCap) {
  ChildResult R = runSession({}, [](Session &S) {
    const int64_t N = 100003; // no multiple of any team size
    std::vector<uint32_t> In(N), Total(3, 0);
    for (int64_t I = 0; I < N; ++I)
      In[I] = uint32_t(I % 7 + 1);
    void *DIn = mapTo(S.RT, 0, In.data(), N * 4);
    void *DTotal = mapTo(S.RT, 0, Total.data(), 12);
    int64_t Count = N;
    // Asked for more and larger teams than the kernel's record allows (8 teams of 64).
    if (!launchRegion(S.RT, 0, S.entry(0, "e2e_reduce"),
                      {LaunchArg::pointer(DTotal), LaunchArg::pointer(DIn),
                       LaunchArg::byValue(&Count)},
                      0, 0) ||
        !copyFrom(S.RT, 0, Total.data(), DTotal, 12))
      return 1;
    std::printf("total=%u teams<=8:%d team<=64:%d\n", Total[0], Total[1] >= 1 && Total[1] <= 8,
                Total[2] >= 1 && Total[2] <= 64);
    return 0;
  });
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_EQ(R.Stdout, "total=400009 teams<=8:1 team<=64:1\n"); // 14286 cycles of 1..7, then 1
}

TEST(EndToEnd, LoopRegionsAsNDRanges) {
  ChildResult R = runSession({}, [](Session &S) {
    const int64_t Cols = 333, Rows = 7; // no multiple of the team size
    std::vector<int64_t> Grid(Cols * Rows, -1);
    void *D = mapTo(S.RT, 0, Grid.data(), Cols * Rows * 8);
    LoopDescriptor Loops = {2, 0, {{0, Cols - 1, 1}, {0, Rows - 1, 1}, {0, 0, 0}}};
    void *Entry = S.entry(0, "e2e_grid");
    if (!launchRegion(S.RT, 0, Entry,
                      {LaunchArg::pointer(D), LaunchArg::scalar(Cols), LaunchArg::scalar(Rows)},
                      0, 0, &Loops) ||
        !copyFrom(S.RT, 0, Grid.data(), D, Cols * Rows * 8))
      return 1;
    int Wrong = 0;
    for (int64_t J = 0; J < Rows; ++J)
      for (int64_t I = 0; I < Cols; ++I)
        Wrong += Grid[J * Cols + I] != J * 1000 + I;
    // An empty loop launches one work-item, which finds nothing to do.
    LoopDescriptor Empty = {1, 0, {{5, 4, 1}, {0, 0, 0}, {0, 0, 0}}};
    std::vector<int64_t> Untouched(4, -1);
    Wrong += !copyTo(S.RT, 0, D, Untouched.data(), 32);
    Wrong += !launchRegion(S.RT, 0, Entry,
                           {LaunchArg::pointer(D), LaunchArg::scalar(0), LaunchArg::scalar(0)},
                           0, 0, &Empty);
    Wrong += !copyFrom(S.RT, 0, Untouched.data(), D, 32);
    Wrong += Untouched != std::vector<int64_t>(4, -1);
    return Wrong;
  });
  EXPECT_EQ(R.ExitStatus, 0) << R.Stderr;
}

TEST(EndToEnd, DeclareTargetVariablesAndTheProgramData) {
  ChildResult R = runSession({}, [](Session &S) {
    int Wrong = 0;
    for (int32_t Device = 0; Device < S.RT.NumDevices; ++Device) {
      // Written by the host, read by a kernel.
      int64_t Value = 1234 + Device, Out = 0, Extra = 0;
      void *DOut = mapTo(S.RT, Device, nullptr, 8);
      Wrong += !copyTo(S.RT, Device, S.entry(Device, "e2e_value"), &Value, 8);
      Wrong += !launchRegion(S.RT, Device, S.entry(Device, "e2e_read_value"),
                             {LaunchArg::pointer(DOut)}, 1, 1);
      Wrong += !copyFrom(S.RT, Device, &Out, DOut, 8) || Out != 2 * Value;
      // The device program lacks this one: it got memory holding the host's value.
      Wrong += !copyFrom(S.RT, Device, &Extra, S.entry(Device, "e2e_extra"), 8) || Extra != 77;
      // The program data record with a plain 1 MB heap.
      uint64_t Data[4] = {};
      void *DData = mapTo(S.RT, Device, nullptr, 32);
      Wrong += !launchRegion(S.RT, Device, S.entry(Device, "e2e_heap"), {LaunchArg::pointer(DData)},
                             1, 1);
      Wrong += !copyFrom(S.RT, Device, Data, DData, 32);
      Wrong += Data[0] != 1 || Data[1] == 0 || Data[2] - Data[1] != (1u << 20) ||
               Data[3] != uint64_t(Device);
    }
    return Wrong;
  });
  EXPECT_EQ(R.ExitStatus, 0) << R.Stderr;
}

TEST(EndToEnd, AContainerWhoseFirstImageHasAnUnknownFormat) {
  ChildResult R = runSession({}, [](Session &S) { return saxpy(S, 0, 1000, 4, 256); },
                             E2E_TWO_IMAGES);
  EXPECT_EQ(R.ExitStatus, 0) << R.Stderr;
}

TEST(EndToEnd, HostThreadsLaunchAtOnce) {
  ChildResult R = runSession({}, [](Session &S) {
    std::atomic<int> Wrong{0};
    std::vector<std::thread> Threads;
    for (int T = 0; T < 4; ++T)
      Threads.emplace_back([&S, &Wrong, T] {
        int32_t Device = T % S.RT.NumDevices;
        for (int Round = 0; Round < 10; ++Round)
          Wrong += saxpy(S, Device, 1000 + 37 * T + Round, 0, 0);
      });
    for (std::thread &T : Threads)
      T.join();
    return Wrong.load();
  });
  EXPECT_EQ(R.ExitStatus, 0) << R.Stderr;
}

TEST(EndToEnd, ProfileAndCallTrace) {
  ChildResult R = runSession({{"LIBOMPTARGET_PLUGIN_PROFILE", "T,usec"}, {"LIBOMPTARGET_DEBUG", "2"}},
                             [](Session &S) { return saxpy(S, 0, 4096, 16, 256); });
  ASSERT_EQ(R.ExitStatus, 0) << R.Stderr;
  // The kernel and both copy directions with device times above zero.
  for (const char *Row : {"-- Kernel 0  ", "-- DataWrite (Host to Device)", "-- DataRead (Device to Host)"}) {
    size_t At = R.Stderr.rfind(Row); // the kernel legend comes before the times
    ASSERT_NE(At, std::string::npos) << Row << "\n" << R.Stderr;
    std::string Line = R.Stderr.substr(At, R.Stderr.find('\n', At) - At);
    double Host = 0, Device = 0;
    ASSERT_EQ(std::sscanf(Line.c_str() + Line.find(':') + 1, "%lf %lf", &Host, &Device), 2) << Line;
    EXPECT_GT(Device, 0.0) << Line;
  }
  EXPECT_TRUE(hasLine(R.Stderr, "-- Kernel 0                  : e2e_saxpy")) << R.Stderr;
  // The real driver's calls are traced with their arguments.
  EXPECT_NE(R.Stderr.find("Target OPENCL RTL --> CL_CALLER: clEnqueueNDRangeKernel "),
            std::string::npos);
  EXPECT_TRUE(hasLine(R.Stderr, "Target OPENCL RTL -->     work_dim = 3")) << R.Stderr;
}

TEST(EndToEnd, DataAndLaunchesOnEachDevice) {
  if (expectedDevices() < 2)
    GTEST_SKIP() << "runs with two devices (E2E_DEVICES=2)";
  for (const char *SingleContext : {"0", "1"}) {
    ChildResult R = runSession({{"LIBOMPTARGET_USE_SINGLE_CONTEXT", SingleContext}}, [](Session &S) {
      if (S.RT.NumDevices != 2)
        return 50;
      int Wrong = 0;
      for (int32_t Device = 0; Device < 2; ++Device) {
        Wrong += saxpy(S, Device, 5000, 0, 0);
        void *P = mapTo(S.RT, Device, nullptr, 64);
        Wrong += S.RT.Plugin.get_device_from_ptr(static_cast<char *>(P) + 63) != Device;
        Wrong += !unmap(S.RT, Device, P);
      }
      return Wrong;
    });
    EXPECT_EQ(R.ExitStatus, 0) << "single context " << SingleContext << "\n" << R.Stderr;
  }
}
