// What the benchmark reads back from OpenMP programs: an example's time from its line, and the
// plugin's own time per kernel launch from the plugin's timeline file.
#ifndef BENCH_OPENMP_FIGURES_H
#define BENCH_OPENMP_FIGURES_H

#include <string>

namespace bench {

// The milliseconds of an example's "<...>, <time> ms, verified against the host" line; negative
// when the output holds no such line (the example failed or printed something else).
double exampleMilliseconds(const std::string &Output);

// The median duration in nanoseconds of the kernel slices on host-thread tracks of a timeline
// file (Trace Event Format); negative when the text is not such a file or holds no kernel slice.
double medianHostKernelNs(const std::string &TimelineJson);

} // namespace bench

#endif
