// One generation of truncation selection and mutation on the tail vector
// (tail[j - 1] = fraction of the offspring at level >= j, j = 1..l):
//   A'[j] = M[l][j] - sum over i = 1..l of (M[i][j] - M[i-1][j]) * shortfall(A[i]),
// computed as sum <- 0; sum <- sum + (M[i-1][j] - M[i][j]) * s_i for
// i = 1..l; sum <- sum + M[l][j], in extended precision, every new value
// formed from the old vector before any is replaced.
//
// Most of those terms are zeros, and a zero term leaves the sum's bits as
// they are, so they are not formed: a term whose shortfall is 0, and a term
// whose difference is 0, which happens outside one band of levels per
// column (at l = 300 to 1000, 70 to 86 % of the terms with a shortfall).
#pragma once

#include <cstdint>
#include <vector>

#include "model/level_matrix.hpp"

namespace blocklevels {

class GenerationStep {
 public:
  // Finds each column's band and copies the matrix's entries within the
  // bands; allocates everything it needs here. `m` is not used afterwards.
  GenerationStep(const LevelMatrix& m, std::int32_t mu, std::int32_t lambda);

  // Advances the l values at `tail` by one generation. Returns true when
  // they came out bit for bit unchanged. Must run inside an
  // ExtendedArithmetic scope; a floating-point failure throws Stop (200 or
  // 207 for lambda = 0, 205 for a value beyond the double range, 207 for an
  // invalid operation), leaving `tail` as it was.
  bool advance(double* tail);

  // Column j's band (j = 1..l), for tests and benches: the level indices n
  // in [band_begin(j), band_end(j)), level n + 1, outside which every
  // difference M[n][j] - M[n+1][j] is 0; empty (0, 0) when all are; all of
  // [0, l) for a matrix that is not finite.
  std::size_t band_begin(std::int32_t j) const;
  std::size_t band_end(std::int32_t j) const;

 private:
  // Columns summed together: they share each shortfall and keep three sums
  // in flight on the x87 stack. The last group is filled up with columns
  // of zeros, whose sums are formed and dropped.
  static constexpr std::size_t kGroup = 3;

  // Columns g * kGroup + 1 .. (g + 1) * kGroup. Their bands' union is
  // [begin, end) (empty: 0, 0); values_ holds, from `offset` on, the rows
  // n = begin..end (end included) of the group's columns, M[n][j] at
  // offset + (n - begin) * kGroup + (j - 1 - g * kGroup).
  struct Group {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t offset = 0;
  };

  void find_bands(const LevelMatrix& m);
  void copy_groups(const LevelMatrix& m);
  // next_ for group g's columns, summing the terms of the levels n + 1,
  // begin <= n < end, within the group's union; every shortfall from
  // unit_begin on is 1.
  void sum_group(std::size_t g, std::size_t begin, std::size_t end, std::size_t unit_begin);

  std::size_t l_;
  std::int32_t mu_;
  std::int32_t lambda_;
  // A column's terms are left out where they are zeros: a difference of two
  // equal finite doubles is +0, its product with a finite shortfall +-0,
  // and adding +-0 to the sum leaves its bits unchanged. The sum starts at
  // +0 and never becomes -0 (rounding to nearest, x + y is -0 only when
  // both are -0, and a non-zero exact sum never rounds to 0), and a
  // non-zero sum plus zero is itself. So the terms outside the column's
  // band can be left out, as can those of a shortfall of 0 (a finite
  // difference times 0), and a column summed over its group's union adds
  // only more zeros. That holds while every entry of M is finite: an
  // infinity minus an equal infinity, or an infinity times a shortfall of 0,
  // is the invalid operation that must stop the run, so a matrix that is not
  // finite takes every term of every level (every_level_).
  bool every_level_ = false;
  std::vector<std::size_t> band_begin_;  // column j at [j - 1]
  std::vector<std::size_t> band_end_;
  std::vector<Group> groups_;
  std::vector<double> values_;
  std::vector<double> top_;  // M[l][j] at [j - 1], then the zero columns
  // M[l][j] with -0 made +0: what +0 + M[l][j] gives, the value of a column
  // none of whose terms is summed.
  std::vector<double> empty_sum_value_;
  std::vector<double> next_;
  // The shortfall of each level. It is a function of the level's tail value
  // alone (mu and lambda are fixed, the arithmetic is the scope's), so a
  // level whose value has the same bits as at its last evaluation keeps it.
  // Valid only after a generation whose shortfalls raised no flag: one that
  // stopped there is evaluated afresh, and stops again, when it is retried.
  std::vector<double> shortfall_of_;  // the tail value each was evaluated at
  std::vector<long double> shortfalls_;
  bool shortfalls_valid_ = false;
};

}  // namespace blocklevels
