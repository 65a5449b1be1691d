#include "frame/options.h"

#include "frame/debug.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

const char *readEnvironmentVariable(const char *Name, const char *DeprecatedName) {
  const char *Value = std::getenv(Name);
  if (Value) {
    DP("ENV: %s=%s\n", Name, Value);
    return Value;
  }
  if (!DeprecatedName)
    return nullptr;
  Value = std::getenv(DeprecatedName);
  if (Value) {
    DP("ENV: %s=%s\n", DeprecatedName, Value);
    warningMessage("Warning: %s is being deprecated. Use %s instead.\n", DeprecatedName, Name);
  }
  return Value;
}

int parseBool(const char *Text) {
  std::string Lower(Text ? Text : "");
  for (char &C : Lower)
    C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  for (const char *Word : {"1", "t", "on", "yes", "true", "enabled"})
    if (Lower == Word)
      return 1;
  for (const char *Word : {"false", "f", "0", "off", "no", "disabled"})
    if (Lower == Word)
      return 0;
  return -1;
}

bool parseInt32(const char *Text, int32_t &Value) {
  if (!Text)
    return false;
  char *End = nullptr;
  errno = 0;
  long Parsed = std::strtol(Text, &End, 10);
  if (End == Text || errno == ERANGE || Parsed < INT32_MIN || Parsed > INT32_MAX)
    return false;
  Value = static_cast<int32_t>(Parsed);
  return true;
}

bool parseDynamicMemorySize(const char *Text, uint64_t &SizeBytes, int32_t &Method) {
  std::string SizeText(Text);
  int32_t NewMethod = Method;
  size_t Comma = SizeText.find(',');
  if (Comma != std::string::npos) {
    std::string MethodText = SizeText.substr(Comma + 1);
    SizeText.resize(Comma);
    if (MethodText == "0" || MethodText == "1") {
      NewMethod = MethodText[0] - '0';
    } else {
      DP("Ignoring incorrect value for LIBOMPTARGET_DYNAMIC_MEMORY_SIZE\n");
      SizeBytes = 0;
      return true;
    }
  }
  int32_t Megabytes = 0;
  // Negative sizes have no sound meaning; they are refused like unparsable text.
  if (!parseInt32(SizeText.c_str(), Megabytes) || Megabytes < 0)
    return false;
  Method = NewMethod;
  uint64_t MB = static_cast<uint64_t>(Megabytes);
  if (MB == 0) {
    SizeBytes = 0;
    return true;
  }
  uint64_t Limit = 2048;
  if (Method == 1) {
    uint64_t Rounded = 1;
    while (Rounded < MB)
      Rounded <<= 1;
    MB = Rounded;
    Limit = 512;
  }
  if (MB > Limit) {
    warningMessage("Warning: Requested dynamic memory size %zu MB exceeds allowed limit  -- "
                   "setting it to %zu MB\n",
                   static_cast<size_t>(MB), static_cast<size_t>(Limit));
    MB = Limit;
  }
  SizeBytes = MB << 20;
  return true;
}

bool parseThinThreadsThreshold(const char *Text, double &Value) {
  char *End = nullptr;
  errno = 0;
  double Parsed = std::strtod(Text, &End);
  bool RangeError = errno == ERANGE;
  // The comparison is written so that a NaN fails it.
  if (End != Text && !RangeError && Parsed >= 0.0 && Parsed <= 1.0) {
    Value = Parsed;
    return true;
  }
  if (RangeError)
    DP("Error parsing value of LIBOMPTARGET_QUVELA_THIN_THREADS_THRESHOLD: %s\n",
       std::strerror(ERANGE));
  DP("Value of LIBOMPTARGET_QUVELA_THIN_THREADS_THRESHOLD must be a non-negative floating-point "
     "number not greater than 1.0.\n");
  DP("Using default value: %f\n", Value);
  return false;
}

void PluginOptions::addSpecConstant(uint32_t Id, uint64_t Size, const void *Value) {
  std::unique_ptr<uint8_t[]> Bytes(new uint8_t[Size]);
  std::memcpy(Bytes.get(), Value, Size);
  SpecConstantIds.push_back(Id);
  SpecConstantSizes.push_back(Size);
  SpecConstantValues.push_back(std::move(Bytes));
}

