// The fuzz targets, one driver for all: built once per target with
// BLOCKLEVELS_FUZZ_TARGET naming the check below. Each check compares the
// program's code on arbitrary bytes with a model written from the rules in
// docs/dialogue.md, the README and the headers, not from the code:
//  - read_integer, read_real, read_line_text: the token, line and number
//    rules, and exactly the bytes consumed (a flag byte: bit 1 reads a
//    sequence of answers; bits 2..7 repeat the rest 1..64 times);
//  - format_fixed: the two rounding steps on any 80-bit value (ten bytes of
//    the value, a width byte, a decimals byte);
//  - the dialogue: prompts, stop numbers, the 128-byte blocks of standard
//    output and the report file's header, in an empty directory;
//  - the table reader merge and --resume use: any bytes as a table file give
//    rows the program writes, each one's text written again, or a refusal.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <regex>
#include <string>

#include "arithmetic/stop.hpp"
#include "dialogue/answer_reader.hpp"
#include "dialogue/dialogue.hpp"
#include "errors/failure.hpp"
#include "output/table_reader.hpp"
#include "runtime/run_streams.hpp"
#include "text/number_text.hpp"

namespace blocklevels::fuzz {
namespace {

using runtime::InputStream;

#define CHECK(condition, detail)                                                            \
  if (!(condition))                                                                         \
  (std::fprintf(stderr, "check failed: %s\n%s\n", #condition, std::string(detail).c_str()), \
   std::abort())

// An in-memory file holding `bytes`, its offset at the start.
int memory_file(std::string_view bytes) {
  static int fd = ::memfd_create("fuzz", MFD_CLOEXEC);
  CHECK(::ftruncate(fd, 0) == 0 &&
            ::pwrite(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()),
        "memfd");
  ::lseek(fd, 0, SEEK_SET);
  return fd;
}

// The reading rules: 0x1A ends the input and stays unread.
struct Cursor {
  std::string_view bytes;
  std::size_t at = 0;
  bool end() const { return at == bytes.size() || bytes[at] == '\x1A'; }
  unsigned char next() const { return static_cast<unsigned char>(bytes[at]); }
  // Blanks and control bytes skipped, then at most `limit` bytes above 32;
  // false at the end of input.
  bool token(std::size_t limit, std::string& t) {
    while (!end() && next() <= 32) ++at;
    t.clear();
    while (!end() && next() > 32 && t.size() < limit) t += bytes[at++];
    return !t.empty();
  }
  void skip_line() {
    while (!end()) {
      if (bytes[at++] == '\n') return;
    }
  }
  // The rest of the line: CR dropped, 0x1A taken and ending it, at most 4096.
  LineText line() {
    LineText l;
    while (at < bytes.size() && bytes[at] != '\n' && bytes[at] != '\x1A') {
      if (bytes[at] != '\r' && (l.too_long = l.text.size() == 4096)) break;
      if (bytes[at++] != '\r') l.text += bytes[at - 1];
    }
    at += at < bytes.size() && (bytes[at] == '\x1A' || l.too_long) ? 1 : 0;
    return l;
  }
};

// Sign, then "$", "x", "X", "0x" or "0X" and 1..8 hexadecimal digits (the
// 32-bit pattern), or decimal digits within the 32-bit range.
bool model_integer(const std::string& t, std::int32_t& value) {
  static const std::regex syntax(R"(([+-]?)(?:(?:\$|x|X|0x|0X)([0-9A-Fa-f]{1,8})|0*(\d{1,10})))");
  std::smatch m;
  if (!std::regex_match(t, m, syntax)) return false;
  const long long sign = m.str(1) == "-" ? -1 : 1;
  if (m[2].matched) {
    value = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(sign * std::stoll(m.str(2), nullptr, 16)));
    return true;
  }
  value = static_cast<std::int32_t>(sign * std::stoll(m.str(3)));
  return sign * std::stoll(m.str(3)) == value;
}

// Sign, digits, optional "." and digits, optional exponent letter, sign and
// digits. Gives the mantissa's digits and the decimal exponent (saturated).
bool model_real_syntax(const std::string& t, std::string& mantissa, long long& exponent) {
  static const std::regex syntax(R"([+-]?(\d*)(?:\.(\d*))?(?:[eE]([+-]?)(\d+))?)");
  std::smatch m;
  if (t == "+" || t == "-" || !std::regex_match(t, m, syntax)) return false;
  mantissa = m.str(1) + m.str(2);
  exponent = 0;
  for (const char c : m.str(4)) exponent = std::min(exponent * 10 + (c - '0'), 100000000LL);
  exponent = (m.str(3) == "-" ? -exponent : exponent) - static_cast<long long>(m.length(2));
  return true;
}

// Both rounding steps of the report numbers: |x| brought below 16 by the
// smallest power of ten, times 10^17 to the nearest integer (ties to even),
// then the kept decimals rounded half-up on the next digit, places past the
// figure read as 0.
std::string model_fixed(long double x, int width, int decimals) {
  std::string text;
  if (std::isnan(x)) {
    text = "Nan";
  } else if (std::isinf(x)) {
    text = x < 0 ? "-Inf" : "+Inf";
  } else {
    const long double ax = std::fabs(x);
    const auto reduced_by = [ax](int k) {
      return k == 0 ? ax : ax / std::strtold(("1e" + std::to_string(k)).c_str(), nullptr);
    };
    int k = ax >= 16 ? std::max(0, static_cast<int>(std::log10(ax)) - 1) : 0;
    while (reduced_by(k) >= 16) ++k;
    while (k > 0 && reduced_by(k - 1) < 16) --k;
    const long double reduced = reduced_by(k);
    std::string figure =
        std::to_string(static_cast<std::uint64_t>(std::nearbyintl(reduced * 1e17L)));
    figure.insert(0, figure.size() < 18 ? 18 - figure.size() : 0, '0');
    const auto dec = static_cast<std::size_t>(decimals);
    const std::size_t kept = figure.size() - 17 + static_cast<std::size_t>(k) + dec;
    figure.resize(std::max(figure.size(), kept + 1), '0');
    std::string d = "0" + figure.substr(0, kept);
    if (figure[kept] >= '5') {
      std::size_t i = d.size();
      while (d[--i] == '9') d[i] = '0';
      ++d[i];
    }
    d.erase(0, std::min(d.find_first_not_of('0'), d.size() - dec - 1));
    text = (std::signbit(x) ? "-" : "") + d.substr(0, d.size() - dec);
    if (dec > 0) text += "." + d.substr(d.size() - dec);
  }
  const std::size_t w = static_cast<std::size_t>(width);
  return std::string(text.size() < w ? w - text.size() : 0, ' ') + text;
}

// The reading targets: the input stream and the model read the same bytes.
void check_reading(const std::uint8_t* data, std::size_t size, int what) {
  if (size == 0) return;
  std::string bytes;
  for (int i = 0; i <= data[0] >> 2; ++i)
    bytes.append(reinterpret_cast<const char*>(data + 1), size - 1);
  InputStream in;
  in.open(memory_file(bytes));
  Cursor model{bytes};
  for (int answers = 0; answers < ((data[0] & 2) != 0 ? 64 : 1); ++answers) {
    const std::string where = "answer at " + std::to_string(model.at);
    std::string t;
    if (what == 0) {
      std::int32_t expected = 0;
      const bool valid = !model.token(kIntegerTokenLength, t) || model_integer(t, expected);
      const std::int32_t value = read_integer(in);
      CHECK(in.result() == (valid ? 0 : 106) && value == (valid ? expected : 0), where + " " + t);
    } else if (what == 1) {
      std::string mantissa;
      long long exponent = 0;
      const bool present = model.token(kRealTokenLength, t);
      const bool valid = !present || model_real_syntax(t, mantissa, exponent);
      const long double value = read_real(in);
      const long double exact = valid && present ? std::strtold(t.c_str(), nullptr) : 0.0L;
      const std::size_t significant =
          mantissa.size() - std::min(mantissa.find_first_not_of('0'), mantissa.size());
      // Beyond the extended range is a floating-point overflow (205); within
      // 2^-55 of its top either may happen.
      const bool overflows = valid && significant > 0 && exponent < 5120 && std::isinf(exact);
      const bool near_top =
          std::fabs(exact) >= std::numeric_limits<long double>::max() * (1 - 0x1p-55L);
      CHECK(in.result() == (!valid      ? 106
                            : overflows ? 205
                                        : 0) ||
                (near_top && in.result() == 205),
            where + " " + t);
      if (in.result() == 205) break;
      if (!valid || significant == 0 || exponent >= 5120 || exponent <= -5120 ||
          (significant <= 19 && exponent >= -27 && exponent <= 27)) {
        const bool zero = !valid || significant == 0 || exponent <= -5120;
        const long double expected = zero ? (valid && t[0] == '-' ? -0.0L : 0.0L) : exact;
        CHECK(std::memcmp(&value, &expected, 10) == 0, where + " " + t);
      } else if (std::isnormal(exact) && std::isnormal(value)) {
        CHECK(std::fabs(value - exact) <= std::ldexp(std::fabs(exact), -55), where + " " + t);
      }
    } else {
      const LineText expected = model.line();
      const LineText line = read_line_text(in);
      CHECK(line.text == expected.text && line.too_long == expected.too_long, where);
    }
    if ((what != 2 && t.empty()) || (what == 2 && model.at == bytes.size()) || in.result() != 0)
      break;
    model.skip_line();
    skip_line(in);
  }
  for (; !model.end(); ++model.at, in.advance()) CHECK(in.peek() == model.next(), "rest");
  CHECK(in.peek() == InputStream::kEnd, "the stream holds more than the model");
}

void check_fixed(const std::uint8_t* data, std::size_t size) {
  std::uint8_t bytes[12] = {};
  std::memcpy(bytes, data, std::min(size, sizeof bytes));
  bytes[7] |= 0x80;  // the integer bit: no unsupported encodings
  if ((bytes[9] & 0x7F) == 0 && bytes[8] == 0) bytes[7] &= 0x7F;  // zero and denormals
  long double x = 0;
  std::memcpy(&x, bytes, 10);
  if (size > 12 && (data[12] & 1) != 0) {  // a decimal figure: ties and near-ties are common
    std::uint64_t figure = 0;
    std::memcpy(&figure, bytes, 8);
    x = static_cast<long double>(figure % 1000000000000000000u) /
        std::strtold(("1e" + std::to_string(bytes[8] % 21)).c_str(), nullptr);
  }
  const int width = bytes[10] % 31, decimals = bytes[11] % 21;
  char text[kFixedTextCapacity];
  const std::string got(text, format_fixed(text, x, width, decimals));
  const std::string expected = model_fixed(x, width, decimals);
  CHECK(got == expected, got + " model " + expected + " decimals " + std::to_string(decimals));
}

// What reaches standard output and the report file: each stream writes
// whole 128-byte blocks; a stop or the end writes out the file's rest first.
struct Outputs {
  std::string out, file, console_buffer, file_buffer;
  bool file_on_out = false;
  void put(std::string& buffer, std::string& sink, const std::string& bytes) {
    for (buffer += bytes; buffer.size() >= 128; buffer.erase(0, 128)) sink += buffer.substr(0, 128);
  }
  void console(const std::string& s) { put(console_buffer, out, s); }
  void report(const std::string& s) { put(file_buffer, file_on_out ? out : file, s); }
  void write_out() {
    (file_on_out ? out : file) += file_buffer;
    out += console_buffer;
  }
};

// The dialogue as docs/dialogue.md tells it; returns the stop number (0: the
// header is written). Names with "/" are not run (-1).
int model_dialogue(std::string_view input, Outputs& o, std::string& name) {
  Cursor in{input};
  std::int32_t v[8] = {};
  long double pmut = 0;
  const char* prompts[] = {"Enter population size (at most 1000000):",
                           "Enter allele mutation probability:",
                           "Enter block length (at most 300):",
                           "how many block positions with two options acceptable (at most ",
                           "The number of blocks l (at most ",
                           "The final iteration number:",
                           "The number of generations in one step in the output:",
                           "Enter parameter mu (at most "};
  o.console("\n");
  for (int i = 0; i < 8; ++i) {
    o.console(prompts[i]);
    if (i == 4 && v[2] == 0) return 200;
    if (i == 3 || i == 4 || i == 7) {
      o.console(std::to_string(i == 3 ? v[2] : i == 4 ? 300 / v[2] : v[0]) + "):");
    }
    o.console("\n");
    std::string t, mantissa;
    long long exponent = 0;
    const bool present = in.token(i == 1 ? kRealTokenLength : kIntegerTokenLength, t);
    if (i == 1 && present) {
      if (!model_real_syntax(t, mantissa, exponent)) return 106;
      pmut = parse_real_token(t).value;
      if (std::isinf(pmut) && exponent < 5120) return 205;  // the scaling overflows
    } else if (present && !model_integer(t, v[i])) {
      return 106;
    }
    in.skip_line();
    if ((i == 4 || i == 6) && v[i] < 1) return 106;
  }
  o.console("Output file name:\n");
  const LineText line = in.line();
  in.skip_line();
  name = line.text;
  if (name.find('/') != std::string::npos) return -1;
  if (line.too_long || name.find('\0') != std::string::npos || name.size() > 255) return 123;
  if (name == "." || name == "..") return 5;
  o.file_on_out = name.empty();
  const std::pair<const char*, std::int64_t> lines[] = {
      {"block length=", v[2]},
      {"number of blocks=", v[4]},
      {"number of block positions with two options acceptable=", v[3]},
      {"length of chromosome =", std::int64_t{v[4]} * v[2]},
      {"Number of fitness levels = ", v[4] + 1LL},
      {"Population size lambda=", v[0]}};
  for (const auto& [label, value] : lines) {
    o.report(label + std::to_string(static_cast<std::int32_t>(value)) + "\r\n");
  }
  o.report("Pmut=" + model_fixed(pmut, 5, 5) + "\r\n");
  o.report("Number of selectable (current best) individuals mu= " + std::to_string(v[7]) + "\r\n");
  return 0;
}

void check_dialogue(const std::uint8_t* data, std::size_t size) {
  static const std::string& jail = *[] {
    std::string path = std::filesystem::temp_directory_path().string() + "/fuzz-dialogue-XXXXXX";
    CHECK(::mkdtemp(path.data()) != nullptr, path);
    std::atexit([] { std::filesystem::remove_all(jail); });
    return new std::string(path);
  }();
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Outputs want;
  std::string name;
  const int want_stop = model_dialogue(input, want, name);
  if (want_stop < 0) return;
  runtime::standard_input().open(memory_file(input));
  const int out = ::memfd_create("out", MFD_CLOEXEC), saved = ::dup(1),
            back = ::open(".", O_RDONLY);
  ::dup2(out, 1);
  runtime::console().open(1, runtime::LineEnd::lf, false);
  runtime::report_file() = runtime::OutputStream{};
  CHECK(::chdir(jail.c_str()) == 0, jail);
  int stop = 0;
  try {
    read_dialogue();
  } catch (const Stop& failure) {
    stop = failure.number();
  }
  if (stop != 0) runtime::flush_run_streams();
  runtime::report_file().close();
  runtime::console().close();
  const auto contents = [](const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  };
  const std::string got_out = contents("/proc/self/fd/" + std::to_string(out));
  std::string got_file, entries;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    entries += entry.path().filename().string() + "/";
    got_file = contents(entry.path());
    std::filesystem::remove(entry.path());
  }
  CHECK(::fchdir(back) == 0 && ::dup2(saved, 1) == 1, "");
  for (const int fd : {out, saved, back}) ::close(fd);
  want.write_out();
  CHECK(entries == (stop == 0 && !want.file_on_out ? name + "/" : ""), entries);
  CHECK(stop == want_stop, std::to_string(stop) + ", model " + std::to_string(want_stop));
  CHECK(got_out == want.out, "standard output\n" + got_out + "\nmodel\n" + want.out);
  CHECK(got_file == want.file, "file\n" + got_file + "\nmodel\n" + want.file);
}

// Any bytes as a table: the reader accepts a row only as the program writes
// it, or refuses the file with status 2; nothing else may happen.
void check_table(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const int file = memory_file(bytes);
  const std::string path = "/proc/self/fd/" + std::to_string(file);
  std::size_t rows = 0;
  try {
    TableReader reader(path);
    CHECK(bytes.starts_with(reader.table().header()), "header");
    TableEntry entry;
    std::size_t at = reader.table().header().size();
    while (reader.next(entry)) {
      std::string again;
      if (entry.source == Source::shard) {
        reader.table().append_shard(again, entry.shard, entry.settings);
      } else if (entry.source == Source::shard_end) {
        reader.table().append_shard_end(again, entry.shard, entry.settings, entry.end);
      } else {
        reader.table().append(again, entry.result, entry.settings);
      }
      CHECK(bytes.compare(at, again.size(), again) == 0, "entry " + std::to_string(rows));
      CHECK(entry.start == at && entry.end_offset == at + again.size(), "entry's bytes");
      at += again.size();
      ++rows;
      const auto blocks = static_cast<std::size_t>(entry.result.point.p.blocks);
      if (const auto* m = std::get_if<ModelReport>(&entry.result.value)) {
        CHECK(m->tail.size() == blocks, "values");
      }
    }
    CHECK(at == bytes.size(), "the rows read are the whole file");
  } catch (const Failure& refused) {
    CHECK(refused.status() == 2, refused.message());
  }
}

}  // namespace
}  // namespace blocklevels::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace blocklevels::fuzz;
  if (BLOCKLEVELS_FUZZ_TARGET <= 2) check_reading(data, size, BLOCKLEVELS_FUZZ_TARGET);
  if (BLOCKLEVELS_FUZZ_TARGET == 3) check_fixed(data, size);
  if (BLOCKLEVELS_FUZZ_TARGET == 4) check_dialogue(data, size);
  if (BLOCKLEVELS_FUZZ_TARGET == 5) check_table(data, size);
  return 0;
}
