// Concurrent load on two devices: several host threads allocate every kind of memory, copy, launch
// the same and different regions, manifest implicit allocations, create and release interop
// objects, with profiling on, for a bounded number of rounds. Every byte that passes through a
// kernel is checked against the host's own computation. Once over two fake devices (kernel bodies
// that compute what the device code does) and once over two PoCL CPU devices under the layer.
#include "child_process.h"
#include "host_interop.h"
#include "host_runtime.h"

#ifdef FAKECL_PATH
#include "fakecl_client.h"
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <unistd.h>

namespace {

constexpr int Threads = 4;
constexpr int Rounds = 24;

struct Figures {
  std::atomic<uint64_t> Launches{0}, Bytes{0}, Interops{0}, Wrong{0}, Failed{0};
};

struct Work {
  HostRuntime RT;
  std::vector<std::unique_ptr<HostImage>> Images; // one per device
  Figures F;
  void *entry(int32_t Device, const char *Name) { return findEntry(*Images[Device], Name); }
};

// A value sequence that differs per thread and round and stays exact in float arithmetic.
int32_t valueAt(int Thread, int Round, int64_t I) {
  return static_cast<int32_t>((I * 31 + Thread * 7 + Round * 13) % 1024);
}

// y = a x + y on the device for n floats, x and y in memory of the given kinds.
void saxpyRound(Work &W, int32_t Device, int Thread, int Round) {
  int64_t N = 1000 + 37 * Thread + Round;
  std::vector<float> X(N), Y(N), Expected(N);
  for (int64_t I = 0; I < N; ++I) {
    X[I] = float(valueAt(Thread, Round, I));
    Y[I] = float(valueAt(Thread, Round + 1, I));
  }
  float A = float(Thread + 2);
  for (int64_t I = 0; I < N; ++I)
    Expected[I] = A * X[I] + Y[I];
  void *DX = mapTo(W.RT, Device, X.data(), N * 4, Round % 3);
  void *DY = mapTo(W.RT, Device, Y.data(), N * 4, (Round + 1) % 3);
  bool Teams = Round % 2; // one work-item per element either way
  bool Done = DX && DY &&
              launchRegion(W.RT, Device, W.entry(Device, "e2e_saxpy"),
                           {LaunchArg::pointer(DY), LaunchArg::pointer(DX), LaunchArg::byValue(&A),
                            LaunchArg::byValue(&N)},
                           Teams ? int32_t((N + 63) / 64) : 0, Teams ? 64 : 0) &&
              copyFrom(W.RT, Device, Y.data(), DY, N * 4);
  W.F.Failed += !Done;
  W.F.Wrong += Done && std::memcmp(Y.data(), Expected.data(), N * 4) != 0;
  W.F.Launches += Done;
  W.F.Bytes += Done ? 3 * N * 4 : 0;
  if ((DX && !unmap(W.RT, Device, DX)) || (DY && !unmap(W.RT, Device, DY)))
    ++W.F.Failed;
}

// The loop region fills a rows x cols grid; a shared block is manifested for it on odd rounds and
// an interop object lives across the launch on every fourth.
void gridRound(Work &W, int32_t Device, int Thread, int Round, bool WithInterop) {
  int64_t Cols = 17 + Thread, Rows = 5 + Round % 4;
  std::vector<int64_t> Out(Cols * Rows, -1);
  void *DOut = mapTo(W.RT, Device, Out.data(), Cols * Rows * 8, (Round + 2) % 3);
  void *Scratch = W.RT.Plugin.data_alloc(Device, 64, nullptr, 2);
  void *Entry = W.entry(Device, "e2e_grid");
  bool Done = DOut && Scratch;
  if (Done && Round % 2) {
    void *Manifest[] = {Scratch};
    Done = W.RT.Plugin.manifest_data_for_region(Device, Entry, Manifest, 1) == 0;
  }
  bool Interop4 = WithInterop && Round % 4 == 0;
  InteropRecord *Interop = Interop4 ? W.RT.Plugin.create_interop(Device, 1) : nullptr;
  LoopDescriptor Loops = {2, 0, {{0, Cols - 1, 1}, {0, Rows - 1, 1}, {0, 0, 0}}};
  Done = Done && launchRegion(W.RT, Device, Entry,
                              {LaunchArg::pointer(DOut), LaunchArg::scalar(Cols),
                               LaunchArg::scalar(Rows)},
                              0, 0, &Loops) &&
         copyFrom(W.RT, Device, Out.data(), DOut, Cols * Rows * 8);
  if (Interop4) {
    Done = Done && Interop && W.RT.Plugin.sync_barrier(Interop) == 0 &&
           interopDestroy(W.RT.Plugin, Device, Interop) == 0;
    W.F.Interops += Done;
  }
  bool Right = true;
  for (int64_t J = 0; J < Rows; ++J)
    for (int64_t I = 0; I < Cols; ++I)
      Right &= Out[J * Cols + I] == J * 1000 + I;
  W.F.Failed += !Done;
  W.F.Wrong += Done && !Right;
  W.F.Launches += Done;
  W.F.Bytes += Done ? Cols * Rows * 16 : 0;
  if ((DOut && !unmap(W.RT, Device, DOut)) || (Scratch && !unmap(W.RT, Device, Scratch)))
    ++W.F.Failed;
}

// Starts the plugin, loads Image on every device and runs the threads; prints the figures.
int runStress(const std::vector<char> &Image, bool WithInterop,
              const std::function<void()> &BeforeStart) {
  alarm(240); // a deadlock ends the child
  if (BeforeStart)
    BeforeStart();
  Work W;
  if (!startHostRuntime(W.RT, PLUGIN_PATH))
    return 90;
  if (W.RT.NumDevices != 2)
    return 91;
  for (int32_t Device = 0; Device < 2; ++Device) {
    auto Host = std::make_unique<HostImage>();
    Host->region("e2e_grid").region("e2e_saxpy");
    Host->Bytes = Image;
    if (!loadImage(W.RT, Device, *Host))
      return 92;
    W.Images.push_back(std::move(Host));
  }
  std::vector<std::thread> Pool;
  for (int T = 0; T < Threads; ++T)
    Pool.emplace_back([&W, T, WithInterop] {
      for (int Round = 0; Round < Rounds; ++Round) {
        int32_t Device = (T + Round) % 2;
        saxpyRound(W, Device, T, Round);
        gridRound(W, 1 - Device, T, Round, WithInterop);
      }
    });
  for (std::thread &T : Pool)
    T.join();
  stopHostRuntime(W.RT);
  std::printf("stress: threads %d, devices 2, rounds %d, launches %llu, bytes %llu, interops %llu, "
              "failed %llu, wrong %llu\n",
              Threads, Rounds, (unsigned long long)W.F.Launches.load(),
              (unsigned long long)W.F.Bytes.load(), (unsigned long long)W.F.Interops.load(),
              (unsigned long long)W.F.Failed.load(), (unsigned long long)W.F.Wrong.load());
  return W.F.Failed || W.F.Wrong ? 1 : 0;
}

// What the shutdown profile prints: one table per device and host thread that worked on it.
void expectFigures(const ChildResult &R, bool WithInterop) {
  ASSERT_EQ(R.ExitStatus, 0) << "signal " << R.Signal << "\n" << R.Stdout << R.Stderr;
  std::string Expected = "stress: threads 4, devices 2, rounds 24, launches " +
                         std::to_string(2 * Threads * Rounds) + ", bytes ";
  EXPECT_EQ(R.Stdout.rfind(Expected, 0), 0u) << R.Stdout;
  EXPECT_NE(R.Stdout.find(", interops " + std::to_string(WithInterop ? Threads * Rounds / 4 : 0) +
                          ", failed 0, wrong 0\n"),
            std::string::npos)
      << R.Stdout;
  std::fputs(R.Stdout.c_str(), stdout);
}

#ifdef FAKECL_PATH
// The device code of the e2e module, as kernel bodies of the fake driver.
void saxpyBody(const fakecl_launch *L, void *) {
  float A;
  int64_t N;
  std::memcpy(&A, L->args[2].value, 4);
  std::memcpy(&N, L->args[3].value, 8);
  auto *Y = static_cast<float *>(L->args[0].pointer);
  auto *X = static_cast<const float *>(L->args[1].pointer);
  for (int64_t I = 0; I < N; ++I)
    Y[I] = A * X[I] + Y[I];
}
void gridBody(const fakecl_launch *L, void *) {
  int64_t Cols, Rows;
  std::memcpy(&Cols, L->args[1].value, 8);
  std::memcpy(&Rows, L->args[2].value, 8);
  auto *Out = static_cast<int64_t *>(L->args[0].pointer);
  for (int64_t J = 0; J < Rows; ++J)
    for (int64_t I = 0; I < Cols; ++I)
      Out[J * Cols + I] = J * 1000 + I;
}

TEST(Stress, TwoFakeDevices) {
  // The same regions and kernel info as the e2e module.
  std::string Manifest = "\nFAKECL-MODULE\nkernel e2e_grid args=3\nkernel e2e_saxpy args=4\n"
                         "global e2e_saxpy_kernel_info 64 init="
                         "04000000" "04000000" "00000000" "08000000" "00000000" "08000000"
                         "01000000" "04000000" "01000000" "08000000"
                         "000000000000000000000000000000000000000000000000\n"
                         "global __omp_spirv_program_data 64\n"
                         "entry e2e_grid\nentry e2e_saxpy\n";
  std::string Bytes = std::string("\x03\x02\x23\x07", 4) + Manifest + '\0';
  std::vector<char> Image(Bytes.begin(), Bytes.end());
  ChildResult R = runInChild({{"OCL_ICD_VENDORS", FAKECL_PATH}, {"OCL_ICD_PLATFORM_SORT", "none"},
                              {"LIBOMPTARGET_PLUGIN_PROFILE", "T"}},
                             [&] {
    fakecl::Client Fake(FAKECL_PATH);
    return runStress(Image, true, [&Fake] {
      Fake.configure("platform version=\"OpenCL 3.0 fake\"\ndevice type=gpu name=\"G\"\n"
                     "device type=gpu name=\"H\"\n");
      Fake.setKernelBody("e2e_saxpy", saxpyBody);
      Fake.setKernelBody("e2e_grid", gridBody);
    });
  });
  expectFigures(R, true);
}
#endif

#ifdef E2E_IMAGE
ChildResult runOnPocl(bool WithInterop) {
  HostImage File;
  if (!readImageFile(E2E_IMAGE, File))
    return {};
  return runInChild({{"OPENCL_LAYERS", LAYER_PATH},
                     {"LIBOMPTARGET_DEVICETYPE", "cpu"},
                     {"LIBOMPTARGET_PLUGIN_PROFILE", "T"}},
                    [&] { return runStress(File.Bytes, WithInterop, nullptr); });
}

TEST(Stress, TwoPoclDevices) { expectFigures(runOnPocl(false), false); }

// Interop queues created and released while other threads free memory: the layer's blocking
// free retains every queue of the context while another thread's release may just have
// destroyed one, unless the layer drops its record of a queue before the driver destroys it.
TEST(Stress, TwoPoclDevicesWithInterop) { expectFigures(runOnPocl(true), true); }
#endif

} // namespace
