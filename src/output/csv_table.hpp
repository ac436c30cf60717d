// The table as CSV: one header line, then rows, LF line ends, the columns
// and rows of output/table_layout.hpp. Numbers are the shortest text that
// reads back to the same double (NaN an empty field); counts and integers
// in decimal; reals of the parameters as the point names them. A table read
// back gives the same results (output/table_reader.hpp).
#pragma once

#include <cstdint>
#include <string>

#include "output/table_layout.hpp"

namespace blocklevels {

// The buffer of a table's stream: large, since whole rows are what count.
inline constexpr std::size_t kTableBufferSize = std::size_t{1} << 16;

class CsvTable {
 public:
  explicit CsvTable(std::int32_t max_blocks, bool run_column = false)
      : layout_(max_blocks, run_column) {}
  const TableLayout& layout() const { return layout_; }
  std::int32_t max_blocks() const { return layout_.max_blocks(); }

  // The header line, LF included.
  std::string header() const;
  // Appends the rows of `result`, each with its LF.
  void append(std::string& out, const Result& result, const StudySettings& settings) const;
  void append_shard(std::string& out, const ShardIdentity& shard,
                    const StudySettings& settings) const;
  void append_shard_end(std::string& out, const ShardIdentity& shard, const StudySettings& settings,
                        const ShardEnd& end) const;

 private:
  TableLayout layout_;
};

}  // namespace blocklevels
