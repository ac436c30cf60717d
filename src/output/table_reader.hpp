// Reading back a table the program wrote, one typed row at a time, memory
// bounded by the longest row. Every row must be one the program writes:
// its fields parse as their columns require, and writing the typed row
// again gives the very same text (a model row's mean level included), so
// that nothing garbled, cut or edited passes for a result.
#pragma once

#include <cstdint>
#include <string>

#include "output/csv_reader.hpp"
#include "output/csv_table.hpp"

namespace blocklevels {

class TableReader {
 public:
  // Opens the file and checks its header: the program's header for the
  // number of X columns it has. Throws Failure (status 2) naming
  // the file when it cannot be read, is empty, or has another header.
  explicit TableReader(std::string path);

  const std::string& path() const { return reader_.path(); }
  const CsvTable& table() const { return table_; }

  // Reads the next row; false at the end. A row that is not one the
  // program writes throws Failure naming the file, the line and the fault.
  bool next(TableRow& row);
  // Goes to the row that starts at byte `offset`.
  void seek(std::uint64_t offset) { reader_.seek(offset); }
  // The line number of the row last read (the header is line 1).
  std::uint64_t line() const { return reader_.line(); }
  // The text of the row last read, without its LF, and where it lies.
  std::string_view text() const { return reader_.row(); }
  std::uint64_t row_start() const { return reader_.row_start(); }
  std::uint64_t row_end() const { return reader_.row_end(); }

 private:
  [[noreturn]] void refuse(const std::string& why) const;
  void parse(TableRow& row) const;

  CsvReader reader_;
  CsvTable table_{0};
  // Column positions, found by name.
  int source_ = -1, runs_ = -1, seed_ = -1, t_ = -1, status_ = -1, first_value_ = -1;
  std::vector<int> parameters_;
  std::string written_;  // the row written again, compared with the text
};

}  // namespace blocklevels
