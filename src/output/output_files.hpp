// The files a study writes, checked before anything runs: a missing
// directory (3), a place that cannot be written (5), an existing file
// without --force (1), and one file named for two outputs by any path (2:
// compared by device and inode, so that "./a", symbolic and hard links to
// one file are one file) are refused, and nothing is created. Once checked,
// the report file and the CSV are created (or emptied) under a lock, so
// that a second study writing either while this one runs is refused rather
// than interleaved, and never on descriptors 0 to 2.
#pragma once

#include <string>

#include "study/study.hpp"

namespace blocklevels {

class OutputFiles {
 public:
  // Checks every output of the study, and that none is `input`, a file the
  // command reads (blocklevels plot's table), by any path. Throws
  // Failure.
  explicit OutputFiles(const Study& study, const std::string& input = "");
  ~OutputFiles();
  OutputFiles(const OutputFiles&) = delete;
  OutputFiles& operator=(const OutputFiles&) = delete;

  // Creates the report file and the CSV (emptied when they exist and
  // --force allows), each locked for the study's lifetime. With `resume`
  // the CSV is kept as it is (locked, for reading) and the table is written
  // to a file beside it that replace_table() puts in its place.
  void open(bool resume);

  int report_fd() const { return report_fd_; }
  // The descriptor the table is written to, -1 for none.
  int table_fd() const { return table_fd_; }
  // The CSV as it was when a resumed study began, -1 for none.
  int old_table_fd() const { return old_table_fd_; }
  // Closes the table once written; a failure throws Stop with its number.
  void close_table();
  // Puts a resumed study's new table in the place of the old one: in the
  // directory opened at the start, under the name the old one had there,
  // never through a link. Throws Failure (1) when that name no longer is
  // the old table (it was swapped while the study ran), leaving both.
  void replace_table();
  // After a failed write: cuts the CSV back to its last whole row.
  void cut_table_to_whole_rows();

  // A new file beside the figure, for gnuplot to draw into; the figure
  // takes its place only once drawn (place_figure), so that no failed or
  // killed drawing leaves a figure behind.
  int create_figure_draft();
  void place_figure();

 private:
  void open_resumed_place();
  bool still_the_table() const;
  int create_table_draft();

  const Study& study_;
  int report_fd_ = -1;
  int table_fd_ = -1;
  int old_table_fd_ = -1;
  int directory_fd_ = -1;     // a resumed table's directory
  std::string table_name_;    // the resumed table's name there
  std::string table_draft_;   // the resumed table's draft's name there, until it is in place
  std::string figure_draft_;  // the figure's, until it is in place
};

}  // namespace blocklevels
