/* The examples' verdicts: which differences count as wrong, which one is reported first, and the
 * exact lines the benchmark and the demo read. Built for the host only. */
#include "example_report.h"

#include <string.h>
#include <unistd.h>

static int failures = 0;

#define EXPECT(cond, ...)                                                                          \
  do {                                                                                             \
    if (!(cond)) {                                                                                 \
      fprintf(stderr, "example_report_test:%d: ", __LINE__);                                       \
      fprintf(stderr, __VA_ARGS__);                                                                \
      fputc('\n', stderr);                                                                         \
      ++failures;                                                                                  \
    }                                                                                              \
  } while (0)

/* Runs example_finish with standard output in a file and returns what it printed. */
static int finish_line(const example_diff *diff, char *line, size_t size) {
  fflush(stdout);
  FILE *out = tmpfile();
  int status;
  if (!out)
    return -1;
  int fd = dup(fileno(stdout));
  dup2(fileno(out), fileno(stdout));
  status = example_finish("ex", "3 things", "on device 0", 1.5, diff);
  fflush(stdout);
  dup2(fd, fileno(stdout));
  close(fd);
  rewind(out);
  if (!fgets(line, (int)size, out))
    line[0] = '\0';
  fclose(out);
  return status;
}

int main(void) {
  /* got, expected, tolerance, close */
  const struct {
    double got, expected, tolerance;
    int close;
  } cases[] = {
      {1.0, 1.0, 0.0, 1},          {1.0, 1.0 + 1e-15, 0.0, 0},  {100.0, 100.0 + 1e-10, 1e-12, 1},
      {100.0, 100.1, 1e-12, 0},    {-2.5, 2.5, 1.0, 0},         {0.0, 1e-13, 1e-12, 1},
      {0.0, 1e-11, 1e-12, 0},      {1e6, 1e6 + 0.5, 1e-6, 1},   {NAN, 1.0, 1.0, 0},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
    EXPECT(example_close(cases[i].got, cases[i].expected, cases[i].tolerance) == cases[i].close,
           "case %zu: %g against %g within %g", i, cases[i].got, cases[i].expected,
           cases[i].tolerance);

  /* Two differences: the count is 2 and the first one is kept. */
  example_diff diff = {0};
  example_compare(&diff, 0, 1.0, 1.0, 0.0);
  example_compare(&diff, 7, 2.0, 3.0, 0.0);
  example_compare(&diff, 9, 5.0, 4.0, 0.0);
  EXPECT(diff.wrong == 2 && diff.first == 7 && diff.got == 2.0 && diff.expected == 3.0,
         "diff %ld at %ld: %g != %g", diff.wrong, diff.first, diff.got, diff.expected);

  char line[256];
  EXPECT(finish_line(&diff, line, sizeof line) == 1, "a wrong result must exit with 1");
  EXPECT(strcmp(line, "ex: WRONG, 2 values differ from the host, the first at 7: 2 != 3\n") == 0,
         "wrong line: %s", line);
  example_diff right = {0};
  EXPECT(finish_line(&right, line, sizeof line) == 0, "a right result must exit with 0");
  EXPECT(strcmp(line, "ex: 3 things, on device 0, 1.500 ms, verified against the host\n") == 0,
         "verified line: %s", line);
  return failures != 0;
}
