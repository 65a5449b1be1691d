// A second definition of link_triple: linking it with link_provider.cl must fail.

int link_triple(int x) { return x; }
