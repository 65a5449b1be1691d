// The compiler's registration calls: images are recorded here and loaded on a device at its
// first use.
#include "debug.h"
#include "runtime.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT void __tgt_register_lib(CompilerBinaryDesc *Desc) {
  noThrow("__tgt_register_lib", [&] {
    if (!Desc)
      return;
    RuntimeState &S = runtimeState();
    std::lock_guard<std::mutex> Guard(S.Lock);
    ++S.Registrations;
    for (int32_t I = 0; I < Desc->NumDeviceImages; ++I) {
      const CompilerDeviceImage &Source = Desc->DeviceImages[I];
      S.Images.emplace_back();
      RegisteredImage &Image = S.Images.back();
      Image.Owner = Desc;
      Image.Entries = convertEntries(Source.EntriesBegin, Source.EntriesEnd);
      OffloadEntry *First = Image.Entries.empty() ? nullptr : Image.Entries.data();
      Image.Image = {Source.ImageStart, Source.ImageEnd, First,
                     First ? First + Image.Entries.size() : nullptr};
      size_t ImageIndex = S.Images.size() - 1;
      std::lock_guard<std::mutex> RegionsGuard(S.RegionsLock);
      for (size_t E = 0; E < Image.Entries.size(); ++E)
        if (isRegionEntry(Image.Entries[E]) && Image.Entries[E].address)
          S.Regions[Image.Entries[E].address] = {ImageIndex, E, &Image};
      HOST_DP("Registered image %zu: %zu bytes, %zu entries\n", ImageIndex,
              static_cast<size_t>(static_cast<char *>(Source.ImageEnd) -
                                  static_cast<char *>(Source.ImageStart)),
              Image.Entries.size());
    }
  });
}

EXPORT void __tgt_unregister_lib(CompilerBinaryDesc *Desc) {
  noThrow("__tgt_unregister_lib", [&] {
    if (!Desc)
      return;
    RuntimeState &S = runtimeState();
    {
      std::lock_guard<std::mutex> Guard(S.Lock);
      if (S.Registrations == 0)
        return;
      --S.Registrations;
      // The library's regions are no longer reachable; its images stay listed (device tables are
      // indexed by position) until the plugin shuts down.
      std::lock_guard<std::mutex> RegionsGuard(S.RegionsLock);
      for (auto It = S.Regions.begin(); It != S.Regions.end();)
        It = S.Images[It->second.Image].Owner == Desc ? S.Regions.erase(It) : std::next(It);
    }
    stopPluginIfUnused();
  });
}

// Older compilers register requirements separately; they need nothing of this runtime.
EXPORT void __tgt_register_requires(int64_t Flags) {
  noThrow("__tgt_register_requires", [&] {
    HOST_DP("Requirements 0x%llx registered\n", static_cast<unsigned long long>(Flags));
  });
}

EXPORT void __tgt_init_all_rtls() { numDevices(); }
