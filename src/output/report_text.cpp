#include "output/report_text.hpp"

#include <cstring>
#include <string_view>

#include "arithmetic/wrapping_int.hpp"
#include "output/write_statement.hpp"

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

// Copies n <= kIntegerTextCapacity bytes with a copy of constant length,
// which the compiler makes a move or two instead of a call.
void copy_short(char* to, const char* from, std::size_t n) {
  switch (n) {
#define BLOCKLEVELS_COPY(N)   \
  case N:                     \
    std::memcpy(to, from, N); \
    return;
    BLOCKLEVELS_COPY(1)
    BLOCKLEVELS_COPY(2)
    BLOCKLEVELS_COPY(3)
    BLOCKLEVELS_COPY(4)
    BLOCKLEVELS_COPY(5)
    BLOCKLEVELS_COPY(6)
    BLOCKLEVELS_COPY(7)
    BLOCKLEVELS_COPY(8)
    BLOCKLEVELS_COPY(9)
    BLOCKLEVELS_COPY(10)
    BLOCKLEVELS_COPY(11)
#undef BLOCKLEVELS_COPY
    case 0:
      return;
    default:
      std::memcpy(to, from, n);
  }
}

}  // namespace

void write_report_header(OutputStream& file, const PointParameters& p) {
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

void ReportLines::fill_template(LineTemplate& line, std::string_view second_label,
                                const FixedFigure* figures, int width, int decimals,
                                std::string_view line_end) const {
  const std::string_view labels[] = {"Xl(", second_label, "  X_(l-2)("};
  line.text.clear();
  for (std::int32_t n = 0; n < shown_; ++n) {
    line.text += labels[n];
    line.cuts[n] = line.text.size();
    line.text += ") <=";
    char value[kFixedTextCapacity];
    line.text.append(value, format_fixed_figure_at(value, figures[n], width, decimals));
  }
  line.text += line_end;
  line.t_length = 0;
}

ReportLines::RecentLines& ReportLines::lines_of(std::span<const double> tail) {
  // Compared bit for bit: equal bits give equal text.
  std::uint64_t bits[3] = {};
  const std::size_t l = tail.size();
  for (std::int32_t n = 0; n < shown_; ++n) {
    std::memcpy(&bits[n], &tail[l - 1 - static_cast<std::size_t>(n)], sizeof bits[n]);
  }
  auto same = [&](const RecentLines& r) {
    return r.bits[0] == bits[0] && r.bits[1] == bits[1] && r.bits[2] == bits[2];
  };
  // The last one found first: a run at a fixed point finds it every time.
  if (recent_count_ > 0 && same(recent_[last_])) return recent_[last_];
  for (std::size_t k = 0; k < recent_count_; ++k) {
    if (same(recent_[k])) {
      last_ = k;
      return recent_[k];
    }
  }
  last_ = next_slot_;
  RecentLines& slot = recent_[next_slot_];
  next_slot_ = (next_slot_ + 1) % kRecent;
  if (recent_count_ < kRecent) ++recent_count_;
  std::memcpy(slot.bits, bits, sizeof bits);
  // The console and the file round from the same 17-decimal figures.
  FixedFigure figures[3];
  for (std::size_t n = 0; n < 3; ++n) {
    double value = 0;
    std::memcpy(&value, &bits[n], sizeof value);
    figures[n] = fixed_figure(value);
  }
  if (console_ != nullptr) {
    fill_template(slot.console, "  X_(l-1)(", figures, 3, 3, console_->line_end());
  }
  if (file_ != nullptr) fill_template(slot.file, "  Xl_1(", figures, 10, 6, file_->line_end());
  return slot;
}

void ReportLines::advance_t(std::int64_t t) {
  // t is below 2^31: a report time never passes the final iteration, or is
  // the step. Adding the difference digit by digit keeps the digits that
  // did not change, so that lines made at the previous report need only
  // the others.
  std::int64_t carry = t - t_value_;
  std::size_t at = t_length_;
  // Most often only the last digit changes.
  if (t_value_ >= 0 && carry > 0 && carry < 10 && at > 0 && t_[at - 1] + carry <= '9') {
    t_[at - 1] = static_cast<char>(t_[at - 1] + carry);
    unchanged_ = at - 1;
    t_value_ = t;
    return;
  }
  if (t_value_ >= 0 && carry > 0) {
    while (carry > 0 && at > 0) {
      --at;
      const std::int64_t digit = t_[at] - '0' + carry % 10;
      carry = carry / 10 + digit / 10;
      t_[at] = static_cast<char>('0' + digit % 10);
    }
  }
  if (t_value_ < 0 || carry != 0 || t < t_value_) {
    t_length_ = format_integer(t_, static_cast<std::int32_t>(t));
    at = 0;
  }
  unchanged_ = at;
  t_value_ = t;
}

void ReportLines::write_report(OutputStream& out, LineTemplate& line) const {
  const std::string_view t(t_, t_length_);
  if (t.size() != line.t_length || line.made_at + 1 != reports_) {
    line.line.clear();
    std::size_t from = 0;
    for (std::int32_t n = 0; n < shown_; ++n) {
      line.line.append(line.text, from, line.cuts[n] - from);
      line.line += t;
      from = line.cuts[n];
    }
    line.line.append(line.text, from);
    line.t_length = t.size();
  } else {
    // The same template at the previous report: only the changed digits.
    const std::size_t changed = t.size() - unchanged_;
    for (std::int32_t n = 0; n < shown_; ++n) {
      char* digits = line.line.data() + line.cuts[n] + static_cast<std::size_t>(n) * t.size();
      copy_short(digits + unchanged_, t.data() + unchanged_, changed);
    }
  }
  line.made_at = reports_;
  out.put(line.line);
  end_write_statement(out);
}

void ReportLines::report(std::int64_t t, std::span<const double> tail) {
  // The console and the file show the same t and values; interrupts wait
  // until both lines are whole in their streams.
  ++reports_;
  advance_t(t);
  RecentLines& lines = lines_of(tail);
  runtime::IoSection whole_lines;
  if (console_ != nullptr) write_report(*console_, lines.console);
  if (file_ != nullptr) write_report(*file_, lines.file);
}

}  // namespace blocklevels
