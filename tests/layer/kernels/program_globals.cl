// Program-scope variables shared by every kernel of the program.

global int counter = 5;
global int values[4] = {10, 20, 30, 40};
global int *value_pointer = &values[2];
global long host_written;

kernel void count_work_items(void) {
  atomic_inc(&counter);
}

kernel void read_globals(global long *out) {
  out[0] = counter;
  out[1] = *value_pointer;
  out[2] = values[3];
  out[3] = host_written;
}

kernel void set_counter(int value) {
  counter = value;
  value_pointer = &values[0];
}
