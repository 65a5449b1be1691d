// The layout an OpenMP compiler gives a device program that this plugin loads, as OpenCL C
// declarations, so that hand-written device code need not spell it out again:
//   - the offload entries table ("__omp_offloading_entries_table" and its byte size), one record
//     per target region, declare-target variable or function, sorted by name: the plugin looks
//     entries up by binary search, so list them in strcmp order;
//   - kernel info records ("<kernel>_kernel_info") of versions 1 to 5;
//   - the program data record the plugin fills in ("__omp_spirv_program_data");
//   - the function pointer map the plugin publishes ("__omp_offloading_fptr_map_p" and
//     "__omp_offloading_fptr_map_size") and a lookup over it.
// Compile with clang -target spir64 -cl-std=CL2.0 and -I this directory.
#ifndef OMP_OFFLOAD_KIT_H
#define OMP_OFFLOAD_KIT_H

// ---- Offload entries -------------------------------------------------------------------------

typedef struct {
  __global void *address; // a variable's storage; null for regions and functions
  __global char *name;
  ulong size;             // a variable's size in bytes; 0 for regions and functions
  int flags;              // OMP_ENTRY_FUNCTION for a function
  int reserved;
} omp_offload_entry;

typedef struct {
  omp_offload_entry base;
  ulong name_size; // bytes of the name with its terminating zero
} omp_offload_table_entry;

#define OMP_ENTRY_FUNCTION 0x8

// The name text of entry Id (a device global the table points at).
#define OMP_OFFLOAD_NAME(Id, Text) __global char omp_offload_name_##Id[] = Text

#define OMP_OFFLOAD_REGION(Id) {{0, omp_offload_name_##Id, 0, 0, 0}, sizeof(omp_offload_name_##Id)}
#define OMP_OFFLOAD_VARIABLE(Id, Var)                                                              \
  {{(__global void *)&(Var), omp_offload_name_##Id, sizeof(Var), 0, 0},                           \
   sizeof(omp_offload_name_##Id)}
#define OMP_OFFLOAD_FUNCTION(Id)                                                                   \
  {{0, omp_offload_name_##Id, 0, OMP_ENTRY_FUNCTION, 0}, sizeof(omp_offload_name_##Id)}

// The table and its size, from entries listed in name order.
#define OMP_OFFLOAD_TABLE(...)                                                                     \
  __global omp_offload_table_entry __omp_offloading_entries_table[] = {__VA_ARGS__};               \
  __global ulong __omp_offloading_entries_table_size = sizeof(__omp_offloading_entries_table)

// ---- Kernel info records -----------------------------------------------------------------------
// Per argument two words: 1 and its size when it is passed by value, 0 and 8 for a pointer.

#define OMP_ARG_BY_VALUE(Size) 1u, (uint)(Size)
#define OMP_ARG_POINTER 0u, 8u

// Attributes.
#define OMP_KERNEL_TEAMS_REDUCTION 0x1ul // reduces across teams
#define OMP_KERNEL_SPECIFIC_NDRANGE 0x2ul // accepts the ND-range of its loop descriptor (version 5)

#define OMP_KERNEL_INFO_V1(Kernel, NumArgs, ...)                                                   \
  __global struct {                                                                                \
    uint version, num_args;                                                                        \
    uint args[2 * (NumArgs)];                                                                      \
  } Kernel##_kernel_info = {1, (NumArgs), {__VA_ARGS__}}

#define OMP_KERNEL_INFO_V2(Kernel, NumArgs, Attributes, ...)                                       \
  __global struct {                                                                                \
    uint version, num_args;                                                                        \
    uint args[2 * (NumArgs)];                                                                      \
    ulong attributes;                                                                              \
  } Kernel##_kernel_info = {2, (NumArgs), {__VA_ARGS__}, (Attributes)}

#define OMP_KERNEL_INFO_V3(Kernel, NumArgs, Attributes, MaxTeamCount, ...)                         \
  __global struct {                                                                                \
    uint version, num_args;                                                                        \
    uint args[2 * (NumArgs)];                                                                      \
    ulong attributes;                                                                              \
    uint max_team_count, unused0;                                                                  \
  } Kernel##_kernel_info = {3, (NumArgs), {__VA_ARGS__}, (Attributes), (MaxTeamCount), 0}

// Versions 4 and 5 share a layout; 5 tells the plugin to look at OMP_KERNEL_SPECIFIC_NDRANGE.
#define OMP_KERNEL_INFO_V4_LAYOUT(Version, Kernel, NumArgs, Attributes, MaxTeamCount,              \
                                  MaxTeamSize, ...)                                                \
  __global struct {                                                                                \
    uint version, num_args;                                                                        \
    uint args[2 * (NumArgs)];                                                                      \
    ulong attributes;                                                                              \
    uint max_team_count, unused0;                                                                  \
    uint max_team_size, unused1;                                                                   \
  } Kernel##_kernel_info = {(Version), (NumArgs), {__VA_ARGS__}, (Attributes), (MaxTeamCount), 0, \
                            (MaxTeamSize), 0}
#define OMP_KERNEL_INFO_V4(Kernel, ...) OMP_KERNEL_INFO_V4_LAYOUT(4, Kernel, __VA_ARGS__)
#define OMP_KERNEL_INFO_V5(Kernel, ...) OMP_KERNEL_INFO_V4_LAYOUT(5, Kernel, __VA_ARGS__)

// ---- Program data --------------------------------------------------------------------------------

typedef struct {
  uint initialized; // 1 once the plugin wrote the record
  uint num_devices;
  int device_num;
  uint total_eus;
  uint hw_threads_per_eu;
  uint padding0;
  ulong dynamic_memory_lb; // plain heap: first byte, else 0
  ulong dynamic_memory_ub; // plain heap: one past the last byte, else 0
  uint device_type;        // 1 when the device is not a GPU
  uint padding1;
  ulong dynamic_mem_pool;  // the pool descriptor, else 0
  uint teams_thread_limit;
  uint padding2;
} omp_program_data;

#define OMP_PROGRAM_DATA __global omp_program_data __omp_spirv_program_data

// ---- Function pointer map --------------------------------------------------------------------

#define OMP_FUNCTION_POINTER_MAP                                                                   \
  __global ulong __omp_offloading_fptr_map_p;                                                      \
  __global ulong __omp_offloading_fptr_map_size

// The device function of a host function address, or 0 when the map does not list it. Needs
// OMP_FUNCTION_POINTER_MAP in the program.
#define OMP_DEVICE_FUNCTION(HostAddress)                                                           \
  omp_map_function((HostAddress), __omp_offloading_fptr_map_p, __omp_offloading_fptr_map_size)

inline ulong omp_map_function(ulong host, ulong map, ulong entries) {
  __global const ulong *pairs = (__global const ulong *)map;
  for (ulong i = 0; i < entries; ++i)
    if (pairs[2 * i] == host)
      return pairs[2 * i + 1];
  return 0;
}

#endif
