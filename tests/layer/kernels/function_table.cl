// A program-scope table mixing function addresses with plain data.
#pragma OPENCL EXTENSION __cl_clang_function_pointers : enable

int twice(int x) { return 2 * x; }

typedef int (*operation)(int);

struct table_entry {
  operation function;
  int value;
};

global struct table_entry table = {twice, 42};

kernel void read_value(global int *out) { out[0] = table.value + twice(1); }
