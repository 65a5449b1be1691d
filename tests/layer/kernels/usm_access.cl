// Kernels that reach shared memory through arguments and through pointers stored in memory.

kernel void scale(global int *data, int factor) {
  size_t i = get_global_id(0);
  data[i] *= factor;
}

// Each entry of the table points at an int somewhere in another allocation.
kernel void follow_table(global int *global *table, int increment) {
  size_t i = get_global_id(0);
  *table[i] += increment;
}
