#include "bench_session.h"

#include <cstdint>
#include <cstdio>

namespace bench {

namespace {

// The offset that passes a launch argument as a plain 8-byte value.
constexpr ptrdiff_t ByValue = INT64_MAX;
// The scalar argument of the empty regions.
constexpr int64_t ScalarArg = 42;

} // namespace

bool startDevice(HostPlugin &Plugin) {
  static BinaryDescriptor Desc{};
  Plugin.register_lib(&Desc);
  if (Plugin.number_of_devices() < 1) {
    std::fprintf(stderr, "offload_bench: the plugin found no device\n");
    return false;
  }
  Plugin.init_requires(0);
  if (Plugin.init_device(0) != 0) {
    std::fprintf(stderr, "offload_bench: init_device(0) failed\n");
    return false;
  }
  return true;
}

TargetTable *loadImage(HostPlugin &Plugin, BenchImage &Image) {
  TargetTable *Table = Plugin.load_binary(0, &Image.Image);
  if (!Table || Table->EntriesBegin == Table->EntriesEnd)
    std::fprintf(stderr, "offload_bench: load_binary failed\n");
  return Table && Table->EntriesBegin != Table->EntriesEnd ? Table : nullptr;
}

bool launchThroughPlugin(HostPlugin &Plugin, const Region &R) {
  void *Args[] = {R.Buffer, reinterpret_cast<void *>(ScalarArg)};
  ptrdiff_t Offsets[] = {0, ByValue};
  return Plugin.run_target_team_nd_region(0, R.Entry, Args, Offsets, 2, 1, 1, nullptr) == 0;
}

PairNs compareLaunch(const Sampling &S, HostPlugin &Plugin, const DirectDriver &D,
                     const Region &R, Memory M, bool &Ok) {
  const size_t One = 1;
  return medianPairNs(
      S, [&] { Ok &= launchThroughPlugin(Plugin, R); },
      [&] {
        int64_t Scalar = ScalarArg;
        cl_event Event = nullptr;
        cl_int Rc = M == Memory::Svm ? clSetKernelArgSVMPointer(R.Kernel, 0, R.Buffer)
                                     : D.SetArgPointer(R.Kernel, 0, R.Buffer);
        Rc |= clSetKernelArg(R.Kernel, 1, sizeof(Scalar), &Scalar);
        Rc |= clEnqueueNDRangeKernel(D.Queue, R.Kernel, 1, nullptr, &One, &One, 0, nullptr, &Event);
        Ok &= Rc == CL_SUCCESS && finish(Event);
      });
}

PairNs compareTransfer(const Sampling &S, HostPlugin &Plugin, const DirectDriver &D,
                       void *Device, void *Host, size_t Bytes, bool ToDevice, Memory M, bool &Ok) {
  void *Dst = ToDevice ? Device : Host;
  void *Src = ToDevice ? Host : Device;
  int64_t Size = static_cast<int64_t>(Bytes);
  return medianPairNs(
      S,
      [&] {
        Ok &= (ToDevice ? Plugin.data_submit(0, Device, Host, Size)
                        : Plugin.data_retrieve(0, Host, Device, Size)) == 0;
      },
      [&] {
        cl_event Event = nullptr;
        cl_int Rc = M == Memory::Svm
                        ? clEnqueueSVMMemcpy(D.Queue, CL_FALSE, Dst, Src, Bytes, 0, nullptr, &Event)
                        : D.Memcpy(D.Queue, CL_FALSE, Dst, Src, Bytes, 0, nullptr, &Event);
        Ok &= Rc == CL_SUCCESS && finish(Event);
      });
}

PairNs compareAllocation(const Sampling &S, HostPlugin &Plugin, const DirectDriver &D,
                         size_t Bytes, bool &Ok) {
  return medianPairNs(
      S,
      [&] {
        void *P = Plugin.data_alloc(0, static_cast<int64_t>(Bytes), nullptr, 0);
        Ok &= P && Plugin.data_delete(0, P) == 0;
      },
      [&] {
        cl_int Rc = CL_SUCCESS;
        void *P = D.DeviceAlloc(D.Context, D.Device, nullptr, Bytes, 0, &Rc);
        Ok &= P && Rc == CL_SUCCESS && D.BlockingFree(D.Context, P) == CL_SUCCESS;
      });
}

bool growAllocations(HostPlugin &Plugin, std::vector<void *> &Live, size_t Count) {
  Live.reserve(Count);
  while (Live.size() < Count) {
    void *P = Plugin.data_alloc(0, 8, nullptr, 0);
    if (!P) {
      std::fprintf(stderr, "offload_bench: allocation %zu failed\n", Live.size());
      return false;
    }
    Live.push_back(P);
  }
  return true;
}

} // namespace bench
