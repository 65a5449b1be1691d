#include "figures.h"
#include "parts.h"

#include <cstdio>
#include <cstring>
#include <thread>

namespace bench {

namespace {

// "64 MiB" for people, "64M" in keys.
std::string sizeText(size_t Bytes, bool ForKey) {
  const char *Units[][2] = {{" B", "B"}, {" KiB", "K"}, {" MiB", "M"}};
  int Unit = Bytes >= (1u << 20) ? 2 : Bytes >= (1u << 10) ? 1 : 0;
  return std::to_string(Bytes >> (10 * Unit)) + Units[Unit][ForKey];
}

void transferRows(Scale S, HostPlugin &Plugin, const DirectDriver &D, bool &Ok) {
  const size_t Largest = S == Scale::Smoke ? (1u << 20) : (64u << 20);
  void *Device = Plugin.data_alloc(0, static_cast<int64_t>(Largest), nullptr, 0);
  if (!Device) {
    std::fprintf(stderr, "offload_bench: no %s device buffer\n", sizeText(Largest, false).c_str());
    Ok = false;
    return;
  }
  std::vector<char> Host(Largest, 1);
  // The first copies fault the pages in on both sides; they are not what is measured.
  Ok &= Plugin.data_submit(0, Device, Host.data(), static_cast<int64_t>(Largest)) == 0;
  Ok &= Plugin.data_retrieve(0, Host.data(), Device, static_cast<int64_t>(Largest)) == 0;
  for (size_t Bytes : {size_t(4), size_t(64) << 10, size_t(1) << 20, size_t(64) << 20}) {
    if (Bytes > Largest)
      break;
    int Reps = Bytes >= (64u << 20) ? scaled(S, 15, 7, 3) : scaled(S, 101, 41, 3);
    int Inner = Bytes >= (1u << 20) ? 1 : scaled(S, 10, 10, 2);
    for (bool ToDevice : {true, false}) {
      PairNs P = compareTransfer({Reps, Inner}, Plugin, D, Device, Host.data(), Bytes, ToDevice,
                                 Memory::Svm, Ok);
      emitRow(std::string(ToDevice ? "submit." : "retrieve.") + sizeText(Bytes, true),
              sizeText(Bytes, false) + (ToDevice ? " to the device" : " from the device"), P.A, P.B);
    }
  }
  Ok &= Plugin.data_delete(0, Device) == 0;
}

// Wall time per launch when two threads launch at once, against one thread doing all of them.
void concurrencyRow(Scale S, HostPlugin &Plugin, const Region &R, bool &Ok) {
  // Short samples, as everywhere; each pays for starting one thread (tens of microseconds).
  const int PerThread = scaled(S, 25, 25, 5);
  bool ThreadOk[2] = {true, true};
  auto Launches = [&](int N, bool &Good) {
    for (int I = 0; I < N; ++I)
      Good &= launchThroughPlugin(Plugin, R);
  };
  PairNs P = medianPairNs(
      {scaled(S, 61, 31, 1), 1},
      [&] {
        std::thread Other(Launches, PerThread, std::ref(ThreadOk[1]));
        Launches(PerThread, ThreadOk[0]);
        Other.join();
      },
      [&] { Launches(2 * PerThread, ThreadOk[0]); });
  Ok &= ThreadOk[0] && ThreadOk[1];
  emitRow("threads.2", "launch, 2 threads (baseline: 1 thread), wall per launch",
          P.A / (2 * PerThread), P.B / (2 * PerThread));
}

} // namespace

int devicePart(Scale S, HostPlugin &Plugin) {
  BenchImage Image;
  TargetTable *Table = nullptr;
  DirectDriver D;
  if (!readRegionsImage(1, Image)) {
    std::fprintf(stderr, "offload_bench: cannot read the image of one region\n");
    return 2;
  }
  if (!startDevice(Plugin) || !(Table = loadImage(Plugin, Image)) ||
      !openDirectDriver(Plugin, 0, D))
    return 2;
  std::vector<void *> Live;
  if (!growAllocations(Plugin, Live, 10))
    return 4;
  Region R{Table->EntriesBegin[0].address, kernelOf(Table->EntriesBegin[0]), Live[0]};
  bool Ok = true;
  // The first launch builds the kernel for its work-group size; not measured.
  compareLaunch({1, 1}, Plugin, D, R, Memory::Svm, Ok);
  if (!Ok) {
    std::fprintf(stderr, "offload_bench: the first launch failed\n");
    return 5;
  }

  // Samples of a few launches each: shorter than the scheduler's time slice (see the fake driver).
  PairNs At10 = compareLaunch({scaled(S, 301, 101, 3), scaled(S, 10, 10, 2)}, Plugin, D, R,
                              Memory::Svm, Ok);
  emitRow("launch.10", "launch, 10 live allocations", At10.A, At10.B);
  transferRows(S, Plugin, D, Ok);
  PairNs Alloc = compareAllocation({scaled(S, 201, 101, 3), scaled(S, 50, 50, 2)}, Plugin, D, 4096, Ok);
  emitRow("alloc.4K", "allocate + delete 4 KiB (baseline: the layer's own calls)", Alloc.A, Alloc.B);
  concurrencyRow(S, Plugin, R, Ok);

  struct Level {
    size_t Count;
    const char *Name;
    Sampling Samp;
  };
  std::vector<Level> Levels = {{10000, "1e4", {scaled(S, 11, 7, 1), scaled(S, 3, 2, 1)}}};
  if (S != Scale::Smoke)
    Levels.push_back({100000, "1e5", {scaled(S, 5, 3, 1), 1}});
  else
    Levels[0] = {1000, "1e3", {1, 1}};
  for (const Level &L : Levels) {
    if (!growAllocations(Plugin, Live, L.Count))
      return 4;
    PairNs P = compareLaunch(L.Samp, Plugin, D, R, Memory::Svm, Ok);
    emitRow(std::string("launch.") + L.Name, std::string("launch, ") + L.Name + " live allocations",
            P.A, P.B);
    // Against the plugin's own launch with 10 allocations: what the allocations add.
    emitRow(std::string("launch.") + L.Name + ".vs10",
            std::string("launch, ") + L.Name + " live allocations (baseline: plugin at 10)", P.A,
            At10.A);
  }
  Ok &= layerChurnRows(S, D);
  closeDirectDriver(D);
  return Ok ? 0 : 5;
}

} // namespace bench
