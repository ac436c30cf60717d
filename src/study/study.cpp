#include "study/study.hpp"

#include <algorithm>

#include "output/csv_table.hpp"

namespace blocklevels {

std::int32_t Study::table_width() const {
  if (hitting && simulate_runs > 0) return std::max(max_blocks, kHittingSummaryColumns);
  return max_blocks;
}

}  // namespace blocklevels
