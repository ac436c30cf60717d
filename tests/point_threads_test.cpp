// Points on threads and the prepared models they share: the cache builds
// each shape once, tells every field of a shape apart, outlives its
// evictions for the runs that hold a model, and forgets a failed build;
// the thread workers give run_point's results byte for byte, a stop as a
// Stopped result, and end every running point on an interrupt; a sweep on
// threads writes the table its points give one by one in processes.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <thread>

#include "arithmetic/cancelled.hpp"
#include "arithmetic/stop.hpp"
#include "model/model_run.hpp"
#include "parameters/quantity.hpp"
#include "points/model_cache.hpp"
#include "runs/point_records.hpp"
#include "runs/study_workers.hpp"
#include "runs/thread_workers.hpp"
#include "search/threshold_search.hpp"
#include "support/run_program.hpp"

namespace blocklevels {
namespace {

PointParameters shape(std::int32_t lambda, std::int32_t mu, long double pmut, std::int32_t b,
                      std::int32_t acc, std::int32_t l, std::int32_t final) {
  return {lambda, mu, pmut, b, acc, l, final, 1, Arithmetic::literal, ModelKind::level};
}

// Every report's tail, its bits as a string.
class Tails final : public ModelSink {
 public:
  void start(std::int64_t) override {}
  void report(std::int64_t t, std::span<const double> tail) override {
    bytes.append(reinterpret_cast<const char*>(&t), sizeof t);
    bytes.append(reinterpret_cast<const char*>(tail.data()), tail.size_bytes());
  }
  std::string bytes;
};

std::string literal_run(const PointParameters& p) {
  Tails tails;
  run_model(p, tails);
  return tails.bytes;
}

// Fixed-seed points of a few shapes in a random order, each run on the
// model the cache gives and on its own: the same bits.
TEST(ModelCache, SharedModelsRunBitForBitAsTheirOwn) {
  std::mt19937 random(20261207);
  const long double pmuts[] = {0.01L, 0.2L, std::nextafter(0.01L, 1.0L)};
  ModelCache cache(std::uint64_t{1} << 30, 64);
  std::set<std::string> shapes;
  for (int n = 0; n < 60; ++n) {
    PointParameters p = shape(20 + static_cast<std::int32_t>(random() % 40), 0, pmuts[random() % 3],
                              1 + static_cast<std::int32_t>(random() % 3), 0,
                              4 + static_cast<std::int32_t>(random() % 3), 40);
    p.mu = 1 + static_cast<std::int32_t>(random() % static_cast<unsigned>(p.lambda));
    p.two_option_positions = static_cast<std::int32_t>(random() % 2);
    p.arithmetic = random() % 2 ? Arithmetic::literal : Arithmetic::accurate;
    Tails shared;
    cache.prepared(p, {})->run(p, shared);
    ASSERT_EQ(shared.bytes, literal_run(p))
        << "lambda " << p.lambda << " mu " << p.mu << " pmut " << static_cast<double>(p.Pmut)
        << " b " << p.block_length << " acc " << p.two_option_positions << " l " << p.blocks;
    shapes.insert(std::to_string(static_cast<int>(p.arithmetic)) + std::to_string(p.block_length) +
                  std::to_string(p.two_option_positions) + std::to_string(p.blocks) +
                  std::to_string(static_cast<double>(p.Pmut - 0.01L) * 1e20));
  }
  EXPECT_EQ(cache.builds(), shapes.size());
}

// A model is shared across mu, lambda and the report times only: each
// other field (Pmut to its last bit, its sign) builds another.
TEST(ModelCache, EveryFieldOfTheShapeTellsModelsApart) {
  const PointParameters base = shape(30, 6, 0.05L, 2, 1, 5, 10);
  struct Case {
    const char* what;
    void (*change)(PointParameters&);
    bool shared;
  } const cases[] = {
      {"lambda", [](PointParameters& p) { p.lambda = 40; }, true},
      {"mu", [](PointParameters& p) { p.mu = 3; }, true},
      {"final and step", [](PointParameters& p) { p.final_iteration = 7, p.step_generations = 2; },
       true},
      {"pmut's last bit", [](PointParameters& p) { p.Pmut = std::nextafter(p.Pmut, 1.0L); }, false},
      {"block length", [](PointParameters& p) { p.block_length = 3; }, false},
      {"two-option positions", [](PointParameters& p) { p.two_option_positions = 0; }, false},
      {"blocks", [](PointParameters& p) { p.blocks = 6; }, false},
      {"arithmetic", [](PointParameters& p) { p.arithmetic = Arithmetic::accurate; }, false},
      {"model", [](PointParameters& p) { p.model = ModelKind::block_state; }, false},
  };
  for (const Case& c : cases) {
    ModelCache cache(std::uint64_t{1} << 30, 16);
    PointParameters other = base;
    c.change(other);
    const auto a = cache.prepared(base, {});
    const auto b = cache.prepared(other, {});
    EXPECT_EQ(a == b, c.shared) << c.what;
    EXPECT_EQ(cache.builds(), c.shared ? 1U : 2U) << c.what;
    EXPECT_TRUE(b->serves(other)) << c.what;
    Tails tails;
    b->run(other, tails);
    EXPECT_EQ(tails.bytes, literal_run(other)) << c.what;
  }
  // -0 and +0: the literal matrix may differ, so never shared.
  ModelCache cache(std::uint64_t{1} << 30, 16);
  EXPECT_NE(cache.prepared(shape(30, 6, 0.0L, 2, 1, 5, 10), {}),
            cache.prepared(shape(30, 6, -0.0L, 2, 1, 5, 10), {}));
}

// Over its count or its bytes the cache forgets the least recently used
// models; a run still holding one is unaffected (AddressSanitizer would
// see a freed one), and a model forgotten is built again.
TEST(ModelCache, EvictedModelsLiveOnWithTheirRunsAndAreBuiltAgain) {
  const PointParameters held = shape(30, 6, 0.05L, 2, 1, 8, 20);
  for (const bool by_bytes : {false, true}) {
    // 2 entries, or 2.5 models of 9 x 9 values of 16 bytes.
    ModelCache cache(by_bytes ? 81 * 16 * 5 / 2 : std::uint64_t{1} << 30, by_bytes ? 100 : 2);
    const std::shared_ptr<const PreparedModel> model = cache.prepared(held, {});
    for (int n = 1; n <= 4; ++n) {
      cache.prepared(shape(30, 6, 0.05L + n / 1000.0L, 2, 1, 8, 20), {});
      EXPECT_LE(cache.kept(), 2U) << by_bytes;
    }
    Tails tails;
    model->run(held, tails);
    EXPECT_EQ(tails.bytes, literal_run(held)) << by_bytes;
    EXPECT_NE(cache.prepared(held, {}), model) << by_bytes;
    EXPECT_EQ(cache.builds(), 6U) << by_bytes;
    // The least recently used goes, not the first built.
    ModelCache two(std::uint64_t{1} << 30, 2);
    const PointParameters b = shape(30, 6, 0.06L, 2, 1, 8, 20),
                          c = shape(30, 6, 0.07L, 2, 1, 8, 20);
    const auto a_model = two.prepared(held, {});
    two.prepared(b, {});
    EXPECT_EQ(two.prepared(held, {}), a_model);
    two.prepared(c, {});
    EXPECT_EQ(two.prepared(held, {}), a_model);
    EXPECT_EQ(two.builds(), 3U);
    // The most recent one is kept whatever its cost.
    ModelCache tiny(1, 1);
    const auto first = tiny.prepared(held, {});
    EXPECT_EQ(tiny.prepared(held, {}), first);
  }
}

// Threads asking at once for one shape get one build; a build that stops
// (here cancelled) throws to its caller and leaves nothing behind.
TEST(ModelCache, ConcurrentCallersShareOneBuildAndAFailedOneIsForgotten) {
  ModelCache cache(std::uint64_t{1} << 30, 8);
  const PointParameters p = shape(50, 10, 0.02L, 2, 0, 60, 10);
  std::vector<std::shared_ptr<const PreparedModel>> got(8);
  {
    std::vector<std::jthread> threads;
    for (std::size_t n = 0; n < got.size(); ++n) {
      threads.emplace_back([&, n] { got[n] = cache.prepared(p, {}); });
    }
  }
  EXPECT_EQ(cache.builds(), 1U);
  for (const auto& model : got) EXPECT_EQ(model, got[0]);
  std::stop_source stopped;
  stopped.request_stop();
  const PointParameters q = shape(50, 10, 0.03L, 2, 0, 60, 10);
  EXPECT_THROW(cache.prepared(q, stopped.get_token()), Cancelled);
  EXPECT_EQ(cache.kept(), 1U);
  Tails tails;
  cache.prepared(q, {})->run(q, tails);
  EXPECT_EQ(tails.bytes, literal_run(q));
  EXPECT_EQ(cache.builds(), 3U);
}

// A search over mu takes one model from the cache for all its steps, one
// over Pmut one per step; either finds what it finds alone.
TEST(ModelCache, ASearchSharesTheCachesModels) {
  Point base;
  base.p = shape(100, 10, 0.01L, 2, 0, 10, 50);
  base.real_texts[0] = "0.01";
  const std::optional<Condition> where = parse_condition("X10=0.5");
  ASSERT_TRUE(where);
  for (const char* name : {"mu", "pmut"}) {
    ThresholdSearch search;
    search.parameter = find_parameter(name);
    ASSERT_NE(search.parameter, nullptr);
    search.low = name == std::string("mu") ? 2 : 0.001L;
    search.high = name == std::string("mu") ? 90 : 0.3L;
    search.condition = *where;
    search.grid = 8;
    ModelCache cache(std::uint64_t{1} << 30, 256);
    const ThresholdResult shared = find_thresholds(base, search, 2, &cache);
    const ThresholdResult alone = find_thresholds(base, search);
    if (name == std::string("mu")) {
      EXPECT_EQ(cache.builds(), 1U);
    } else {
      EXPECT_GE(cache.builds(), 8U);
      EXPECT_LE(cache.builds(), static_cast<std::uint64_t>(shared.model_runs));
    }
    EXPECT_EQ(shared.model_runs, alone.model_runs) << name;
    ASSERT_EQ(shared.crossings.size(), alone.crossings.size()) << name;
    for (std::size_t i = 0; i < alone.crossings.size(); ++i) {
      EXPECT_EQ(shared.crossings[i].tail, alone.crossings[i].tail) << name;
      EXPECT_EQ(shared.crossings[i].point.real_texts, alone.crossings[i].point.real_texts) << name;
    }
    EXPECT_EQ(shared.grid_quantity, alone.grid_quantity) << name;
  }
}

// A result's bytes as a point's process writes them.
std::string bytes_of(const std::vector<Result>& results) {
  std::string bytes;
  for (const Result& r : results) {
    records::append(bytes, records::PointChange{r.point});
    std::visit([&](const auto& value) { records::append(bytes, value); }, r.value);
  }
  return bytes;
}

class Kept final : public ResultSink {
 public:
  void take(const Result& result) override { results.push_back(result); }
  std::vector<Result> results;
};

// Waits for the workers' news until `count` points have ended.
std::vector<WorkerEvent> ends(ThreadWorkers& workers, std::size_t count) {
  std::vector<WorkerEvent> ended;
  while (ended.size() < count) {
    pollfd fd{workers.news_fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&fd, 1, 20000), 1) << "no news";
    for (const WorkerEvent& e : workers.news()) {
      if (e.ended) ended.push_back(e);
    }
  }
  return ended;
}

// Points with simulated runs, a hitting time and one that stops (lambda 0
// divides by zero), two at a time on threads sharing a cache: each gives
// what run_point gives it alone, byte for byte; the stop as its status and
// one Stopped result.
TEST(ThreadWorkers, PointsGiveRunPointsResultsAndStopsAsStopped) {
  std::vector<Point> points;
  for (const std::int32_t lambda : {40, 0, 60, 40}) {
    Point point;
    point.p = shape(lambda, 8, 0.03L, 2, 1, 4, 12);
    point.p.step_generations = 3;
    point.real_texts[0] = "0.03";
    points.push_back(point);
  }
  points[3].p.arithmetic = Arithmetic::accurate;
  const std::optional<Condition> hitting = parse_condition("X3=0.5");
  ASSERT_TRUE(hitting);
  std::vector<const Point*> pointers;
  for (const Point& point : points) pointers.push_back(&point);
  PointWork work;
  work.runs = 3;
  work.seed = 77;
  work.hitting = &*hitting;
  work.hitting_runs = true;
  const std::vector<PointWork> works(points.size(), work);
  ModelCache cache(std::uint64_t{1} << 20, 4);
  ThreadWorkers workers(pointers, works, 2, &cache);
  workers.start(0, 2);
  workers.start(1, 2);
  std::vector<WorkerEvent> ended = ends(workers, 2);
  workers.start(2, 2);
  workers.start(3, 2);
  for (const WorkerEvent& e : ends(workers, 2)) ended.push_back(e);
  ASSERT_EQ(ended.size(), 4U);
  for (const WorkerEvent& end : ended) {
    Kept alone;
    int status = 0;
    PointWork one = work;
    one.threads = 1;
    try {
      run_point(points[end.index], one, alone);
    } catch (const Stop& stop) {
      status = stop.number();
    }
    EXPECT_EQ(end.status, status) << end.index;
    EXPECT_FALSE(end.by_signal);
    Kept threaded;
    workers.results(end.index, end, threaded);
    if (status != 0) {
      ASSERT_EQ(threaded.results.size(), 1U);
      const auto* stopped = std::get_if<Stopped>(&threaded.results[0].value);
      ASSERT_NE(stopped, nullptr);
      EXPECT_EQ(stopped->status, status);
      continue;
    }
    EXPECT_EQ(bytes_of(threaded.results), bytes_of(alone.results)) << end.index;
  }
  EXPECT_EQ(ended[0].index + ended[1].index, 1U);
  EXPECT_NE(std::count_if(ended.begin(), ended.end(), [](auto& e) { return e.status != 0; }), 0);
}

// An interrupt ends the running points promptly, as killed processes:
// by_signal, their results discarded; a point that had ended keeps its
// status.
TEST(ThreadWorkers, EndAllEndsRunningPointsAndKeepsEndedOnes) {
  // Simulated runs, one report: a model may settle into a cycle and then
  // give its reports without another generation to cancel.
  std::vector<Point> points(3);
  points[0].p = shape(30, 6, 0.05L, 1, 0, 3, 5);
  points[1].p = shape(1000, 100, 0.001L, 1, 0, 400, 1000000);
  points[1].p.step_generations = 1000000;
  points[2].p = points[1].p;
  const std::vector<const Point*> pointers{&points[0], &points[1], &points[2]};
  std::vector<PointWork> works(3);
  for (PointWork& work : works) work.model = false, work.runs = 2;
  ThreadWorkers workers(pointers, works, 2, nullptr);
  workers.start(0, 2);
  while (!workers.has_news()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  workers.start(1, 2);
  workers.start(2, 2);  // queued behind nothing: the pool grows to two
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto begin = std::chrono::steady_clock::now();
  std::vector<WorkerEvent> ended = workers.end_all();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
  std::sort(ended.begin(), ended.end(), [](auto& a, auto& b) { return a.index < b.index; });
  ASSERT_EQ(ended.size(), 3U);
  EXPECT_EQ(ended[0].status, 0);
  EXPECT_FALSE(ended[0].by_signal);
  for (std::size_t i = 1; i < 3; ++i) {
    EXPECT_TRUE(ended[i].by_signal) << i;
    EXPECT_EQ(ended[i].status, 128 + SIGTERM) << i;
  }
  Kept kept;
  workers.results(0, ended[0], kept);
  EXPECT_FALSE(kept.results.empty());
}

// Which points take a thread: a sweep's short, small level-model points.
TEST(StudyWorkers, PointsNeedingIsolationKeepTheirProcess) {
  const PointParameters small = shape(100, 20, 0.01L, 2, 0, 50, 500);
  PointWork model;
  PointWork simulated;
  simulated.runs = 4;
  PointWork many;
  many.runs = 40;
  const std::uint64_t plenty = std::uint64_t{16} << 30;
  struct Case {
    const char* what;
    PointParameters p;
    const PointWork& work;
    bool single;
    std::uint64_t room;
    bool thread;
  } const cases[] = {
      {"a sweep's short point", small, model, false, plenty, true},
      {"short simulated runs", shape(100, 20, 0.01L, 2, 0, 10, 100), simulated, false, plenty,
       true},
      {"a study of one point", small, model, true, plenty, false},
      {"the block-state model",
       [&] {
         PointParameters p = small;
         p.model = ModelKind::block_state;
         return p;
       }(),
       model, false, plenty, false},
      {"a long model", shape(100, 20, 0.01L, 2, 0, 150, 4000), model, false, plenty, false},
      {"long simulated runs", small, many, false, plenty, false},
      {"a million reports", shape(100, 20, 0.01L, 2, 0, 3, 1000000), model, false, plenty, false},
      {"a big simulation", shape(10, 5, 0.3L, 2000000000, 0, 10, 2), simulated, false, plenty,
       false},
      {"memory short for --jobs points", small, model, false, 2 * 2 * point_bytes(small, 0, 2) - 1,
       false},
      {"memory enough for them", small, model, false, 2 * 2 * point_bytes(small, 0, 2), true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(runs_on_thread(c.p, c.work, c.single, 2, c.room), c.thread) << c.what;
  }
  EXPECT_EQ(point_bytes(small, 0, 2), std::uint64_t{51} * 51 * 32);
}

// A sweep on threads writes the rows its points write one by one, each a
// study of its own in a process; interrupted, it resumes to the same table.
TEST(StudyWorkers, ASweepOnThreadsWritesWhatItsPointsWriteInProcesses) {
  using testing::read_file;
  testing::TemporaryDirectory dir;
  const std::vector<std::string> common = {
      "--lambda",  "40",     "--block-length", "2",  "--two-option", "1",
      "--blocks",  "5",      "--final",        "30", "--step",       "10",
      "--hitting", "X5=0.2", "--simulate",     "3",  "--quiet"};
  std::vector<std::string> sweep = common;
  for (const char* a : {"--mu", "5,10", "--pmut", "0.01,0.3", "--jobs", "2", "--csv", "s.csv"}) {
    sweep.push_back(a);
  }
  ASSERT_EQ(testing::run_in(dir, sweep).exit_status, 0);
  const std::vector<std::string> rows = testing::lines_of(read_file(dir.path() + "/s.csv"));
  std::vector<std::string> alone{rows[0]};
  for (const char* mu : {"5", "10"}) {
    for (const char* pmut : {"0.01", "0.3"}) {
      std::vector<std::string> one = common;
      for (const char* a : {"--mu", mu, "--pmut", pmut, "--csv", "o.csv", "--force"}) {
        one.push_back(a);
      }
      ASSERT_EQ(testing::run_in(dir, one).exit_status, 0);
      const std::vector<std::string> own = testing::lines_of(read_file(dir.path() + "/o.csv"));
      alone.insert(alone.end(), own.begin() + 1, own.end());
    }
  }
  ASSERT_EQ(rows.size(), alone.size());
  for (std::size_t i = 0; i < rows.size(); ++i) ASSERT_EQ(rows[i], alone[i]) << "row " << i;
}

// Interrupted while its points run on threads, a sweep ends promptly with
// whole points only, and --resume completes the uninterrupted table.
TEST(StudyWorkers, AnInterruptedSweepOnThreadsResumesToTheWholeTable) {
  testing::TemporaryDirectory dir;
  std::vector<std::string> sweep = {
      "--lambda", "200",      "--mu",    "40",      "--pmut", "0.001:0.04:40", "--block-length",
      "1",        "--blocks", "60",      "--final", "3000",   "--step",        "300",
      "--jobs",   "2",        "--quiet", "--csv",   "t.csv"};
  ASSERT_EQ(testing::run_in(dir, sweep).exit_status, 0);
  const std::string whole = testing::read_file(dir.path() + "/t.csv");
  testing::TemporaryDirectory cut_dir;
  testing::RunOptions options;
  options.args = sweep;
  options.watch = [&](testing::RunSoFar&) {
    const std::string so_far = testing::read_file(cut_dir.path() + "/t.csv");
    return std::count(so_far.begin(), so_far.end(), '\n') > 30 ? SIGINT : testing::kKeepWatching;
  };
  const testing::ProgramRun cut = testing::run_program("", cut_dir.path(), options);
  ASSERT_EQ(cut.signal, SIGINT) << cut.err;
  EXPECT_NE(cut.err.find("points are incomplete ("), std::string::npos) << cut.err;
  const std::string part = testing::read_file(cut_dir.path() + "/t.csv");
  ASSERT_LT(part.size(), whole.size());
  // Whole rows of the whole table, in its order (missing points are gaps).
  const std::vector<std::string> all = testing::lines_of(whole);
  std::size_t at = 0;
  for (const std::string& row : testing::lines_of(part)) {
    while (at < all.size() && all[at] != row) ++at;
    ASSERT_LT(at, all.size()) << row;
  }
  sweep.push_back("--resume");
  EXPECT_EQ(testing::run_in(cut_dir, sweep).exit_status, 0);
  EXPECT_EQ(testing::read_file(cut_dir.path() + "/t.csv"), whole);
}

}  // namespace
}  // namespace blocklevels
