// A real offload image (OpenCL C compiled to SPIR-V, in the offload container) loaded through the
// plugin on the machine's CPU device with the project's OpenCL layer: the whole pipeline with a
// real compiler, linker and driver underneath.
#include "real_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

using namespace realimage;

TEST(RealImage, LoadsWithKernelsVariablesKernelInfoProgramDataAndImageOptions) {
  ChildResult R = onRealDevice([]() -> int {
    LoadedImage L;
    if (!__tgt_rtl_is_valid_binary(&L.Image))
      return 81;
    TargetTable *Table = __tgt_rtl_load_binary(0, &L.Image);
    if (!Table || Table->EntriesEnd - Table->EntriesBegin != 4)
      return 82;
    OpenCLProgramTy &Program = DeviceInfo->Programs[0].back();
    for (int I : {0, 2}) {
      cl_kernel Kernel = *static_cast<cl_kernel *>(Table->EntriesBegin[I].address);
      EXPECT_NE(Kernel, nullptr);
      EXPECT_EQ(DeviceInfo->KernelProperties[0].count(Kernel), 1u);
      EXPECT_GT(DeviceInfo->KernelProperties[0][Kernel].MaxThreadGroupSize, 0u);
    }
    // Only saxpy carries a kernel info record.
    cl_kernel Saxpy = Program.Kernels[0];
    EXPECT_EQ(Program.KernelInfo.size(), 1u);
    const KernelInfoTy &Info = Program.KernelInfo[Saxpy];
    EXPECT_EQ(Info.Version, 4u);
    EXPECT_EQ(Info.MaxTeamSize, 64u);
    if (Info.Args.size() != 2u)
      return 83;
    EXPECT_FALSE(Info.Args[0].ByValue);
    EXPECT_TRUE(Info.Args[1].ByValue);
    EXPECT_EQ(Info.Args[1].ArgSize, 4u);

    // Variables come from the device table and hold their initial values.
    int32_t Counter = 0;
    int64_t Scale[4] = {};
    EXPECT_EQ(__tgt_rtl_data_retrieve(0, &Counter, Table->EntriesBegin[1].address, 4), 0);
    EXPECT_EQ(__tgt_rtl_data_retrieve(0, Scale, Table->EntriesBegin[3].address, 32), 0);
    EXPECT_EQ(Counter, 42);
    EXPECT_EQ(Scale[3], 4);

    // The program data record reached the device: marker, one device, device 0, not a GPU.
    ProgramDataTy Data;
    EXPECT_EQ(Program.readGlobalVariable("__omp_spirv_program_data", sizeof(Data), &Data), 0);
    EXPECT_EQ(Data.Initialized, 1u);
    EXPECT_EQ(Data.NumDevices, 1u);
    EXPECT_EQ(Data.DeviceNum, 0);
    EXPECT_EQ(Data.DeviceType, 1u);
    EXPECT_NE(Data.DynamicMemPool, 0u); // a 1 MB pool was asked for
    EXPECT_EQ(Data.TeamsThreadLimit,
              static_cast<uint32_t>(DeviceInfo->DeviceProperties[0].MaxWorkGroupSize));

    // The options the container asks for reached the compiler.
    char Options[512] = {};
    EXPECT_EQ(clGetProgramBuildInfo(Program.Programs[0], DeviceInfo->Devices[0],
                                    CL_PROGRAM_BUILD_OPTIONS, sizeof(Options) - 1, Options,
                                    nullptr),
              CL_SUCCESS);
    EXPECT_NE(std::strstr(Options, " -DDEMO"), nullptr) << Options;
    __tgt_rtl_unregister_lib(nullptr);
    return ::testing::Test::HasFailure() ? 1 : 0;
  });
  EXPECT_EQ(R.ExitStatus, 0) << R.Stdout << R.Stderr;
}

TEST(RealImage, DeviceLibrariesBesideThePluginAreLinked) {
  // The shared plugin, so that it finds the library files beside its own file in build/lib.
  ChildResult R = runInChild({{"OPENCL_LAYERS", LAYER_PATH},
                              {"LIBOMPTARGET_DEVICETYPE", "cpu"},
                              {"LIBOMPTARGET_QUVELA_LINK_LIBDEVICE", "1"},
                              {"LIBOMPTARGET_DEBUG", "1"}},
                             [] {
                               HostPlugin P;
                               std::string Error;
                               if (!loadHostPlugin(PLUGIN_PATH, P, Error))
                                 return 92;
                               P.register_lib(nullptr);
                               if (P.number_of_devices() < 1 || P.init_device(0) != 0)
                                 return 80;
                               LoadedImage L;
                               int Rc = P.load_binary(0, &L.Image) ? 0 : 7;
                               P.unregister_lib(nullptr);
                               return Rc;
                             });
  EXPECT_EQ(R.ExitStatus, 0) << R.Stderr;
  EXPECT_TRUE(hasLine(R.Stderr, "Target OPENCL RTL --> Successfully linked 7 programs."))
      << R.Stderr;
  EXPECT_EQ(R.Stderr.find("Cannot find device RTL"), std::string::npos);
}
