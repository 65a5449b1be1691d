#include "figures.h"
#include "parts.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace bench {

namespace {

void comparisonRow(const std::string &Key, const std::string &Label, const PairNs &P) {
  emitRow(Key, Label, P.A, P.B);
}

// Cost of the range and of the owner query as the allocation table grows, and of a launch at 1e4
// allocations; each query sample walks a fixed set of allocations spread over the table.
void growingTableRows(Scale S, HostPlugin &Plugin, const DirectDriver &D, const Region &R,
                      std::vector<void *> &Live, bool &Ok) {
  const std::vector<size_t> Counts =
      S == Scale::Smoke ? std::vector<size_t>{10, 1000, 10000}
                        : std::vector<size_t>{10, 1000, 10000, 100000, 1000000};
  double RangeAt10 = 0, OwnerAt10 = 0;
  for (size_t Count : Counts) {
    if (!growAllocations(Plugin, Live, Count)) {
      Ok = false;
      return;
    }
    if (Count == 10000) {
      Sampling Slow{scaled(S, 101, 51, 3), scaled(S, 20, 20, 2)};
      comparisonRow("own.launch.1e4", "launch, fake driver, 1e4 live allocations",
                    compareLaunch(Slow, Plugin, D, R, Memory::Usm, Ok));
    }
    std::vector<char *> Probes;
    for (size_t I = 0; I < 64; ++I)
      Probes.push_back(static_cast<char *>(Live[I * Live.size() / 64]));
    size_t Next = 0;
    Sampling Samp{scaled(S, 201, 101, 3), 64 * scaled(S, 4, 4, 1)};
    double Range = medianNs(Samp, [&] {
      Ok &= Plugin.is_accessible_addr_range(0, Probes[Next++ % 64] + 2, 4) == 1;
    });
    double Owner = medianNs(Samp, [&] {
      Ok &= Plugin.get_device_from_ptr(Probes[Next++ % 64] + 2) == 0;
    });
    std::string N = Count >= 1000 ? "1e" + std::to_string(std::to_string(Count).size() - 1)
                                  : std::to_string(Count);
    if (Count == 10) {
      RangeAt10 = Range;
      OwnerAt10 = Owner;
      emitRow("range.10", "range query, 10 live allocations", Range);
      emitRow("owner.10", "owner query, 10 live allocations", Owner);
      continue;
    }
    emitRow("range." + N, "range query, " + N + " live allocations (baseline: 10)", Range, RangeAt10);
    emitRow("owner." + N, "owner query, " + N + " live allocations (baseline: 10)", Owner, OwnerAt10);
  }
}

} // namespace

int fakeDriverPart(Scale S, const std::string &Variant, HostPlugin &Plugin,
                   const fakecl_control_v1 &Fake) {
  if (Variant == "debug1") {
    // Level 1 writes its messages; they go nowhere, so what is timed is producing them.
    int Null = open("/dev/null", O_WRONLY);
    dup2(Null, 2);
    close(Null);
  }
  BenchImage Image;
  fakeDriverImage(Image);
  TargetTable *Table = nullptr;
  DirectDriver D;
  if (!startDevice(Plugin) || !(Table = loadImage(Plugin, Image)) ||
      !openDirectDriver(Plugin, 0, D))
    return 2;
  char Error[256];
  if (Fake.configure("record off", Error, sizeof(Error)) != 0) {
    std::fprintf(stderr, "offload_bench: the fake driver refused to stop recording: %s\n", Error);
    return 3;
  }
  std::vector<void *> Live;
  Region R{Table->EntriesBegin[0].address, kernelOf(Table->EntriesBegin[0]), nullptr};
  char Host[4] = {1, 2, 3, 4};
  if (!growAllocations(Plugin, Live, 10))
    return 4;
  R.Buffer = Live[0];

  std::string Key = Variant.empty() ? "" : "." + Variant;
  std::string Label = Variant == "profile" ? ", profiling on"
                      : Variant == "debug1" ? ", debug level 1"
                                            : "";
  // Samples well below the scheduler's 4 ms time slice, so that a sample the machine's other work
  // preempts is rare and the median ignores it.
  Sampling Fast{scaled(S, 401, 201, 3), scaled(S, 200, 100, 20)};
  bool Ok = true;
  comparisonRow("own.launch" + Key, "launch, fake driver" + Label,
                compareLaunch(Fast, Plugin, D, R, Memory::Usm, Ok));
  comparisonRow("own.submit4B" + Key, "4 B to the device, fake driver" + Label,
                compareTransfer(Fast, Plugin, D, R.Buffer, Host, 4, true, Memory::Usm, Ok));
  comparisonRow("own.retrieve4B" + Key, "4 B from the device, fake driver" + Label,
                compareTransfer(Fast, Plugin, D, R.Buffer, Host, 4, false, Memory::Usm, Ok));
  comparisonRow("own.alloc" + Key, "allocate + delete 4 KiB, fake driver" + Label,
                compareAllocation(Fast, Plugin, D, 4096, Ok));
  if (Variant.empty()) {
    // The plugin's own time to load an image of 100 regions, twice (after the image above).
    BenchImage Hundred;
    fakeDriverImage(Hundred, 100);
    for (const char *Which : {"first", "second"}) {
      uint64_t Start = nowNs();
      Ok &= loadImage(Plugin, Hundred) != nullptr;
      emitRow(std::string("own.load.100.") + Which,
              std::string("load, 100 regions, fake driver, ") + Which + " of that image",
              static_cast<double>(nowNs() - Start));
    }
    growingTableRows(S, Plugin, D, R, Live, Ok);
  }
  closeDirectDriver(D);
  return Ok ? 0 : 5;
}

} // namespace bench
