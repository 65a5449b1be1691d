// Queries the CPU driver fails that the layer answers: host and device timers on the clock of
// event timestamps, and the sub-group sizes of a device without sub-groups.
#include "layer_test_env.h"

#include <gtest/gtest.h>

namespace {

class QueriesTest : public LayerSuite<QueriesTest> {
public:
  static constexpr const char *ProgramFile = "usm_access.spv";
};

TEST_F(QueriesTest, TimersShareTheClockOfEventTimestamps) {
  cl_ulong DeviceBefore = 0, HostBefore = 0, DeviceAfter = 0, HostAfter = 0, Host = 0;
  ASSERT_EQ(clGetDeviceAndHostTimer(Env.Device, &DeviceBefore, &HostBefore), CL_SUCCESS);
  cl_int Error = CL_SUCCESS;
  cl_kernel Scale = clCreateKernel(Program, "scale", &Error);
  auto *Data = static_cast<int *>(
      Env.Usm.SharedMemAlloc(Env.Context, Env.Device, nullptr, 64 * sizeof(int), 0, &Error));
  int Factor = 2;
  Env.Usm.SetKernelArgMemPointer(Scale, 0, Data);
  clSetKernelArg(Scale, 1, sizeof(Factor), &Factor);
  size_t Global = 64;
  cl_event Done = nullptr;
  ASSERT_EQ(clEnqueueNDRangeKernel(Env.Queue, Scale, 1, nullptr, &Global, nullptr, 0, nullptr,
                                   &Done),
            CL_SUCCESS);
  clWaitForEvents(1, &Done);
  ASSERT_EQ(clGetDeviceAndHostTimer(Env.Device, &DeviceAfter, &HostAfter), CL_SUCCESS);
  ASSERT_EQ(clGetHostTimer(Env.Device, &Host), CL_SUCCESS);
  cl_ulong Start = 0, End = 0;
  clGetEventProfilingInfo(Done, CL_PROFILING_COMMAND_START, sizeof(Start), &Start, nullptr);
  clGetEventProfilingInfo(Done, CL_PROFILING_COMMAND_END, sizeof(End), &End, nullptr);
  EXPECT_LE(DeviceBefore, Start);
  EXPECT_LE(Start, End);
  EXPECT_LE(End, DeviceAfter);
  EXPECT_LE(HostAfter, Host);
  EXPECT_LE(HostBefore, HostAfter);
  EXPECT_EQ(clGetDeviceAndHostTimer(Env.Device, nullptr, &Host), CL_INVALID_VALUE);
  EXPECT_EQ(clGetHostTimer(Env.Device, nullptr), CL_INVALID_VALUE);
  cl_ulong Resolution = 0; // a platform with a host timer says so
  clGetPlatformInfo(Env.Platform, CL_PLATFORM_HOST_TIMER_RESOLUTION, sizeof(Resolution),
                    &Resolution, nullptr);
  EXPECT_EQ(Resolution, 1u);
  clReleaseEvent(Done);
  clReleaseKernel(Scale);
  Env.Usm.MemFree(Env.Context, Data);
}

TEST_F(QueriesTest, SubGroupsOfOneOnADeviceWithoutSubGroups) {
  cl_int Error = CL_SUCCESS;
  cl_kernel Scale = clCreateKernel(Program, "scale", &Error);
  // The call pattern of a client that passes its current value as the local size.
  size_t SimdWidth = 0;
  ASSERT_EQ(clGetKernelSubGroupInfo(Scale, Env.Device, CL_KERNEL_MAX_SUB_GROUP_SIZE_FOR_NDRANGE,
                                    sizeof(size_t), &SimdWidth, sizeof(size_t), &SimdWidth,
                                    nullptr),
            CL_SUCCESS);
  EXPECT_EQ(SimdWidth, 1u);
  // The device's own answer agrees: a work-group holds as many sub-groups as work-items.
  cl_uint SubGroups = 0;
  size_t GroupSize = 0;
  clGetDeviceInfo(Env.Device, CL_DEVICE_MAX_NUM_SUB_GROUPS, sizeof(SubGroups), &SubGroups,
                  nullptr);
  clGetDeviceInfo(Env.Device, CL_DEVICE_MAX_WORK_GROUP_SIZE, sizeof(GroupSize), &GroupSize,
                  nullptr);
  EXPECT_EQ(SubGroups, GroupSize);
  const size_t Local[2] = {8, 4};
  size_t Count = 0;
  ASSERT_EQ(clGetKernelSubGroupInfo(Scale, Env.Device, CL_KERNEL_SUB_GROUP_COUNT_FOR_NDRANGE,
                                    sizeof(Local), Local, sizeof(Count), &Count, nullptr),
            CL_SUCCESS);
  EXPECT_EQ(Count, 32u);
  EXPECT_EQ(clGetKernelSubGroupInfo(Scale, Env.Device, CL_KERNEL_MAX_SUB_GROUP_SIZE_FOR_NDRANGE,
                                    0, nullptr, sizeof(Count), &Count, nullptr),
            CL_INVALID_VALUE);
  clReleaseKernel(Scale);
}

} // namespace
