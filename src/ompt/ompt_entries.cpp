#include "ompt/ompt_entries.h"

#include "frame/opencl.h"
#include "ompt/ompt_state.h"

#include <cstring>

const char *const OmptDocumentation =
    "\n"
    "OMPT entry: \"ompt_get_device_num_procs\"\n"
    "  typedef int (*ompt_get_device_num_procs_t)(\n"
    "      ompt_device_t *device\n"
    "  );\n"
    "  Returns available number of processors on the device.\n"
    "\n"
    "OMPT entry: \"ompt_get_device_time\"\n"
    "  typedef ompt_device_time_t (*ompt_get_device_time_t)(\n"
    "      ompt_device_t *device\n"
    "  );\n"
    "  Returns the current timestamp on the device.\n"
    "\n"
    "OMPT entry extension: \"ompt_ext_get_num_teams\"\n"
    "  typedef int (*ompt_ext_get_num_teams_t)(\n"
    "      ompt_id_t target_id\n"
    "  );\n"
    "  Returns the number of teams assigned to the target region.\n"
    "\n"
    "OMPT entry extension: \"ompt_ext_get_thread_limit\"\n"
    "  typedef int (*ompt_ext_get_thread_limit_t)(\n"
    "      ompt_id_t target_id\n"
    "  );\n"
    "  Returns the number of threads assigned to the target region.\n"
    "\n"
    "OMPT entry extension: \"ompt_ext_get_code_location\"\n"
    "  typedef const char *(*ompt_ext_get_code_location_t)(\n"
    "      const void *codeptr_ra\n"
    "  );\n"
    "  Returns the code location string for the specified return address.\n"
    "  Returns null if a code location is not found.\n";

