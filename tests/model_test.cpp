// The level model against its slow, literal evaluation (support/reference_
// model), bit for bit, and the run's report times.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cfenv>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <sstream>

#include "arithmetic/cancelled.hpp"
#include "arithmetic/extended_arithmetic.hpp"
#include "arithmetic/stop.hpp"
#include "model/generation.hpp"
#include "model/model_run.hpp"
#include "model/tail_trajectory.hpp"
#include "model/transition_model.hpp"
#include "runtime/traps.hpp"
#include "support/reference_model.hpp"
#include "support/test_points.hpp"

namespace blocklevels {
namespace {

struct Case {
  std::int32_t b, acc, l;
  long double x;
  std::int32_t mu = 1, lambda = 1;
};

std::string describe(const Case& c) {
  std::ostringstream out;
  out << "b=" << c.b << " acc=" << c.acc << " l=" << c.l << " Pmut=" << std::hexfloat << c.x
      << " mu=" << c.mu << " lambda=" << c.lambda;
  return out.str();
}

bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// "" when the fast matrix equals the literal one bit for bit, else the first
// differing entry.
std::string matrix_difference(const Case& c) {
  const LevelMatrix fast = build_transition_matrix(c.x, c.b, c.acc, c.l);
  const std::vector<double> literal = reference::matrix({c.b, c.acc, c.l}, c.x);
  const auto side = static_cast<std::size_t>(c.l) + 1;
  for (std::int32_t i = 0; i <= c.l; ++i) {
    for (std::int32_t j = 0; j <= c.l; ++j) {
      const double slow = literal[static_cast<std::size_t>(i) * side + static_cast<std::size_t>(j)];
      if (!same_bits(fast.stored(i, j), slow)) {
        return describe(c) + ": M[" + std::to_string(i) + "][" + std::to_string(j) + "]";
      }
    }
  }
  return "";
}

// "" when `generations` fast generations equal the literal double loop bit
// for bit, and the fast step reports "unchanged" exactly when it is.
std::string generation_difference(const Case& c, int generations) {
  const LevelMatrix m = build_transition_matrix(c.x, c.b, c.acc, c.l);
  GenerationStep step(m, c.mu, c.lambda);
  const std::vector<double> literal_m = reference::matrix({c.b, c.acc, c.l}, c.x);
  std::vector<double> fast(static_cast<std::size_t>(c.l)), slow = fast;
  for (int g = 1; g <= generations; ++g) {
    const bool unchanged = step.advance(fast.data());
    const std::vector<double> before = slow;
    slow = reference::generation(literal_m, c.l, c.mu, c.lambda, slow);
    if (std::memcmp(fast.data(), slow.data(), slow.size() * sizeof(double)) != 0 ||
        unchanged != (std::memcmp(before.data(), slow.data(), slow.size() * sizeof(double)) == 0)) {
      return describe(c) + " generation " + std::to_string(g);
    }
  }
  return "";
}

TEST(TransitionMatrix, WorkedMatrixWithBothSurvivalFormulas) {
  const long double x = 1.0L / 10;
  const LevelMatrix m = build_transition_matrix(x, 3, 1, 2);
  const double expected[3][3] = {
      {0, 0.128889, 0.004444}, {0, 0.772267, 0.054202}, {0, 0.940464, 0.571536}};
  for (int i = 0; i <= 2; ++i) {
    for (int j = 0; j <= 2; ++j) EXPECT_NEAR(m.stored(i, j), expected[i][j], 5e-7) << i << j;
  }
  // M[1][2] = pkeep * a with the upper triangle's survival (x/3 + q)^b; the
  // lower triangle's (x/3 + q)^acc * q^(b - acc) would give 0.050400.
  const MutationConstants c = mutation_constants(x, 3, 1);
  EXPECT_NEAR(static_cast<double>(c.pkeep_down * c.a), 0.050400, 5e-7);
  EXPECT_EQ(m.stored(1, 2), static_cast<double>(c.pkeep_up * c.a));
}

// Fixed-seed parameter sets: block length 1..10, acc 0..b + 2, l 1..30, Pmut
// across 0..1, a few outside it, and counts the dialogue passes unchecked
// (negative, beyond 16 bits).
TEST(TransitionMatrix, EqualsLiteralEvaluationBitForBit) {
  std::mt19937_64 random(20261206);
  const long double outside[] = {-0.25L, 1.5L, 2.0L, 3.0L, -1.0L};
  for (int n = 0; n < 320; ++n) {
    Case c{};
    c.b = std::uniform_int_distribution<std::int32_t>(1, 10)(random);
    c.acc = std::uniform_int_distribution<std::int32_t>(0, c.b + 2)(random);
    c.l = std::uniform_int_distribution<std::int32_t>(1, 30)(random);
    c.x = static_cast<long double>(std::uniform_real_distribution<double>(0.0, 1.0)(random));
    if (n % 40 == 0) c.x = outside[(n / 40) % 5];
    if (n % 40 == 1) c.x = 0.0L;
    if (n % 40 == 2) c.x = 1.0L;
    ASSERT_EQ(matrix_difference(c), "");
  }
  const Case unchecked[] = {
      {-2, 0, 6, 0.3L}, {3, -1, 6, 0.3L}, {-5, 2, 4, 0.7L}, {2, 70000, 5, 0.4L}};
  for (const Case& c : unchecked) EXPECT_EQ(matrix_difference(c), "");
}

TEST(TransitionMatrixSlow, EqualsLiteralEvaluationAt80Blocks) {
  EXPECT_EQ(matrix_difference({1, 0, 80, 0.01L}), "");
  EXPECT_EQ(matrix_difference({2, 1, 80, 0.2L}), "");
}

TEST(Generation, EqualsLiteralGenerationBitForBit) {
  std::mt19937_64 random(7031);
  for (int n = 0; n < 120; ++n) {
    Case c{};
    c.b = std::uniform_int_distribution<std::int32_t>(1, 6)(random);
    c.acc = std::uniform_int_distribution<std::int32_t>(0, c.b)(random);
    c.l = std::uniform_int_distribution<std::int32_t>(1, 14)(random);
    c.lambda = std::uniform_int_distribution<std::int32_t>(1, 200)(random);
    c.mu = std::uniform_int_distribution<std::int32_t>(1, c.lambda + 5)(random);
    c.x = static_cast<long double>(std::uniform_real_distribution<double>(0.0, 0.6)(random));
    ASSERT_EQ(generation_difference(c, 25), "");
  }
}

// Runs that settle into a fixed point or a cycle: the trajectory's vectors,
// answered from the recorded period, equal computing every generation.
TEST(TailTrajectory, RecurringStatesGiveEveryGenerationsVector) {
  struct Recurring {
    Case c;
    std::int64_t period;
  };
  const Recurring cases[] = {
      {{1, 0, 1, 0.3L, 5, 10}, 1},
      {{4, 1, 17, 0.8L, 4, 11}, 2},
      {{5, 1, 5, 0xa.3a5786e1d96a8p-5L, 167, 246}, 3},
      {{5, 1, 11, 0xa.1d64867fbc438p-5L, 10, 688}, 4},
  };
  for (const auto& [c, period] : cases) {
    const LevelMatrix m = build_transition_matrix(c.x, c.b, c.acc, c.l);
    TailTrajectory trajectory(m, c.mu, c.lambda);
    GenerationStep step(m, c.mu, c.lambda);
    std::vector<double> every(static_cast<std::size_t>(c.l));
    std::int64_t compared = 0;
    for (std::int64_t g = 1; g <= 1500; ++g) {
      step.advance(every.data());
      if (g % 7 != 0 && g % 11 != 0) continue;  // reports at uneven times
      const std::span<const double> skipped = trajectory.at(g);
      ASSERT_EQ(std::memcmp(skipped.data(), every.data(), every.size() * sizeof(double)), 0)
          << describe(c) << " generation " << g;
      ++compared;
    }
    EXPECT_EQ(trajectory.period(), period) << describe(c);
    EXPECT_GT(compared, 300);
  }
}

struct RecordedRun final : ModelSink {
  std::vector<std::int64_t> times;
  void start(std::int64_t first_report) override { times.push_back(-first_report); }
  void report(std::int64_t t, std::span<const double>) override { times.push_back(t); }
};

TEST(ModelRun, ReportsAtEveryStepUpToTheFinalIterationAndAtLeastOnce) {
  struct Times {
    std::int32_t final_iteration, step;
    std::vector<std::int64_t> expected;  // start's argument negated, then the reports
  };
  const Times cases[] = {
      {2, 5, {-5, 5}},
      {9, 3, {-3, 3, 6, 9}},
      {10, 4, {-4, 4, 8}},
      {-7, 2, {-2, 2}},
      {2147483647, 1500000000, {-1500000000, 1500000000}},
      {2147483647, 2147483647, {-2147483647, 2147483647}},
  };
  for (const auto& c : cases) {
    const PointParameters p = point_parameters(10, 5, 0.3L, 1, 0, 1, c.final_iteration, c.step);
    RecordedRun run;
    run_model(p, run);
    EXPECT_EQ(run.times, c.expected) << c.final_iteration << " " << c.step;
  }
}

// A requested stop ends a run at its next matrix row or generation, in
// either arithmetic: one requested from the start reports nothing; one
// requested by the sink after the first report reports no second time.
TEST(ModelRun, RequestedStopThrowsCancelled) {
  struct StopAfterFirst final : ModelSink {
    std::stop_source source;
    int reports = 0;
    void start(std::int64_t) override {}
    void report(std::int64_t, std::span<const double>) override {
      ++reports;
      source.request_stop();
    }
  };
  for (const PointParameters& p :
       {point_parameters(10, 5, 0.3L, 2, 0, 40, 50, 1),
        point_parameters(10, 5, 0.3L, 2, 1, 40, 50, 1, Arithmetic::accurate)}) {
    StopAfterFirst early;
    early.source.request_stop();
    EXPECT_THROW(run_model(p, early, early.source.get_token()), Cancelled);
    EXPECT_EQ(early.reports, 0);
    StopAfterFirst late;
    EXPECT_THROW(run_model(p, late, late.source.get_token()), Cancelled);
    EXPECT_EQ(late.reports, 1);
  }
}

// The stop the literal evaluation meets first, under processor traps as
// the dialogue has always run it: in a child process whose SIGFPE handler
// exits with the trap's stop number; 0 when the run has none.
int literal_stop(const Case& c, int generations) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    struct sigaction trap = {};
    trap.sa_sigaction = [](int, siginfo_t* info, void*) {
      _exit(info->si_code == FPE_FLTOVF ? 205 : info->si_code == FPE_FLTINV ? 207 : 200);
    };
    trap.sa_flags = SA_SIGINFO;
    ::sigaction(SIGFPE, &trap, nullptr);
    runtime::enable_float_traps();
    const std::vector<double> m = reference::matrix({c.b, c.acc, c.l}, c.x);
    std::vector<double> tail(static_cast<std::size_t>(c.l));
    for (int g = 0; g < generations; ++g) {
      tail = reference::generation(m, c.l, c.mu, c.lambda, tail);
    }
    _exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The same run by the program's code: the number of the Stop it throws.
int fast_stop(const Case& c, int generations) {
  try {
    const ExtendedArithmetic arithmetic;
    const LevelMatrix m = build_transition_matrix(c.x, c.b, c.acc, c.l);
    GenerationStep step(m, c.mu, c.lambda);
    std::vector<double> tail(static_cast<std::size_t>(c.l));
    for (int g = 0; g < generations; ++g) step.advance(tail.data());
  } catch (const Stop& stop) {
    return stop.number();
  }
  return 0;
}

// Fixed-seed runs that stop, or nearly do: Pmut from the ordinary to beyond
// every range and infinite, lambda and mu 0 among others. The program's
// stop, found from the floating-point flags, is the one the literal
// evaluation traps on first.
TEST(Stops, AreTheLiteralEvaluationsFirstTrap) {
  std::mt19937_64 random(20261207);
  const long double values[] = {0.25L,
                                -0.4L,
                                2.5L,
                                -3.0L,
                                1e300L,
                                -1e300L,
                                1e1200L,
                                -1e1200L,
                                1e2470L,
                                -1e2470L,
                                1e4000L,
                                1e-4940L,
                                std::numeric_limits<long double>::infinity(),
                                -std::numeric_limits<long double>::infinity()};
  std::map<int, int> seen;
  for (int n = 0; n < 800; ++n) {
    Case c{};
    c.b = std::uniform_int_distribution<std::int32_t>(1, 6)(random);
    c.acc = std::uniform_int_distribution<std::int32_t>(0, c.b + 1)(random);
    c.l = std::uniform_int_distribution<std::int32_t>(1, n % 3 == 0 ? 2 : 10)(random);
    c.x = values[std::uniform_int_distribution<std::size_t>(0, std::size(values) - 1)(random)];
    c.lambda = std::uniform_int_distribution<std::int32_t>(-1, 12)(random);
    c.mu = std::uniform_int_distribution<std::int32_t>(-1, 14)(random);
    if (n % 50 == 0) c.l = 1755 + n / 50;
    const int literal = literal_stop(c, 12);
    ASSERT_EQ(fast_stop(c, 12), literal) << describe(c);
    ++seen[literal];
  }
  // Every kind of stop was met, and runs that do not stop.
  for (const int number : {0, 200, 205, 207}) EXPECT_GT(seen[number], 10) << number;
}

// A caller's floating-point environment and signal dispositions, as a
// library caller sees them.
struct CallerState {
  std::fenv_t environment;
  unsigned short control = 0;
  struct sigaction fpe = {};
  explicit CallerState() {
    std::fegetenv(&environment);
    asm volatile("fnstcw %0" : "=m"(control));
    ::sigaction(SIGFPE, nullptr, &fpe);
  }
  bool operator==(const CallerState& o) const {
    return control == o.control && environment.__mxcsr == o.environment.__mxcsr &&
           environment.__status_word == o.environment.__status_word &&
           fpe.sa_handler == o.fpe.sa_handler;
  }
};

// A stop reaches the caller as a Stop, the process goes on with its own
// environment (here 53-bit rounding toward zero, which the model must not
// use), and the next run computes what a run in a fresh process computes.
TEST(Stops, ReachTheCallerWhoseEnvironmentStaysItsOwn) {
  const PointParameters good = point_parameters(20, 5, 0.1L, 3, 1, 30, 40, 3);
  ReportedTails before;
  run_model(good, before);
  const unsigned short odd = 0x0E7F;  // every exception masked, 53 bits, toward zero
  asm volatile("fldcw %0" : : "m"(odd));
  const CallerState caller;
  const struct {
    PointParameters p;
    int number;
  } stops[] = {
      {point_parameters(10, 5, 0.3L, 1, 0, 1800, 4, 1), 205},
      {point_parameters(0, 1, 0.3L, 1, 0, 3, 4, 1), 200},
      {point_parameters(0, 0, 0.3L, 1, 0, 3, 4, 1), 207},
  };
  for (const auto& [p, number] : stops) {
    ReportedTails ignored;
    try {
      run_model(p, ignored);
      ADD_FAILURE() << "no stop for " << number;
    } catch (const Stop& stop) {
      EXPECT_EQ(stop.number(), number);
      EXPECT_NE(stop.place(), 0u);
    }
    EXPECT_TRUE(CallerState() == caller) << number;
  }
  ReportedTails after;
  run_model(good, after);
  EXPECT_TRUE(CallerState() == caller);
  EXPECT_EQ(after.tails, before.tails);
  const unsigned short standard = 0x037F;
  asm volatile("fldcw %0" : : "m"(standard));
}

}  // namespace
}  // namespace blocklevels
