// Default answers of platform and device queries, so a scenario only states what it cares about.
#include "info.h"
#include "scenario.h"

namespace fakecl {

void setDefaultPlatformInfo(PlatformModel &P) {
  std::string Index = std::to_string(P.Index);
  P.Info[CL_PLATFORM_PROFILE] = infoOfString("FULL_PROFILE");
  P.Info[CL_PLATFORM_VERSION] = infoOfString("OpenCL 3.0 fakecl");
  P.Info[CL_PLATFORM_NAME] = infoOfString("Fake Platform " + Index);
  P.Info[CL_PLATFORM_VENDOR] = infoOfString("fakecl");
  P.Info[CL_PLATFORM_EXTENSIONS] = infoOfString("cl_khr_icd cl_khr_il_program");
  P.Info[CL_PLATFORM_ICD_SUFFIX_KHR] = infoOfString("FAKE");
  P.Info[CL_PLATFORM_HOST_TIMER_RESOLUTION] = infoOf<cl_ulong>(1);
  P.Info[CL_PLATFORM_NUMERIC_VERSION] = infoOf<cl_version>(CL_MAKE_VERSION(3, 0, 0));
}

void setDefaultDeviceInfo(DeviceModel &D, unsigned IndexInPlatform) {
  bool IsCpu = D.Type & CL_DEVICE_TYPE_CPU;
  std::string Name = std::string(IsCpu ? "Fake CPU " : "Fake GPU ") + std::to_string(D.Platform->Index) + "." +
                     std::to_string(IndexInPlatform);
  InfoTable &I = D.Info;
  I[CL_DEVICE_TYPE] = infoOf<cl_device_type>(D.Type);
  I[CL_DEVICE_VENDOR_ID] = infoOf<cl_uint>(0xFA4E);
  I[CL_DEVICE_MAX_COMPUTE_UNITS] = infoOf<cl_uint>(IsCpu ? 4 : 32);
  I[CL_DEVICE_MAX_WORK_ITEM_DIMENSIONS] = infoOf<cl_uint>(3);
  I[CL_DEVICE_MAX_WORK_GROUP_SIZE] = infoOf<size_t>(IsCpu ? 4096 : 256);
  size_t ItemSizes[3] = {IsCpu ? 4096u : 256u, IsCpu ? 4096u : 256u, IsCpu ? 4096u : 256u};
  InfoValue Sizes;
  Sizes.Bytes.resize(sizeof(ItemSizes));
  std::memcpy(Sizes.Bytes.data(), ItemSizes, sizeof(ItemSizes));
  I[CL_DEVICE_MAX_WORK_ITEM_SIZES] = Sizes;
  I[CL_DEVICE_MAX_CLOCK_FREQUENCY] = infoOf<cl_uint>(1500);
  I[CL_DEVICE_ADDRESS_BITS] = infoOf<cl_uint>(64);
  I[CL_DEVICE_MAX_MEM_ALLOC_SIZE] = infoOf<cl_ulong>(1ull << 30);
  I[CL_DEVICE_GLOBAL_MEM_CACHE_SIZE] = infoOf<cl_ulong>(1ull << 20);
  I[CL_DEVICE_GLOBAL_MEM_SIZE] = infoOf<cl_ulong>(4ull << 30);
  I[CL_DEVICE_LOCAL_MEM_SIZE] = infoOf<cl_ulong>(64ull << 10);
  I[CL_DEVICE_MEM_BASE_ADDR_ALIGN] = infoOf<cl_uint>(1024);
  I[CL_DEVICE_PROFILING_TIMER_RESOLUTION] = infoOf<size_t>(1);
  I[CL_DEVICE_ENDIAN_LITTLE] = infoOf<cl_bool>(CL_TRUE);
  I[CL_DEVICE_AVAILABLE] = infoOf<cl_bool>(CL_TRUE);
  I[CL_DEVICE_COMPILER_AVAILABLE] = infoOf<cl_bool>(CL_TRUE);
  I[CL_DEVICE_LINKER_AVAILABLE] = infoOf<cl_bool>(CL_TRUE);
  I[CL_DEVICE_NAME] = infoOfString(Name);
  I[CL_DEVICE_VENDOR] = infoOfString("fakecl");
  I[CL_DEVICE_VERSION] = infoOfString("OpenCL 3.0 fakecl");
  I[CL_DRIVER_VERSION] = infoOfString("1.0");
  I[CL_DEVICE_PROFILE] = infoOfString("FULL_PROFILE");
  I[CL_DEVICE_OPENCL_C_VERSION] = infoOfString("OpenCL C 1.2 ");
  I[CL_DEVICE_IL_VERSION] = infoOfString("SPIR-V_1.2");
  I[CL_DEVICE_EXTENSIONS] =
      infoOfString("cl_khr_il_program cl_tarno_unified_shared_memory cl_tarno_device_attribute_query");
  I[CL_DEVICE_PLATFORM] = infoOf<cl_platform_id>(&D.Platform->Handle);
  I[CL_DEVICE_MAX_NUM_SUB_GROUPS] = infoOf<cl_uint>(IsCpu ? 1 : 32);
  I[CL_DEVICE_SUB_GROUP_INDEPENDENT_FORWARD_PROGRESS] = infoOf<cl_bool>(CL_TRUE);
  I[DeviceAttrDeviceId] = infoOf<cl_uint>(IsCpu ? 0 : 0x0B00 + IndexInPlatform);
  I[DeviceAttrNumSlices] = infoOf<cl_uint>(1);
  I[DeviceAttrNumSubslicesPerSlice] = infoOf<cl_uint>(4);
  I[DeviceAttrNumEUsPerSubslice] = infoOf<cl_uint>(8);
  I[DeviceAttrNumThreadsPerEU] = infoOf<cl_uint>(7);
}

} // namespace fakecl
