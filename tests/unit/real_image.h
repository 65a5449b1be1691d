// The demo's offload image on the machine's CPU device, through the project's OpenCL layer: the
// image with its host entries, and a child process with device 0 initialised.
#ifndef TESTS_UNIT_REAL_IMAGE_H
#define TESTS_UNIT_REAL_IMAGE_H

#include "child_process.h"
#include "frame/plugin_state.h"
#include "host_plugin.h"
#include "omptargetplugin.h"

#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

namespace realimage {

inline const char *const Regions[] = {"__omp_offloading_demo_saxpy_l12",
                                      "__omp_offloading_demo_sum_l30"};

struct LoadedImage {
  std::vector<char> Bytes;
  int32_t Counter = 42;
  int64_t Scale[4] = {1, 2, 3, 4};
  std::vector<OffloadEntry> Host;
  DeviceImage Image{};

  LoadedImage() {
    std::ifstream In(DEMO_IMAGE_PATH, std::ios::binary);
    Bytes.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
    Host = {{nullptr, const_cast<char *>(Regions[0]), 0, 0, 0},
            {&Counter, const_cast<char *>("demo_counter"), sizeof(Counter), 0, 0},
            {nullptr, const_cast<char *>(Regions[1]), 0, 0, 0},
            {Scale, const_cast<char *>("demo_scale"), sizeof(Scale), 0, 0}};
    Image = {Bytes.data(), Bytes.data() + Bytes.size(), Host.data(), Host.data() + Host.size()};
  }
};

// The test runs with the CPU device type and a pool in its environment (set by CTest), so the
// plugin linked into it reads them at start-up. Body runs in a child, over the layer, with device
// 0 initialised.
inline ChildResult onRealDevice(const std::function<int()> &Body) {
  return runInChild({{"OPENCL_LAYERS", LAYER_PATH}}, [&] {
    if (__tgt_rtl_number_of_devices() < 1 || __tgt_rtl_init_device(0) != 0)
      return 80;
    return Body();
  });
}

} // namespace realimage

#endif
