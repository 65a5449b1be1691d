// The ratios line that ends the benchmark's output, composed from its rows.
#ifndef BENCH_RATIOS_H
#define BENCH_RATIOS_H

#include "figures.h"

#include <string>
#include <utility>
#include <vector>

namespace bench {

using Ratios = std::vector<std::pair<std::string, double>>;

// Plugin time over plain time, except transfers of 64 KiB and more, which are speeds (plain time
// over plugin time). A ratio whose rows are missing is left out.
Ratios ratios(const std::vector<Row> &Rows);

// "ratios: launch=1.031 launch1e4=..." with three decimals.
std::string ratiosLine(const Ratios &R);

} // namespace bench

#endif
