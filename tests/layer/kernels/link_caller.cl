// Calls a function and reads a variable that another module defines.

extern global int link_base;
int link_triple(int x);

kernel void use_linked(global int *out) {
  int i = (int)get_global_id(0);
  out[i] = link_triple(i) + link_base;
}
