// Defines what link_caller.cl uses.

global int link_base = 100;

int link_triple(int x) { return 3 * x; }
