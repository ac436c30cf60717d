// Reading a table file the program wrote: the header names the columns,
// rows are read one at a time and their fields are found by the columns'
// names. Memory stays bounded whatever the file holds: a line longer than
// any row the program writes is refused before it is read whole, and a
// read that fails is an error, never the end of the table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace blocklevels {

// The longest line a table may have: well above any row the program
// writes (1754 X columns of at most 39 digits, and texts taken from
// command-line arguments, each at most 128 KiB).
inline constexpr std::size_t kMaxTableLine = std::size_t{1} << 20;

class CsvReader {
 public:
  // Opens the file and reads its header. Throws Failure (status 2) naming
  // the file and why when it cannot be opened or read, or holds no header.
  // With `cut_ok`, a file that ends inside its last line (or holds no whole
  // header) is read as if that line were not there: header() is then ""
  // for a header cut short, and cut() tells where the whole lines end.
  explicit CsvReader(std::string path, bool cut_ok = false);
  // The same, reading the file open at `fd` from its start (the caller
  // keeps `fd` open while the reader lives; its offset is not moved),
  // named `path` in messages.
  CsvReader(int fd, std::string path, bool cut_ok = false);
  ~CsvReader();
  CsvReader(const CsvReader&) = delete;
  CsvReader& operator=(const CsvReader&) = delete;

  const std::string& path() const { return path_; }
  const std::string& header() const { return header_; }
  const std::vector<std::string>& columns() const { return columns_; }
  // The index of the column called `name`, or -1.
  int column(std::string_view name) const;

  // Reads the next row; false at the end of the file. A last row without
  // its LF throws Failure (a cut file) unless the reader takes cuts.
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
  // Where a file read with `cut_ok` ends inside a line: the offset of that
  // line's first byte, or -1 (all ones) when it ends with a whole line.
  std::uint64_t cut() const { return cut_; }

 private:
  void read_header();
  // The next line without its LF into row_; false at the end.
  bool read_line();
  // Reads more bytes after those held; false at the end of the file.
  bool fill();
  [[noreturn]] void cannot_read(int error) const;

  std::string path_;
  int fd_ = -1;
  bool owns_descriptor_ = true;
  bool cut_ok_;
  std::string buffer_;          // bytes read, from the file's offset base_
  std::uint64_t base_ = 0;      // the file offset of buffer_[0]
  std::size_t scanned_ = 0;     // bytes of buffer_ before the next line
  std::uint64_t file_end_ = 0;  // the offset of the next byte to read
  bool at_end_ = false;
  std::string header_;
  std::vector<std::string> columns_;
  std::string_view row_;
  std::vector<std::string_view> fields_;
  std::uint64_t line_ = 0;
  std::uint64_t row_start_ = 0;
  std::uint64_t row_end_ = 0;
  std::uint64_t cut_ = ~std::uint64_t{0};
};

}  // namespace blocklevels
