#include "output/csv_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "errors/failure.hpp"
#include "runtime/descriptors.hpp"
#include "runtime/os_error.hpp"
#include "text/fields.hpp"

namespace blocklevels {
namespace {

constexpr std::size_t kChunk = std::size_t{1} << 16;

}  // namespace

CsvReader::CsvReader(std::string path, bool cut_ok) : path_(std::move(path)), cut_ok_(cut_ok) {
  fd_ = runtime::above_standard(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd_ < 0) cannot_read(errno);
  read_header();
}

CsvReader::CsvReader(int fd, std::string path, bool cut_ok)
    : path_(std::move(path)), fd_(fd), owns_descriptor_(false), cut_ok_(cut_ok) {
  read_header();
}

CsvReader::~CsvReader() {
  if (owns_descriptor_ && fd_ >= 0) ::close(fd_);
}

void CsvReader::cannot_read(int error) const {
  throw Failure(kBadUsage, "cannot read '" + path_ + "': " + runtime::os_error_words(error));
}

void CsvReader::read_header() {
  struct stat info {};
  if (::fstat(fd_, &info) != 0) cannot_read(errno);
  if (!S_ISREG(info.st_mode)) {
    throw Failure(kBadUsage, "'" + path_ + "' is not a file: tables are read from files");
  }
  if (!read_line() && cut_ok_) return;  // nothing whole: header_ stays ""
  if (row_.empty()) throw Failure(kBadUsage, "'" + path_ + "' holds no table header");
  header_ = row_;
  line_ = 1;
  for (const std::string_view name : split(header_, ',')) columns_.emplace_back(name);
}

bool CsvReader::fill() {
  if (at_end_) return false;
  // What was handed out goes first: the buffer holds one line at most.
  buffer_.erase(0, scanned_);
  base_ += scanned_;
  scanned_ = 0;
  const std::size_t held = buffer_.size();
  buffer_.resize(held + kChunk);
  for (;;) {
    const ssize_t n = ::pread(fd_, buffer_.data() + held, kChunk, static_cast<off_t>(file_end_));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) cannot_read(errno);
    buffer_.resize(held + static_cast<std::size_t>(n));
    file_end_ += static_cast<std::uint64_t>(n);
    at_end_ = n == 0;
    return n > 0;
  }
}

bool CsvReader::read_line() {
  std::size_t searched = scanned_;
  for (;;) {
    const std::size_t lf = buffer_.find('\n', searched);
    const std::size_t length = (lf == std::string::npos ? buffer_.size() : lf) - scanned_;
    if (length > kMaxTableLine) {
      throw Failure(kBadUsage, "'" + path_ + "' line " + std::to_string(line_ + 1) +
                                   " is longer than any row the program writes (" +
                                   std::to_string(kMaxTableLine) + " bytes)");
    }
    if (lf != std::string::npos) {
      row_ = std::string_view(buffer_).substr(scanned_, lf - scanned_);
      row_start_ = base_ + scanned_;
      scanned_ = lf + 1;
      row_end_ = base_ + scanned_;
      return true;
    }
    searched = buffer_.size() - scanned_;
    if (!fill()) break;
  }
  row_ = {};
  if (scanned_ == buffer_.size()) return false;
  // The file ends inside a line.
  if (cut_ok_) {
    cut_ = base_ + scanned_;
    return false;
  }
  throw Failure(kBadUsage,
                "'" + path_ + "' ends in a cut row (line " + std::to_string(line_ + 1) + ")");
}

int CsvReader::column(std::string_view name) const {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i] == name) return static_cast<int>(i);
  }
  return -1;
}

bool CsvReader::next() {
  fields_.clear();
  if (!read_line()) return false;
  ++line_;
  fields_ = split(row_, ',');
  return true;
}

void CsvReader::seek(std::uint64_t offset) {
  buffer_.clear();
  scanned_ = 0;
  base_ = offset;
  file_end_ = offset;
  at_end_ = false;
  row_ = {};
  fields_.clear();
  row_end_ = offset;
}

std::string_view CsvReader::field(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= fields_.size()) return {};
  return fields_[static_cast<std::size_t>(index)];
}

}  // namespace blocklevels
