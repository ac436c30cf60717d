// The simulation's memory estimate next to the peak resident size a run
// really reaches (in a child process, from getrusage, less the size before
// the run): the simulated run of simulation_bench (lambda 1000, mu 100, 300
// blocks of 4, 1000 generations), four of them on two threads, and lambda
// 10^6, mu 10^5 over 3 generations. Counters in MB and their ratio.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>

#include "simulation/memory_need.hpp"
#include "simulation/simulation_runs.hpp"

namespace {

std::uint64_t resident_bytes() {
  std::ifstream statm("/proc/self/statm");
  std::uint64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

// The growth of the peak resident size over the runs, in a child process.
std::uint64_t peak_growth(const blocklevels::PointParameters& p, unsigned threads,
                          std::uint64_t runs) {
  int fds[2];
  if (::pipe(fds) != 0) return 0;
  const pid_t pid = ::fork();
  if (pid == 0) {
    const std::uint64_t before = resident_bytes();
    blocklevels::simulation::simulate_runs(p, 1, {runs, 0, 1}, threads);
    struct rusage usage = {};
    ::getrusage(RUSAGE_SELF, &usage);
    const std::uint64_t growth = static_cast<std::uint64_t>(usage.ru_maxrss) * 1024 - before;
    _exit(::write(fds[1], &growth, sizeof growth) == sizeof growth ? 0 : 1);
  }
  ::close(fds[1]);
  std::uint64_t growth = 0;
  if (::read(fds[0], &growth, sizeof growth) != sizeof growth) growth = 0;
  ::close(fds[0]);
  ::waitpid(pid, nullptr, 0);
  return growth;
}

// state.range(0): the case.
void BM_MemoryEstimate(benchmark::State& state) {
  blocklevels::PointParameters p{.lambda = 1000,
                                 .mu = 100,
                                 .Pmut = 0.001L,
                                 .block_length = 4,
                                 .two_option_positions = 0,
                                 .blocks = 300,
                                 .final_iteration = 1000,
                                 .step_generations = 1};
  unsigned threads = 1;
  std::uint64_t runs = 1;
  if (state.range(0) == 1) threads = 2, runs = 4;
  if (state.range(0) == 2) p.lambda = 1000000, p.mu = 100000, p.final_iteration = 3;
  std::uint64_t growth = 0;
  for (auto _ : state) growth = peak_growth(p, threads, runs);
  const std::uint64_t estimate =
      blocklevels::simulation::simulation_memory(p, threads, runs).bytes();
  state.counters["estimate_MB"] = static_cast<double>(estimate) / 1e6;
  state.counters["peak_MB"] = static_cast<double>(growth) / 1e6;
  state.counters["estimate_over_peak"] =
      static_cast<double>(estimate) / static_cast<double>(growth);
}

BENCHMARK(BM_MemoryEstimate)->DenseRange(0, 2)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
