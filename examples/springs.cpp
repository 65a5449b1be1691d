// Masses on springs, each pulled back to its rest position, advanced in time on the device: the
// spring is a class whose force member function is compiled for the device too, and the
// positions and velocities are std::vector data mapped by pointer and length. Default 10^6
// masses and 100 steps, or the counts given.
#include <cstdlib>
#include <string>
#include <vector>

#include "example_report.h"

class Spring {
public:
  Spring(double stiffness, double rest) : stiffness_(stiffness), rest_(rest) {}
#pragma omp declare target
  double force(double position) const { return -stiffness_ * (position - rest_); }
#pragma omp end declare target

private:
  double stiffness_;
  double rest_;
};

// One explicit Euler step for every mass; the same code runs on the host for the reference.
#pragma omp declare target
static inline void advance(const Spring &spring, double dt, double &position, double &velocity) {
  velocity += dt * spring.force(position);
  position += dt * velocity;
}
#pragma omp end declare target

int main(int argc, char **argv) {
  const long n = argc > 1 ? std::atol(argv[1]) : 1000000L;
  const int steps = argc > 2 ? std::atoi(argv[2]) : 100;
  if (n <= 0 || steps <= 0) {
    std::fprintf(stderr, "springs: needs at least one mass and one step\n");
    return 2;
  }
  const Spring spring(4.0, 1.0);
  const double dt = 0.01;
  std::vector<double> positions(n), velocities(n, 0.0);
  for (long i = 0; i < n; ++i)
    positions[i] = static_cast<double>(i % 100) / 50.0;
  std::vector<double> host_positions = positions, host_velocities = velocities;

  char where[32];
  example_where(omp_get_default_device(), where, sizeof where);
  double *x = positions.data();
  double *v = velocities.data();
  const double start = omp_get_wtime();
#pragma omp target data map(tofrom : x[0:n], v[0:n])
  for (int step = 0; step < steps; ++step) {
#pragma omp target teams distribute parallel for map(to : spring)
    for (long i = 0; i < n; ++i)
      advance(spring, dt, x[i], v[i]);
  }
  const double milliseconds = (omp_get_wtime() - start) * 1e3;

  for (int step = 0; step < steps; ++step)
    for (long i = 0; i < n; ++i)
      advance(spring, dt, host_positions[i], host_velocities[i]);
  example_diff diff = {};
  for (long i = 0; i < n; ++i) {
    example_compare(&diff, i, positions[i], host_positions[i], 1e-12);
    example_compare(&diff, n + i, velocities[i], host_velocities[i], 1e-12);
  }
  const std::string what = std::to_string(n) + " masses, " + std::to_string(steps) + " steps";
  return example_finish("springs", what.c_str(), where, milliseconds, &diff);
}
