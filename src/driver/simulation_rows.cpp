#include "driver/simulation_rows.hpp"

#include <vector>

#include "driver/csv_table.hpp"

namespace blocklevels {
namespace {

using simulation::uint128;

void append_unsigned(std::string& out, uint128 v) {
  char digits[40];
  std::size_t n = sizeof digits;
  do {
    digits[--n] = static_cast<char>('0' + static_cast<int>(v % 10));
    v /= 10;
  } while (v != 0);
  out.append(digits + n, sizeof digits - n);
}

bool read_unsigned(std::string_view text, uint128& v) {
  if (text.empty() || text.size() > 39) return false;
  v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const uint128 next = v * 10 + static_cast<unsigned>(c - '0');
    if (next / 10 != v) return false;
    v = next;
  }
  return true;
}

// "source,<point>,t,0," then the fields, padded to max_blocks, and LF.
template <class Field>
void append_integer_row(std::string& out, std::string_view source, const StudyPoint& point,
                        std::int32_t max_blocks, std::int64_t t, Field field) {
  append_row_head(out, source, point, t);
  append_unsigned(out, field(0));
  for (std::int32_t j = 1; j <= point.p.blocks; ++j) {
    out += ',';
    append_unsigned(out, field(j));
  }
  for (std::int32_t j = point.p.blocks; j < max_blocks; ++j) out += ',';
  out += '\n';
}

}  // namespace

void append_summary_rows(std::string& out, const StudyPoint& point, std::int32_t max_blocks,
                         const simulation::Summary& summary, std::int64_t report, std::int64_t t) {
  const auto l = static_cast<std::size_t>(point.p.blocks);
  std::vector<double> means(l), half_widths(l);
  for (std::int32_t j = 1; j <= point.p.blocks; ++j) {
    const simulation::Estimate& e = summary.fraction_at(report, j);
    means[static_cast<std::size_t>(j - 1)] = e.mean;
    half_widths[static_cast<std::size_t>(j - 1)] = e.half_width;
  }
  const simulation::Estimate& level = summary.mean_level[static_cast<std::size_t>(report)];
  append_row(out, kSimulationSource, point, max_blocks, t, level.mean, means);
  append_row(out, kSimulationCiSource, point, max_blocks, t, level.half_width, half_widths);
}

void append_partial_rows(std::string& out, const StudyPoint& point, std::int32_t max_blocks,
                         const simulation::RunTotals& totals, std::int64_t report, std::int64_t t) {
  append_integer_row(out, kRunsSource, point, max_blocks, t,
                     [&](std::int32_t) { return uint128{totals.runs()}; });
  append_integer_row(out, kSumSource, point, max_blocks, t, [&](std::int32_t j) {
    return uint128{j == 0 ? totals.sum_level(report) : totals.sum_at_least(report, j)};
  });
  append_integer_row(out, kSumOfSquaresSource, point, max_blocks, t, [&](std::int32_t j) {
    return j == 0 ? totals.sum_level_squared(report) : totals.sum_at_least_squared(report, j);
  });
}

bool read_partial_rows(const std::vector<std::string_view>& runs,
                       const std::vector<std::string_view>& sums,
                       const std::vector<std::string_view>& squares, std::int32_t blocks,
                       simulation::RunTotals& totals) {
  const auto fields = static_cast<std::size_t>(blocks) + 1;
  if (runs.size() < fields || sums.size() < fields || squares.size() < fields) return false;
  uint128 n = 0;
  if (!read_unsigned(runs[0], n) || n > UINT64_MAX) return false;
  std::vector<std::uint64_t> sum(fields);
  std::vector<uint128> square(fields);
  for (std::size_t i = 0; i < fields; ++i) {
    uint128 r = 0, s = 0;
    if (!read_unsigned(runs[i], r) || r != n || !read_unsigned(sums[i], s) || s > UINT64_MAX ||
        !read_unsigned(squares[i], square[i])) {
      return false;
    }
    sum[i] = static_cast<std::uint64_t>(s);
  }
  totals.add_sums(static_cast<std::uint64_t>(n), sum, square);
  return true;
}

}  // namespace blocklevels