namespace {

// A tri-state switch: true sets the bit, false clears it, anything else leaves it.
void readFlagSwitch(uint64_t &Flags, const char *Name, uint64_t Bit) {
  const char *Text = readEnvironmentVariable(Name);
  if (!Text)
    return;
  int Value = parseBool(Text);
  if (Value == 1)
    Flags |= Bit;
  else if (Value == 0)
    Flags &= ~Bit;
}

void readDeviceType(PluginOptions &Opt) {
  if (const char *Text = readEnvironmentVariable("LIBOMPTARGET_DEVICETYPE")) {
    std::string Type(Text);
    if (Type == "GPU" || Type == "gpu")
      Opt.DeviceType = DeviceTypeGPU;
    else if (Type == "CPU" || Type == "cpu")
      Opt.DeviceType = DeviceTypeCPU;
    else if (!Type.empty())
      warningMessage("Warning: Invalid or unsupported LIBOMPTARGET_DEVICETYPE=%s\n", Text);
  }
  DP("Target device type is set to %s\n", Opt.DeviceType == DeviceTypeCPU ? "CPU" : "GPU");
  if (Opt.DeviceType == DeviceTypeGPU) {
    Opt.SubscriptionRate = 4;
    Opt.ReductionSubscriptionRate = 16;
  }
}

void readSubscriptionRates(PluginOptions &Opt) {
  int32_t Value = 0;
  if (parseInt32(readEnvironmentVariable("LIBOMPTARGET_OPENCL_SUBSCRIPTION_RATE"), Value) &&
      Value >= 1 && Value <= 65535)
    Opt.SubscriptionRate = static_cast<uint64_t>(Value);
  if (parseInt32(readEnvironmentVariable("LIBOMPTARGET_QUVELA_REDUCTION_SUBSCRIPTION_RATE"),
                 Value) &&
      Value >= 0 && Value <= 65535) {
    Opt.ReductionSubscriptionRate = static_cast<uint64_t>(Value);
    Opt.ReductionSubscriptionRateIsDefault = false;
  }
}

void readProfile(PluginOptions &Opt) {
  const char *Text = readEnvironmentVariable("LIBOMPTARGET_PLUGIN_PROFILE");
  if (!Text)
    return;
  std::string All(Text);
  size_t Start = 0;
  while (Start <= All.size()) {
    size_t Comma = All.find(',', Start);
    if (Comma == std::string::npos)
      Comma = All.size();
    std::string Piece = All.substr(Start, Comma - Start);
    if (Piece == "T" || Piece == "1")
      Opt.Flags |= OptionFlagProfile;
    else if (Piece == "usec" || Piece == "unit_usec")
      Opt.ProfileResolution = 1000000;
    Start = Comma + 1;
  }
}

void readGPULinkOptions(PluginOptions &Opt) {
  Opt.TargetLinkingOptions += " -cl-take-global-address ";
  const char *SinCosPi = readEnvironmentVariable("LIBOMPTARGET_OPENCL_MATCH_SINCOSPI");
  if (!SinCosPi || parseBool(SinCosPi) != 0)
    Opt.TargetLinkingOptions += " -cl-match-sincospi ";
  const char *GroupSizes = readEnvironmentVariable("LIBOMPTARGET_OPENCL_USE_DRIVER_GROUP_SIZES");
  if (GroupSizes && parseBool(GroupSizes) == 1)
    Opt.Flags |= OptionFlagDriverGroupSizes;
}

} // namespace

void PluginOptions::readFromEnvironment() {
  readDeviceType(*this);
  readSubscriptionRates(*this);
  readProfile(*this);

  if (const char *Text = readEnvironmentVariable("LIBOMPTARGET_ENABLE_SIMD")) {
    if (parseBool(Text) == 1)
      Flags |= OptionFlagSIMD;
    else
      warningMessage("Warning: Invalid or unsupported LIBOMPTARGET_ENABLE_SIMD=%s\n", Text);
  }
  if (const char *Text = readEnvironmentVariable("LIBOMPTARGET_OPENCL_COMPILATION_OPTIONS"))
    UserCompilationOptions += Text;
  if (const char *Text = readEnvironmentVariable("LIBOMPTARGET_OPENCL_LINKING_OPTIONS"))
    UserLinkingOptions += Text;

  // CPU devices take none of the GPU link options, so their variables are not even read.
  if (DeviceType == DeviceTypeGPU)
    readGPULinkOptions(*this);

  const char *SingleContext = readEnvironmentVariable("LIBOMPTARGET_USE_SINGLE_CONTEXT");
  if (SingleContext && parseBool(SingleContext) == 1)
    Flags |= OptionFlagSingleContext;

  if (const char *Text = readEnvironmentVariable("LIBOMPTARGET_DYNAMIC_MEMORY_SIZE"))
    parseDynamicMemorySize(Text, DynamicMemorySize, DynamicMemoryMethod);

  if (readEnvironmentVariable("TARNO_ENABLE_OFFLOAD_ANNOTATIONS")) {
    const uint8_t On = 1;
    addSpecConstant(OffloadAnnotationsSpecConstantId, 1, &On);
  }

  readFlagSwitch(Flags, "LIBOMPTARGET_QUVELA_USE_IMAGE_OPTIONS", OptionFlagImageOptions);
  readFlagSwitch(Flags, "LIBOMPTARGET_QUVELA_SHOW_BUILD_LOG", OptionFlagShowBuildLog);
  readFlagSwitch(Flags, "LIBOMPTARGET_QUVELA_LINK_LIBDEVICE", OptionFlagLinkLibDevice);

  if (const char *Text = readEnvironmentVariable("LIBOMPTARGET_QUVELA_THIN_THREADS_THRESHOLD"))
    parseThinThreadsThreshold(Text, ThinThreadsThreshold);

  readFlagSwitch(Flags, "LIBOMPTARGET_NDRANGE_IGNORE_TRIPCOUNT", OptionFlagNDRangeIgnoreTripCount);

  if (const char *Text = readEnvironmentVariable("LIBOMPTARGET_OPENCL_TRACE_FILE"))
    if (*Text) {
      TraceFile = Text;
      Flags |= OptionFlagTimeline;
    }
}
