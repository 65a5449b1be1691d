# Writes the OpenCL C of a module with COUNT empty target regions to OUT, laid out as the OpenMP
# compiler lays out a device module: the regions, their names, and the offload table sorted by name.
math(EXPR last "${COUNT} - 1")
set(kernels "")
set(names "")
set(table "")
foreach(i RANGE ${last})
  string(LENGTH "${i}" digits)
  set(id "${i}")
  while(digits LESS 3)
    set(id "0${id}")
    math(EXPR digits "${digits} + 1")
  endwhile()
  set(name "__omp_offloading_bench_empty_${id}")
  string(APPEND names "__global char name_${id}[] = \"${name}\";\n")
  string(APPEND table "    {{0, name_${id}, 0, 0, 0}, sizeof(name_${id})},\n")
  string(APPEND kernels "__kernel void ${name}(__global long *p, long n) {}\n")
endforeach()
file(WRITE ${OUT} "// Generated: ${COUNT} empty target regions.
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

${names}
__global offload_table_entry __omp_offloading_entries_table[] = {
${table}};
__global ulong __omp_offloading_entries_table_size = sizeof(__omp_offloading_entries_table);

${kernels}")
