// Fallback for cl_tarno_devicelib_cassert: what a failed assert in device code calls.
void __devicelib_assert_fail(const char *expr, const char *file, int line, const char *func,
                             ulong gid0, ulong gid1, ulong gid2, ulong lid0, ulong lid1,
                             ulong lid2) {
  printf("%s:%d: %s: global id: [%lu,%lu,%lu], local id: [%lu,%lu,%lu] Assertion `%s` failed.\n",
         file, line, func, gid0, gid1, gid2, lid0, lid1, lid2, expr);
}
