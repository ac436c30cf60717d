#include "output/csv_reader.hpp"

#include "errors/failure.hpp"
#include "text/fields.hpp"

namespace blocklevels {
namespace {

// Reads one line without its LF; false at the end. `complete` tells whether
// the LF was there.
bool read_line(std::ifstream& in, std::string& line, bool& complete) {
  line.clear();
  if (!std::getline(in, line)) return false;
  complete = !in.eof();
  return true;
}

}  // namespace

CsvReader::CsvReader(std::string path) : path_(std::move(path)), in_(path_, std::ios::binary) {
  if (!in_) throw Failure(kBadUsage, "cannot read '" + path_ + "'");
  bool complete = false;
  if (!read_line(in_, header_, complete) || !complete || header_.empty()) {
    throw Failure(kBadUsage, "'" + path_ + "' holds no table header");
  }
  line_ = 1;
  row_end_ = header_.size() + 1;
  for (const std::string_view name : split(header_, ',')) columns_.emplace_back(name);
}

int CsvReader::column(std::string_view name) const {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i] == name) return static_cast<int>(i);
  }
  return -1;
}

bool CsvReader::next() {
  bool complete = false;
  fields_.clear();
  if (!read_line(in_, row_, complete)) return false;
  ++line_;
  row_start_ = row_end_;
  row_end_ = row_start_ + row_.size() + 1;
  if (!complete) {
    throw Failure(kBadUsage, "'" + path_ + "' ends in a cut row (line " +
                                                   std::to_string(line_) + ")");
  }
  fields_ = split(row_, ',');
  return true;
}

void CsvReader::seek(std::uint64_t offset) {
  in_.clear();
  in_.seekg(static_cast<std::streamoff>(offset));
  row_end_ = offset;
}

std::string_view CsvReader::field(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= fields_.size()) return {};
  return fields_[static_cast<std::size_t>(index)];
}

}  // namespace blocklevels
