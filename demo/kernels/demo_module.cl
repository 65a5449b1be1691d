// The device side of a small OpenMP program, written as its compiler would lay it out: three
// target regions (two teams regions and a loop region), two declare-target variables, the offload table that names them (sorted by name, with
// the device addresses of the names), a kernel info record per region and the program data record
// the plugin fills in.

typedef struct {
  __global void *address;
  __global char *name;
  ulong size;
  int flags;
  int reserved;
} offload_entry;

typedef struct {
  offload_entry base;
  ulong name_size;
} offload_table_entry;

// Kernel info, version 4: by-value flag and size per argument, attributes, team limits.
typedef struct {
  uint version;
  uint num_args;
  uint args[4];
  ulong attributes;
  uint max_team_count;
  uint unused0;
  uint max_team_size;
  uint unused1;
} kernel_info_2;

__global int demo_counter = 42;
__global long demo_scale[4] = {1, 2, 3, 4};

__global char name_grid[] = "__omp_offloading_demo_grid_l40";
__global char name_saxpy[] = "__omp_offloading_demo_saxpy_l12";
__global char name_sum[] = "__omp_offloading_demo_sum_l30";
__global char name_counter[] = "demo_counter";
__global char name_scale[] = "demo_scale";

__global offload_table_entry __omp_offloading_entries_table[] = {
    {{0, name_grid, 0, 0, 0}, sizeof(name_grid)},
    {{0, name_saxpy, 0, 0, 0}, sizeof(name_saxpy)},
    {{0, name_sum, 0, 0, 0}, sizeof(name_sum)},
    {{&demo_counter, name_counter, sizeof(demo_counter), 0, 0}, sizeof(name_counter)},
    {{demo_scale, name_scale, sizeof(demo_scale), 0, 0}, sizeof(name_scale)},
};
__global ulong __omp_offloading_entries_table_size = sizeof(__omp_offloading_entries_table);

// saxpy(y, a): y by pointer, a by value (4 bytes); teams of at most 64 threads.
__global kernel_info_2 __omp_offloading_demo_saxpy_l12_kernel_info = {4, 2, {0, 8, 1, 4}, 0, 0, 0, 64, 0};

__global uchar __omp_spirv_program_data[64];

__kernel void __omp_offloading_demo_saxpy_l12(__global float *y, float a) {
  size_t i = get_global_id(0);
  y[i] = a * y[i] + (float)demo_scale[i % 4];
}

// One work-item adds up n values and the counter. Scalars without a kernel info record arrive as
// 8-byte values.
__kernel void __omp_offloading_demo_sum_l30(__global long *out, __global const long *in, long n) {
  long s = demo_counter;
  for (long i = 0; i < n; ++i)
    s += in[i];
  *out = s;
}

// A loop region over a rows x cols grid, one work-item per iteration: the ND-range may round the
// iteration space up to whole work-groups.
__kernel void __omp_offloading_demo_grid_l40(__global long *out, long cols, long rows) {
  long i = get_global_id(0), j = get_global_id(1);
  if (i < cols && j < rows)
    out[j * cols + i] = j * 1000 + i;
}
