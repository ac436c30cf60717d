// What tests and benches share to set up a point: its parameters on one
// line, a sink that keeps a model run's reports, and the peak resident
// size a piece of work reaches.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <span>
#include <vector>

#include "model/model_run.hpp"
#include "parameters/point_parameters.hpp"

namespace blocklevels {

// A point's parameters in the order of PointParameters' fields: lambda,
// mu, Pmut, block length, two-option positions, blocks, final generation,
// generations between reports, and the arithmetic.
inline PointParameters point_parameters(std::int32_t lambda, std::int32_t mu, long double pmut,
                                        std::int32_t b, std::int32_t acc, std::int32_t l,
                                        std::int32_t final, std::int32_t step,
                                        Arithmetic arithmetic = Arithmetic::literal) {
  return {.lambda = lambda,
          .mu = mu,
          .Pmut = pmut,
          .block_length = b,
          .two_option_positions = acc,
          .blocks = l,
          .final_iteration = final,
          .step_generations = step,
          .arithmetic = arithmetic};
}

// A model run's reports as they came: their times and tails.
struct ReportedTails final : ModelSink {
  std::vector<std::int64_t> times;
  std::vector<std::vector<double>> tails;
  void start(std::int64_t) override {}
  void report(std::int64_t t, std::span<const double> tail) override {
    times.push_back(t);
    tails.emplace_back(tail.begin(), tail.end());
  }
};

inline std::uint64_t resident_bytes() {
  std::ifstream statm("/proc/self/statm");
  std::uint64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

// In a child process: the growth of the peak resident size over `work()`,
// in bytes, through a pipe (0 when the child could not say).
template <class Work>
std::uint64_t peak_resident_growth(Work work) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return 0;
  const pid_t pid = ::fork();
  if (pid == 0) {
    const std::uint64_t before = resident_bytes();
    work();
    struct rusage usage = {};
    ::getrusage(RUSAGE_SELF, &usage);
    const std::uint64_t growth = static_cast<std::uint64_t>(usage.ru_maxrss) * 1024 - before;
    _exit(::write(pipe_fds[1], &growth, sizeof growth) == sizeof growth ? 0 : 1);
  }
  ::close(pipe_fds[1]);
  std::uint64_t growth = 0;
  if (::read(pipe_fds[0], &growth, sizeof growth) != sizeof growth) growth = 0;
  ::close(pipe_fds[0]);
  ::waitpid(pid, nullptr, 0);
  return growth;
}

}  // namespace blocklevels
