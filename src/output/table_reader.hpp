// Reading back a table the program wrote, one typed entry at a time: a
// result (the rows of one result: a simulation's two rows of a report time,
// a shard's three rows of sums, a hitting time's counts), or a shard's
// first or last row. Memory stays bounded by the longest entry. Every row
// must be one the program writes: its fields parse as their columns
// require, its values lie where values can (fractions in [0, 1], the level
// in [0, blocks], times among the point's generations, half-widths finite,
// a crossing inside its search's range), its parameters and settings are
// texts the options take (a condition the point can reach, a search the
// command line runs), and writing the typed entry again gives the very
// same text, so that nothing garbled, cut or edited passes for a result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "output/csv_reader.hpp"
#include "output/csv_table.hpp"
#include "output/row_fingerprint.hpp"
#include "parameters/quantity.hpp"

namespace blocklevels {

struct TableEntry {
  Source source = Source::model;            // of its first row
  Result result;                            // a point's result
  StudySettings settings;                   // what its rows say of the study's settings
  ShardIdentity shard;                      // Source::shard, Source::shard_end
  ShardEnd end;                             // Source::shard_end
  std::uint64_t first_line = 0;             // the line of its first row (the header is line 1)
  std::uint64_t start = 0, end_offset = 0;  // the bytes its rows take in the file
};

class TableReader {
 public:
  // Opens the file and checks its header: the program's header for the
  // number of X columns it has. Throws Failure (status 2) naming the file
  // when it cannot be read, is empty, has another header, or is a table of
  // an earlier format (naming both formats).
  // With `cut_ok`, a table that ends inside an entry or inside a row (a
  // resumed table cut at any byte) ends before that entry instead of being
  // refused, and one without a whole header holds no entries.
  explicit TableReader(std::string path, bool cut_ok = false);
  // The same, reading the file open at `fd` (which the caller keeps).
  TableReader(int fd, std::string path, bool cut_ok = false);

  const std::string& path() const { return reader_.path(); }
  const CsvTable& table() const { return table_; }
  // False only for a table read with `cut_ok` that has no whole header.
  bool holds_header() const { return !reader_.header().empty(); }

  // Reads the next entry; false at the end. A row that is not one the
  // program writes throws Failure naming the file, the line and the fault.
  bool next(TableEntry& entry);
  // Goes to the entry that starts at byte `offset`.
  void seek(std::uint64_t offset);
  // The line number of the row last read.
  std::uint64_t line() const { return reader_.line(); }
  // With `cut_ok`: where the last whole entry read ends, when the table
  // goes on after it with a cut entry or row; nothing when it does not.
  std::optional<std::uint64_t> cut() const { return cut_; }
  // With `cut_ok`: whether the table ends inside a row (not after a whole
  // one), once next() has said it ended.
  bool ends_inside_a_row() const { return reader_.cut() != ~std::uint64_t{0}; }
  // The fingerprint of every row read since the shard row (that row
  // included), begun from the shard row's study fingerprint; the shard_end
  // row's own bytes are not in it.
  std::uint64_t rows_fingerprint() const { return fingerprint_before_end_; }

 private:
  void check_header();
  [[noreturn]] void refuse(const std::string& why) const;
  // The row's source, point and settings; false at the end of the file.
  bool read_row(Source& source, Point& point, StudySettings& settings);
  void read_point(Point& point, Source source, const StudySettings& settings);
  void read_settings(StudySettings& settings, bool simulated);
  void check_settings_texts(const StudySettings& settings);
  void check_point_settings(const Point& point, Source source, const StudySettings& settings);
  std::int64_t integer_field(std::size_t column, std::int64_t lowest, std::int64_t highest,
                             const char* what) const;
  std::optional<std::int64_t> optional_time(const PointParameters& p, bool report) const;
  std::vector<double> fractions(std::int32_t blocks) const;
  std::vector<simulation::uint128> counts(std::int32_t blocks) const;
  void read_entry(TableEntry& entry);
  void read_simulation(TableEntry& entry);
  void read_sums(TableEntry& entry);
  void read_counts(TableEntry& entry);
  void read_hitting_run(TableEntry& entry);
  void read_hitting_summary(TableEntry& entry);
  void read_threshold(TableEntry& entry);
  void read_simulated_threshold(TableEntry& entry);
  void read_crossing(Direction& direction, long double& lower, long double& upper);
  void read_shard(TableEntry& entry);
  // Takes the next row, which must be of `source` and of the entry's point.
  void continue_with(Source source, const TableEntry& entry);
  void check_written_again(const TableEntry& entry);

  CsvReader reader_;
  CsvTable table_{0};
  std::string entry_text_;  // the entry's rows as read, each with its LF
  std::string written_;     // the entry written again
  bool cut_ok_;
  std::optional<std::uint64_t> cut_;
  // What the last settings texts read say, parsed once.
  std::string condition_text_, search_text_;
  std::optional<Condition> condition_;
  long double search_low_ = 0, search_high_ = 0;
  RowFingerprint fingerprint_{0};
  std::uint64_t fingerprint_before_end_ = 0;
};

}  // namespace blocklevels
