#include "output/csv_table.hpp"

#include <charconv>

#include "text/double_text.hpp"

namespace blocklevels {
namespace {

// Writes cells as CSV text: the commas of the empty columns before each
// cell, the rest at the row's end.
class CsvRowText final : public RowWriter {
 public:
  CsvRowText(std::string& out, std::size_t columns) : out_(out), columns_(columns) {}

  void begin_row() override { next_ = 0; }
  void integer(std::size_t column, std::int64_t v) override {
    to(column);
    char digits[24];
    out_.append(digits, std::to_chars(digits, digits + sizeof digits, v).ptr);
  }
  void count(std::size_t column, simulation::uint128 v) override {
    to(column);
    char digits[40];
    std::size_t n = sizeof digits;
    do {
      digits[--n] = static_cast<char>('0' + static_cast<int>(v % 10));
      v /= 10;
    } while (v != 0);
    out_.append(digits + n, sizeof digits - n);
  }
  void real(std::size_t column, double v) override {
    to(column);
    append_shortest(out_, v);
  }
  void text(std::size_t column, std::string_view v) override {
    to(column);
    out_ += v;
  }
  void end_row() override {
    to(columns_ - 1);
    out_ += '\n';
  }

 private:
  // Moves to `column`: one comma before every column but the first.
  void to(std::size_t column) {
    for (; next_ < column; ++next_) out_ += ',';
    next_ = column;
  }

  std::string& out_;
  std::size_t columns_;
  std::size_t next_ = 0;
};

}  // namespace

std::string CsvTable::header() const {
  std::string header;
  for (const TableColumn& column : layout_.columns()) {
    if (!header.empty()) header += ',';
    header += column.name;
  }
  header += '\n';
  return header;
}

void CsvTable::append(std::string& out, const Result& result, const StudySettings& settings) const {
  CsvRowText text(out, layout_.columns().size());
  layout_.write(result, settings, text);
}

void CsvTable::append_shard(std::string& out, const ShardIdentity& shard,
                            const StudySettings& settings) const {
  CsvRowText text(out, layout_.columns().size());
  layout_.write_shard(shard, settings, text);
}

void CsvTable::append_shard_end(std::string& out, const ShardIdentity& shard,
                                const StudySettings& settings, const ShardEnd& end) const {
  CsvRowText text(out, layout_.columns().size());
  layout_.write_shard_end(shard, settings, end, text);
}

}  // namespace blocklevels
