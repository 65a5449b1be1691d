// The plugin's options, read from the environment once, when the plugin state is created.
#ifndef FRAME_OPTIONS_H
#define FRAME_OPTIONS_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Bits of PluginOptions::Flags.
enum : uint64_t {
  OptionFlagProfile = 0x01,             // LIBOMPTARGET_PLUGIN_PROFILE
  OptionFlagDriverGroupSizes = 0x02,    // LIBOMPTARGET_OPENCL_USE_DRIVER_GROUP_SIZES (GPU only)
  OptionFlagSIMD = 0x04,                // LIBOMPTARGET_ENABLE_SIMD
  OptionFlagSingleContext = 0x08,       // LIBOMPTARGET_USE_SINGLE_CONTEXT
  OptionFlagImageOptions = 0x10,        // LIBOMPTARGET_QUVELA_USE_IMAGE_OPTIONS
  OptionFlagShowBuildLog = 0x20,        // LIBOMPTARGET_QUVELA_SHOW_BUILD_LOG
  OptionFlagLinkLibDevice = 0x40,       // LIBOMPTARGET_QUVELA_LINK_LIBDEVICE
  OptionFlagNDRangeIgnoreTripCount = 0x80, // LIBOMPTARGET_NDRANGE_IGNORE_TRIPCOUNT
  OptionFlagTimeline = 0x100,           // LIBOMPTARGET_OPENCL_TRACE_FILE names a file
};

constexpr uint64_t DeviceTypeGPU = 4; // CL_DEVICE_TYPE_GPU
constexpr uint64_t DeviceTypeCPU = 2; // CL_DEVICE_TYPE_CPU

// The specialization constant that turns on offload annotations in device code.
constexpr uint32_t OffloadAnnotationsSpecConstantId = 0xFF747469;

// A value every kernel launch rewrites while other launches read it: relaxed atomic loads and
// stores, so concurrent launches are no data race; copyable like the rest of the options.
struct RelaxedInt32 {
  std::atomic<int32_t> Value{0};

  RelaxedInt32() = default;
  RelaxedInt32(const RelaxedInt32 &Other) : Value(Other.load()) {}
  RelaxedInt32 &operator=(const RelaxedInt32 &Other) { return *this = Other.load(); }
  RelaxedInt32 &operator=(int32_t V) {
    Value.store(V, std::memory_order_relaxed);
    return *this;
  }
  int32_t load() const { return Value.load(std::memory_order_relaxed); }
  operator int32_t() const { return load(); }
};

struct PluginOptions {
  uint64_t Flags = OptionFlagImageOptions;
  uint64_t ProfileResolution = 1000; // 1000: milliseconds, 1000000: microseconds
  uint64_t DeviceType = DeviceTypeGPU;
  std::string BaseCompilationOptions = "-cl-std=CL2.0 ";
  std::string UserCompilationOptions;
  std::string UserLinkingOptions;
  std::string ExtraCompilationOptions;
  std::string TargetLinkingOptions;
  RelaxedInt32 ThreadLimit; // refreshed from the OpenMP runtime by each launch; 0: no limit
  RelaxedInt32 NumTeams;    // likewise
  uint64_t DynamicMemorySize = 0;
  int32_t DynamicMemoryMethod = 1; // 1: pool, 0: plain heap
  uint64_t SubscriptionRate = 1;
  uint64_t ReductionSubscriptionRate = 1;
  bool ReductionSubscriptionRateIsDefault = true;
  double ThinThreadsThreshold = 0.1;
  // Specialization constants; the three vectors grow together.
  std::vector<uint32_t> SpecConstantIds;
  std::vector<uint64_t> SpecConstantSizes;
  std::vector<std::unique_ptr<uint8_t[]>> SpecConstantValues;
  std::string TraceFile; // where the timeline is written at shutdown; empty: no timeline

  // Defaults only; readFromEnvironment fills the rest.
  PluginOptions() = default;
  void readFromEnvironment();
  void addSpecConstant(uint32_t Id, uint64_t Size, const void *Value);
};

// The variable's text or null; echoes "ENV:" when debugging is on.
const char *readEnvironmentVariable(const char *Name, const char *DeprecatedName = nullptr);

// 1 for a true word, 0 for a false word, -1 for anything else (case-insensitive).
int parseBool(const char *Text);

// A whole decimal integer that fits in 32 bits (leading blanks and a sign allowed, trailing text
// ignored); false when the text has no leading number or it does not fit.
bool parseInt32(const char *Text, int32_t &Value);

// LIBOMPTARGET_DYNAMIC_MEMORY_SIZE: "<MB>" or "<MB>,<method>". Returns false, leaving the outputs
// alone, when the text is not a non-negative size; otherwise sets them, writing its messages.
bool parseDynamicMemorySize(const char *Text, uint64_t &SizeBytes, int32_t &Method);

// LIBOMPTARGET_QUVELA_THIN_THREADS_THRESHOLD: a number in [0, 1]; false (with messages) otherwise.
bool parseThinThreadsThreshold(const char *Text, double &Value);

#endif