namespace {

// The device a tool passes back is the OpenCL device handle given at device initialisation.
// Failures answer 0: a tool's query must never disturb the program. Both call the driver
// directly, outside the checked-call convention, so a tool's polling leaves no trace lines.
int getDeviceNumProcs(ompt_device_t *Device) {
  cl_uint Value = 0;
  if (clGetDeviceInfo(reinterpret_cast<cl_device_id>(Device), CL_DEVICE_MAX_COMPUTE_UNITS,
                      sizeof(Value), &Value, nullptr) != CL_SUCCESS)
    return 0;
  return static_cast<int>(Value);
}

ompt_device_time_t getDeviceTime(ompt_device_t *Device) {
  cl_ulong DeviceTime = 0, HostTime = 0;
  if (clGetDeviceAndHostTimer(reinterpret_cast<cl_device_id>(Device), &DeviceTime, &HostTime) !=
      CL_SUCCESS)
    return 0;
  return DeviceTime;
}

// Device tracing is not offered: each tracing entry says so and answers its "never" value.
double translateTime(ompt_device_t *, ompt_device_time_t) {
  omptWarning("Warning: ompt_translate_time_t entry is not available\n");
  return 0.0;
}
ompt_set_result_t setTraceOmpt(ompt_device_t *, unsigned int, unsigned int) {
  omptWarning("Warning: ompt_set_trace_ompt_t entry is not available\n");
  return ompt_set_never;
}
ompt_set_result_t setTraceNative(ompt_device_t *, int, int) {
  omptWarning("Warning: ompt_set_trace_native_t entry is not available\n");
  return ompt_set_never;
}
int startTrace(ompt_device_t *, ompt_callback_buffer_request_t, ompt_callback_buffer_complete_t) {
  omptWarning("Warning: ompt_start_trace_t entry is not available\n");
  return 0;
}
int pauseTrace(ompt_device_t *, int) {
  omptWarning("Warning: ompt_pause_trace_t entry is not available\n");
  return 0;
}
int flushTrace(ompt_device_t *) {
  omptWarning("Warning: ompt_flush_trace_t entry is not available\n");
  return 0;
}
int stopTrace(ompt_device_t *) {
  omptWarning("Warning: ompt_stop_trace_t entry is not available\n");
  return 0;
}
int advanceBufferCursor(ompt_device_t *, ompt_buffer_t *, size_t, ompt_buffer_cursor_t,
                        ompt_buffer_cursor_t *) {
  omptWarning("Warning: ompt_advance_buffer_cursor_t entry is not available\n");
  return 0;
}
ompt_record_t getRecordType(ompt_buffer_t *, ompt_buffer_cursor_t) {
  omptWarning("Warning: ompt_get_record_type_t entry is not available\n");
  return ompt_record_invalid;
}
ompt_record_ompt_t *getRecordOmpt(ompt_buffer_t *, ompt_buffer_cursor_t) {
  omptWarning("Warning: ompt_get_record_ompt_t entry is not available\n");
  return nullptr;
}
void *getRecordNative(ompt_buffer_t *, ompt_buffer_cursor_t, ompt_id_t *) {
  omptWarning("Warning: ompt_get_record_native_t entry is not available\n");
  return nullptr;
}
ompt_record_abstract_t *getRecordAbstract(void *) {
  omptWarning("Warning: ompt_get_record_abstract_t entry is not available\n");
  return nullptr;
}

// The calling thread's entry, or null (with a message) when no tool state was ever given.
OmptThreadState *threadEntry() {
  if (!OmptState) {
    omptWarning("Warning: no OMPT state\n");
    return nullptr;
  }
  return &omptThreadEntry(*OmptState);
}

// A value of the thread's last launch, when the thread is still in the target region asked for.
int launchValue(ompt_id_t TargetId, uint32_t OmptThreadState::*Field, const char *What) {
  OmptThreadState *Entry = threadEntry();
  if (Entry && Entry->TargetId == TargetId)
    return static_cast<int>(Entry->*Field);
  omptWarning("Warning: cannot find %s for target %llu\n", What,
              static_cast<unsigned long long>(TargetId));
  return 0;
}

int getNumTeams(ompt_id_t TargetId) {
  return launchValue(TargetId, &OmptThreadState::LaunchNumTeams, "num_teams");
}

int getThreadLimit(ompt_id_t TargetId) {
  return launchValue(TargetId, &OmptThreadState::LaunchThreadLimit, "thread_limit");
}

const char *getCodeLocation(const void *CodePtrRA) {
  OmptThreadState *Entry = threadEntry();
  if (!Entry)
    return nullptr;
  auto It = Entry->CodeLocations.find(reinterpret_cast<uint64_t>(CodePtrRA));
  return It == Entry->CodeLocations.end() ? nullptr : It->second.c_str();
}

struct NamedEntry {
  const char *Name;
  ompt_interface_fn_t Function;
};

template <typename Fn> ompt_interface_fn_t entry(Fn F) {
  return reinterpret_cast<ompt_interface_fn_t>(F);
}

const NamedEntry Entries[] = {
    {"ompt_get_device_num_procs", entry(getDeviceNumProcs)},
    {"ompt_get_device_time", entry(getDeviceTime)},
    {"ompt_translate_time", entry(translateTime)},
    {"ompt_set_trace_ompt", entry(setTraceOmpt)},
    {"ompt_set_trace_native", entry(setTraceNative)},
    {"ompt_start_trace", entry(startTrace)},
    {"ompt_pause_trace", entry(pauseTrace)},
    {"ompt_flush_trace", entry(flushTrace)},
    {"ompt_stop_trace", entry(stopTrace)},
    {"ompt_advance_buffer_cursor", entry(advanceBufferCursor)},
    {"ompt_get_record_type", entry(getRecordType)},
    {"ompt_get_record_ompt", entry(getRecordOmpt)},
    {"ompt_get_record_native", entry(getRecordNative)},
    {"ompt_get_record_abstract", entry(getRecordAbstract)},
    {"ompt_ext_get_num_teams", entry(getNumTeams)},
    {"ompt_ext_get_thread_limit", entry(getThreadLimit)},
    {"ompt_ext_get_code_location", entry(getCodeLocation)},
};

} // namespace

ompt_interface_fn_t omptLookup(const char *Name) {
  if (Name)
    for (const NamedEntry &E : Entries)
      if (std::strcmp(E.Name, Name) == 0)
        return E.Function;
  // Tools probe optional entries by name: a miss is an ordinary answer.
  return nullptr;
}
