// The records a point's process sends the study: every kind, cut anywhere
// on its way through the pipe, comes out whole and equal; bytes no writer
// makes are refused.
#include "runs/point_records.hpp"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace blocklevels::records {
namespace {

using simulation::uint128;

bool same(const Record& a, const Record& b) {
  if (a.index() != b.index()) return false;
  if (const auto* m = std::get_if<ModelReport>(&a)) {
    const auto& n = std::get<ModelReport>(b);
    return m->t == n.t && m->tail == n.tail;
  }
  if (const auto* s = std::get_if<SimulationReport>(&a)) {
    const auto& r = std::get<SimulationReport>(b);
    return s->t == r.t && s->runs == r.runs && s->level_sum == r.level_sum &&
           s->level_sum_of_squares == r.level_sum_of_squares && s->sums == r.sums &&
           s->sum_of_squares == r.sum_of_squares;
  }
  if (const auto* p = std::get_if<Progress>(&a)) {
    return p->runs_done == std::get<Progress>(b).runs_done &&
           p->runs_total == std::get<Progress>(b).runs_total;
  }
  const auto& f = std::get<Failure>(a);
  return f.number == std::get<Failure>(b).number && f.place == std::get<Failure>(b).place;
}

TEST(PointRecords, EveryKindSurvivesAnyCutOfThePipe) {
  const uint128 big = (uint128{0xFEDCBA9876543210u} << 64) | 0x0123456789ABCDEFu;
  std::vector<Record> sent = {
      ModelReport{7, {0.25, 1e-300, -0.0, 0.5}},
      ModelReport{2147483647, {}},
      SimulationReport{12, 5, 900, big, {1, 2, UINT64_MAX}, {big, 0, 3}},
      Progress{3, 8},
  };
  // Enough bytes that the reader drops what it has handed out, mid-stream.
  for (std::int64_t t = 1; t <= 40; ++t) {
    sent.push_back(ModelReport{t, std::vector<double>(300, 1.0 / static_cast<double>(t))});
  }
  sent.push_back(Failure{205, 0xDEADBEEF});
  std::string bytes;
  for (const Record& r : sent) std::visit([&](const auto& each) { append(bytes, each); }, r);
  std::mt19937 random(14);
  for (int cut = 0; cut < 50; ++cut) {
    Reader reader;
    std::vector<Record> received;
    for (std::size_t at = 0; at < bytes.size();) {
      const std::size_t size = std::uniform_int_distribution<std::size_t>(1, 9000)(random);
      reader.feed(std::string_view(bytes).substr(at, size));
      at += size;
      while (std::optional<Record> r = reader.next()) received.push_back(std::move(*r));
    }
    EXPECT_FALSE(reader.holds_partial());
    ASSERT_EQ(received.size(), sent.size());
    for (std::size_t n = 0; n < sent.size(); ++n) EXPECT_TRUE(same(received[n], sent[n])) << n;
  }
}

TEST(PointRecords, BytesNoWriterMakesAreRefused) {
  std::string progress;
  append(progress, Progress{1, 2});
  std::string unknown = progress;
  unknown[0] = 9;  // no such kind
  std::string longer = progress;
  longer[4] = static_cast<char>(longer[4] + 1);  // a payload one byte longer than its kind's
  longer += 'x';
  std::string simulation;
  append(simulation, SimulationReport{1, 1, 1, 1, {1}, {1}});
  std::string lying = simulation;
  lying[8 + 8 + 8 + 8 + 16] = 99;  // claims 99 levels where one follows
  for (const std::string& bad : {unknown, longer, lying}) {
    Reader reader;
    reader.feed(bad);
    EXPECT_THROW(reader.next(), std::runtime_error);
  }
}

TEST(PointRecords, SimulationReportsCarryTheTotalsOfOneReport) {
  simulation::RunTotals totals(3, 2);
  const std::int32_t first[] = {5, 3, 2}, second[] = {0, 4, 6};
  totals.add_report(1, first);
  totals.count_run();
  simulation::RunTotals other(3, 2);
  other.add_report(1, second);
  other.count_run();
  totals.add(other);
  simulation::RunTotals one(1, 2);
  one.add_report(0, first);
  one.add_report(0, second);
  one.count_run();
  one.count_run();
  EXPECT_EQ(simulation_report(totals, 1, 20).totals(), one);
  EXPECT_EQ(simulation_report(totals, 1, 20).t, 20);
}

}  // namespace
}  // namespace blocklevels::records
