// The records a point's worker sends the study: every kind, cut anywhere
// on its way through the pipe, comes out whole and equal; bytes no writer
// makes are refused.
#include "runs/point_records.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/test_points.hpp"

namespace blocklevels::records {
namespace {

using simulation::uint128;

Point point() {
  Point made{.p = point_parameters(20, 5, 0.1L, 3, 0, 4, 6, 2), .real_texts = {"0.1"}};
  made.p.model = ModelKind::block_state;
  return made;
}

// Records compared by their bytes: each kind writes all it holds.
std::string bytes_of(const Record& record) {
  std::string bytes;
  append(bytes, record);
  return bytes;
}

std::vector<Record> every_kind() {
  const uint128 big = (uint128{0xFEDCBA9876543210u} << 64) | 0x0123456789ABCDEFu;
  simulation::RunTotals totals(1, 2);
  const std::uint64_t sums[] = {900, UINT64_MAX, 3};
  const uint128 squares[] = {big, 0, 7};
  totals.add_sums(5, sums, squares);
  simulation::HittingTimes times;
  times.first = {{3, 2}, {9, 1}};
  times.never = 4;
  return {PointChange{point()},
          ModelReport{7, {0.25, 1e-300, -0.0, 0.5}},
          ModelReport{2147483647, {}},
          SimulationReport{12, {1.5, 0.25}, {{0.5, std::nan("")}, {1e-20, 0}}},
          ShardSums{8, totals},
          ModelHitting{std::nullopt, {}},
          ModelHitting{41, {0.5, 0.25}},
          HittingCounts{times},
          HittingSummary{{7, 3, 3.0 / 7, 0.1, 0.8, 4, 5, std::nullopt, 8.5, 1.25e4}},
          HittingSummary{{7, 0, 0, 0, 0.4, std::nullopt, std::nullopt, std::nullopt, 10, {}}},
          Threshold{true, 0.125L, 0.25L, Direction::rising, 30, {0.1, 0.2}},
          Threshold{},
          ThresholdGrid{{0.1L, 1.0L / 3}, {0.5, 0.75}},
          Stopped{205, false, 0xDEADBEEF},
          Stopped{137, true, std::nullopt},
          ModelChecked{{41.25, 8, 2, 0.244, {0.108, 0.0033}, false}},
          ModelChecked{{3.5, 2, 0, 1.0 - 1e-12, {1.0, 0.0}, true}},
          Progress{3, 8, 9},
          HittingRun{UINT64_MAX, 2147483647},
          HittingRun{0, std::nullopt}};
}

TEST(PointRecords, EveryKindSurvivesAnyCutOfThePipe) {
  std::vector<Record> sent = every_kind();
  // Enough bytes that the reader drops what it has handed out, mid-stream.
  for (std::int64_t t = 1; t <= 40; ++t) {
    sent.push_back(ModelReport{t, std::vector<double>(300, 1.0 / static_cast<double>(t))});
  }
  std::string bytes;
  for (const Record& r : sent) append(bytes, r);
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
    for (std::size_t n = 0; n < sent.size(); ++n) {
      EXPECT_EQ(bytes_of(received[n]), bytes_of(sent[n])) << n;
    }
  }
}

TEST(PointRecords, BytesNoWriterMakesAreRefused) {
  std::string progress;
  append(progress, Progress{1, 2, 3});
  std::string unknown = progress;
  unknown[0] = 99;  // no such kind
  std::string longer = progress;
  longer[4] = static_cast<char>(longer[4] + 1);  // a payload one byte longer than its kind's
  longer += 'x';
  std::string report;
  append(report, ModelReport{1, {0.5}});
  std::string lying = report;
  lying[8 + 8] = 99;  // claims 99 values where one follows
  std::string choice;
  append(choice, PointChange{point()});
  // The model's index, the last but one field: no such choice.
  choice[choice.size() - 8] = 7;
  for (const std::string& bad : {unknown, longer, lying, choice}) {
    Reader reader;
    reader.feed(bad);
    EXPECT_THROW(reader.next(), RecordError);
  }
}

}  // namespace
}  // namespace blocklevels::records
