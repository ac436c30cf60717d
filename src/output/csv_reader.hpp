// Reading a table file the program wrote: the header names the columns,
// rows are read one at a time (memory stays bounded by the longest row) and
// their fields are found by the columns' names.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace blocklevels {

class CsvReader {
 public:
  // Opens the file and reads its header. Throws Failure (status 2)
  // naming the file when it cannot be read or holds no header.
  explicit CsvReader(std::string path);

  const std::string& path() const { return path_; }
  const std::string& header() const { return header_; }
  const std::vector<std::string>& columns() const { return columns_; }
  // The index of the column called `name`, or -1.
  int column(std::string_view name) const;

  // Reads the next row; false at the end of the file. A last row without
  // its LF throws Failure (a cut file).
  bool next();
  // Goes to the row that starts at byte `offset` (one row_start() gave);
  // the next call of next() reads it. Line numbers are not kept after it.
  void seek(std::uint64_t offset);
  std::string_view row() const { return row_; }
  // The row's fields; as many as the row has, which may differ from the
  // header's count.
  const std::vector<std::string_view>& fields() const { return fields_; }
  // The field of column `index`, "" when the row is shorter.
  std::string_view field(int index) const;
  // The line number of the current row (the header is line 1).
  std::uint64_t line() const { return line_; }
  // The byte offsets of the current row's start and of the next row's.
  std::uint64_t row_start() const { return row_start_; }
  std::uint64_t row_end() const { return row_end_; }

 private:
  std::string path_;
  std::ifstream in_;
  std::string header_;
  std::vector<std::string> columns_;
  std::string row_;
  std::vector<std::string_view> fields_;
  std::uint64_t line_ = 0;
  std::uint64_t row_start_ = 0;
  std::uint64_t row_end_ = 0;
};

}  // namespace blocklevels
