#include "driver/report_text.hpp"

#include <cstring>
#include <string_view>

#include "driver/write_statement.hpp"
#include "model/wrapping_int.hpp"

namespace blocklevels {
namespace {

using runtime::OutputStream;

[[gnu::always_inline]] inline void header_line(OutputStream& file, std::string_view label,
                                               std::int32_t value) {
  StatementText line;
  line.text(label);
  line.integer(value);
  line.text(file.line_end());
  write_line(file, line.view());
}

// One report line: for each shown level its label, t, ") <=" and the value.
[[gnu::always_inline]] inline void report_line(OutputStream& out, std::string_view second_label,
                                               std::string_view t, const FixedFigure* figures,
                                               std::int32_t shown, int width, int decimals) {
  const std::string_view labels[] = {"Xl(", second_label, "  X_(l-2)("};
  StatementText line;
  for (std::int32_t n = 0; n < shown; ++n) {
    line.text(labels[n]);
    line.text(t);
    line.text(") <=");
    line.fixed(figures[n], width, decimals);
  }
  line.text(out.line_end());
  write_line(out, line.view());
}

}  // namespace

void write_report_header(OutputStream& file, const RunParameters& p) {
  header_line(file, "block length=", p.block_length);
  header_line(file, "number of blocks=", p.blocks);
  header_line(file,
              "number of block positions with two options acceptable=", p.two_option_positions);
  header_line(file, "length of chromosome =", wrapping_mul(p.blocks, p.block_length));
  header_line(file, "Number of fitness levels = ", wrapping_add(p.blocks, 1));
  header_line(file, "Population size lambda=", p.lambda);
  StatementText pmut;
  pmut.text("Pmut=");
  pmut.fixed(p.Pmut, 5, 5);
  pmut.text(file.line_end());
  write_line(file, pmut.view());
  header_line(file, "Number of selectable (current best) individuals mu= ", p.mu);
}

ReportLines::ReportLines(OutputStream* console, OutputStream* file, std::int32_t blocks)
    : console_(console), file_(file), shown_(blocks < 3 ? blocks : 3) {}

void ReportLines::start(std::int64_t first_report) {
  if (file_ == nullptr) return;
  // Both numbers are the constant 0, not model values.
  StatementText line;
  line.text("  Xl_1(");
  line.integer(static_cast<std::int32_t>(first_report));
  line.text(")= ");
  line.fixed(0.0L, 3, 3);
  line.text(" <=");
  line.fixed(0.0L, 3, 3);
  line.text(file_->line_end());
  write_line(*file_, line.view());
}

const ReportLines::Figures& ReportLines::figures_of(std::span<const double> tail) {
  double values[3] = {};
  const std::size_t l = tail.size();
  for (std::int32_t n = 0; n < shown_; ++n) values[n] = tail[l - 1 - static_cast<std::size_t>(n)];
  // Compared bit for bit: equal bits give equal text.
  for (std::size_t k = 0; k < recent_count_; ++k) {
    if (std::memcmp(recent_[k].values, values, sizeof values) == 0) return recent_[k];
  }
  Figures& slot = recent_[next_slot_];
  next_slot_ = (next_slot_ + 1) % kRecent;
  if (recent_count_ < kRecent) ++recent_count_;
  std::memcpy(slot.values, values, sizeof values);
  for (std::size_t n = 0; n < 3; ++n) slot.figures[n] = fixed_figure(values[n]);
  return slot;
}

void ReportLines::report(std::int64_t t, std::span<const double> tail) {
  // The console and the file show the same t and values. t is below 2^31
  // here: a report time never passes the final iteration, or is the step.
  char digits[kIntegerTextCapacity];
  const std::string_view label(digits, format_integer(digits, static_cast<std::int32_t>(t)));
  const Figures& figures = figures_of(tail);
  if (console_ != nullptr) {
    report_line(*console_, "  X_(l-1)(", label, figures.figures, shown_, 3, 3);
  }
  if (file_ != nullptr) report_line(*file_, "  Xl_1(", label, figures.figures, shown_, 10, 6);
}

}  // namespace blocklevels
