#include "model/matr11.hpp"

#include <cmath>
#include <cstddef>

#include "model/mem_avail.hpp"
#include "model/wrapping_int.hpp"
#include "runtime/allocation.hpp"
#include "runtime/stop_report.hpp"

namespace blocklevels {
namespace {

constexpr int kFloatOverflow = 205;

// Halfway between the largest double and 2^1024: from here on, rounding to
// double overflows (the largest double's significand is odd, so the tie
// rounds up). Exact in extended precision.
constexpr long double kDoubleOverflowThreshold = 0x1.fffffffffffff8p1023L;

}  // namespace

double round_to_double_or_stop(long double value) {
  const long double magnitude = std::fabs(value);
  if (magnitude >= kDoubleOverflowThreshold && !std::isinf(magnitude)) {
    runtime::stop_run(kFloatOverflow);
  }
  return static_cast<double>(value);
}

void RealVector::init(std::int32_t count, bool& fail) {
  fail = true;
  const std::int32_t required = wrapping_add(wrapping_mul(8, count), 8);
  if (mem_avail() < required) return;
  fail = false;
  if (count > 0) {
    data = static_cast<double*>(
        runtime::allocate_zeroed(static_cast<std::size_t>(count), sizeof(double)));
  }
  n = count;
}

// The value becomes a double before the index is looked at, as a double
// argument would: an overflowing value stops the run even at an index the
// set then ignores.
void RealVector::set(std::int32_t i, long double value) {
  const double stored = round_to_double_or_stop(value);
  if (i < 1 || i > n) return;
  data[i - 1] = stored;
}

void LevelMatrix::init(std::int32_t count, bool& fail) {
  n = count;
  fail = true;
  const std::int32_t side = wrapping_add(count, 1);
  const std::int32_t required =
      wrapping_add(wrapping_add(wrapping_mul(wrapping_add(wrapping_mul(side, 8), 8), side),
                                wrapping_mul(side, 4)),
                   8);
  if (mem_avail() < required) return;
  fail = false;
  if (side <= 0) return;
  const auto width = static_cast<std::size_t>(side);
  // One zero-filled block for all rows; the row pointers index into it.
  rows = static_cast<double**>(runtime::allocate_zeroed(width, sizeof(double*)));
  auto* elements = static_cast<double*>(runtime::allocate_zeroed(width * width, sizeof(double)));
  for (std::size_t i = 0; i < width; ++i) rows[i] = elements + i * width;
}

void LevelMatrix::set(std::int32_t i, std::int32_t j, long double value) {
  const double stored = round_to_double_or_stop(value);
  if (i < 0 || i > n || j < 0 || j > n) return;
  rows[i][j] = stored;
}

}  // namespace blocklevels
