// Fallback for cl_tarno_devicelib_cstring: the C string functions device code calls, byte by byte
// on generic pointers.
void *__devicelib_memcpy(void *dst, const void *src, ulong n) {
  char *d = (char *)dst;
  const char *s = (const char *)src;
  for (ulong i = 0; i < n; ++i)
    d[i] = s[i];
  return dst;
}

void *__devicelib_memset(void *dst, int value, ulong n) {
  char *d = (char *)dst;
  for (ulong i = 0; i < n; ++i)
    d[i] = (char)value;
  return dst;
}

int __devicelib_memcmp(const void *a, const void *b, ulong n) {
  const uchar *x = (const uchar *)a;
  const uchar *y = (const uchar *)b;
  for (ulong i = 0; i < n; ++i)
    if (x[i] != y[i])
      return x[i] < y[i] ? -1 : 1;
  return 0;
}
