// What the plugin keeps per kernel and device for sizing launches.
#ifndef KERNEL_KERNEL_PROPERTY_H
#define KERNEL_KERNEL_PROPERTY_H

#include <cstddef>
#include <set>

struct KernelProperty {
  size_t Width = 0;              // preferred work-group size multiple
  size_t SIMDWidth = 0;          // maximum sub-group size
  size_t MaxThreadGroupSize = 0; // the kernel's maximum work-group size
  std::set<void *> ImplicitArgs; // allocations the kernel must see without being passed them
};

#endif
