// What the plugin keeps per kernel and device for sizing launches.
#ifndef KERNEL_KERNEL_PROPERTY_H
#define KERNEL_KERNEL_PROPERTY_H

#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

// The implicit-argument list of a kernel's last launch and what it was derived from: the
// generations of the allocation tables and the number of programs of the device. A launch builds
// the list again only when one of them changed or the manifested set was replaced.
// The program data (heap and pool addresses) of the device's newest program is not part of the
// key: loading appends a program to the device's list before it writes that program's data, and
// the data never changes afterwards. That holds because a load finishes before any launch on its
// device (loads and launches never overlap); a load that could run beside launches would have to
// key the cache on the data too.
struct ImplicitArgsCache {
  bool Valid = false;
  uint64_t DeviceGeneration = 0;
  uint64_t HostGeneration = 0;
  size_t NumPrograms = 0;
  std::vector<void *> Args;
  bool Used[3] = {false, false, false}; // device, host, shared allocations among them
};

struct KernelProperty {
  size_t Width = 0;              // preferred work-group size multiple
  size_t SIMDWidth = 0;          // maximum sub-group size
  size_t MaxThreadGroupSize = 0; // the kernel's maximum work-group size
  std::set<void *> ImplicitArgs; // allocations the kernel must see without being passed them
  ImplicitArgsCache Implicit;    // guarded, like ImplicitArgs, by the device mutex
};

#endif
