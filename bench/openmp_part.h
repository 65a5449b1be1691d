// The rows of OpenMP programs compiled by omptarget-cc: a saxpy through the whole stack against
// plain OpenCL, an empty target region against the plugin's launch inside it, and each example
// offloaded against the same program with offloading disabled. Runs in the parent: every program
// run is a child process of its own.
#ifndef BENCH_OPENMP_PART_H
#define BENCH_OPENMP_PART_H

#include "bench_session.h"
#include "figures.h"

#include <string>
#include <vector>

namespace bench {

struct OpenMPPrograms {
  std::string BenchProgram; // omp_bench; empty when the build has no compiler driver
  std::string ExampleDir;   // the compiled examples
  std::string Layers;       // OPENCL_LAYERS for the CPU device
};

// Appends the rows; false when a program failed (its output is reported).
bool runOpenMPPart(Scale S, const OpenMPPrograms &P, std::vector<Row> &Rows);

} // namespace bench

#endif
