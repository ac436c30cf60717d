// The whole dialogue (read_parameters) with the fuzz input as standard input,
// checked against a model of the dialogue built on the model of the text
// rules:
// - the run stops exactly when the model says, with the model's error number
//   (106 invalid input or a count below 1, 200 block length 0, 205 a Pmut
//   beyond the extended range, 3/5/123 for a name the file system refuses);
// - standard output holds exactly the model's bytes: an empty line, then the
//   prompts in order with their bounds, cut where the run stops, written in
//   128-byte blocks, and the header too when the name is empty;
// - a finished dialogue leaves the output file open, its Params are the
//   model's, and the file (the only entry of the jail) holds the eight header
//   lines with CR LF; a stopped one leaves no file behind.
//
// Safety: the dialogue creates a file whose name comes from the input. Each
// input runs chrooted into a fresh empty directory (we run as root), so no
// name can reach any other file; libFuzzer's own files are written outside
// it. Without the right to chroot, the directory is only the working
// directory and inputs whose name holds a "/" are skipped. Sanitizer reports,
// failed checks and exceptions leave the jail before libFuzzer writes the
// input; a timeout or an out-of-memory report that strikes while the
// dialogue runs is written inside the jail, whose path is printed at start.
#include <dirent.h>
#include <fcntl.h>
#include <fenv.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/dialogue.hpp"
#include "driver/text_rules.hpp"
#include "model/params.hpp"
#include "runtime/stop_report.hpp"
#include "runtime/text_stream.hpp"
#include "support.hpp"
#include "text_model.hpp"

namespace blocklevels::fuzz {
namespace {

// ---------------------------------------------------------------- the jail

struct Jail {
  std::string path;
  int root = -1;  // the real root directory
  int cwd = -1;   // the working directory libFuzzer started in
  int dir = -1;   // the jail directory
  bool chrooted = false;
  volatile bool inside = false;
};
Jail jail;

void enter_jail() {
  jail.inside = true;
  const bool ok = ::fchdir(jail.dir) == 0 && (!jail.chrooted || ::chroot(".") == 0);
  FUZZ_CHECK(ok, "cannot enter " + jail.path);
}

void leave_jail() {
  if (!jail.inside) return;
  if (jail.chrooted) {
    if (::fchdir(jail.root) != 0 || ::chroot(".") != 0) std::abort();
  }
  if (::fchdir(jail.cwd) != 0) std::abort();
  jail.inside = false;
}

struct JailEntry {
  std::string name;
  bool regular = false;
  std::string contents;
};

// Lists the jail and removes what it holds.
std::vector<JailEntry> empty_jail() {
  std::vector<JailEntry> entries;
  DIR* listing = ::fdopendir(::dup(jail.dir));
  FUZZ_CHECK(listing != nullptr, "cannot list " + jail.path);
  ::rewinddir(listing);
  while (const dirent* e = ::readdir(listing)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    JailEntry entry{name, false, {}};
    struct stat status = {};
    FUZZ_CHECK(::fstatat(jail.dir, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0, name);
    entry.regular = S_ISREG(status.st_mode);
    if (entry.regular) {
      const int fd = ::openat(jail.dir, name.c_str(), O_RDONLY | O_CLOEXEC);
      FUZZ_CHECK(fd >= 0, "cannot read " + escaped(name));
      char block[4096];
      for (ssize_t n; (n = ::read(fd, block, sizeof block)) > 0;) {
        entry.contents.append(block, static_cast<std::size_t>(n));
      }
      ::close(fd);
    }
    FUZZ_CHECK(::unlinkat(jail.dir, name.c_str(), S_ISDIR(status.st_mode) ? AT_REMOVEDIR : 0) == 0,
               "cannot remove " + escaped(name));
    entries.push_back(std::move(entry));
  }
  ::closedir(listing);
  return entries;
}

// Leaves the jail and removes it with what it holds, as far as it can: at
// exit, and before a failed check aborts (libFuzzer then writes the input
// outside).
void remove_jail() {
  leave_jail();
  if (DIR* listing = ::fdopendir(::dup(jail.dir))) {
    ::rewinddir(listing);
    while (const dirent* e = ::readdir(listing)) {
      const std::string_view name = e->d_name;
      if (name != "." && name != "..") ::unlinkat(jail.dir, e->d_name, 0);
    }
    ::closedir(listing);
  }
  ::rmdir(jail.path.c_str());
}

// ------------------------------------------------------------ the model

// What reaches standard output and the output file: each stream writes
// whole 128-byte blocks until the harness writes out the rest, the output
// file's stream first.
struct Streams {
  std::string standard_output;
  std::string file_contents;
  bool file_on_standard_output = false;
  std::string console_buffer;
  std::string file_buffer;

  static void put(std::string& buffer, std::string& sink, const std::string& bytes) {
    buffer += bytes;
    while (buffer.size() >= runtime::kStreamBufferSize) {
      sink.append(buffer, 0, runtime::kStreamBufferSize);
      buffer.erase(0, runtime::kStreamBufferSize);
    }
  }
  void console(const std::string& bytes) { put(console_buffer, standard_output, bytes); }
  void file(const std::string& bytes) {
    put(file_buffer, file_on_standard_output ? standard_output : file_contents, bytes);
  }
  void write_out() {
    (file_on_standard_output ? standard_output : file_contents) += file_buffer;
    standard_output += console_buffer;
    file_buffer.clear();
    console_buffer.clear();
  }
};

struct DialogueModel {
  int stop = 0;
  bool finished = false;
  Params params;
  bool name_read = false;
  bool file_created = false;  // a file in the jail, named `created_name`
  std::string created_name;
  Streams streams;
};

// What creating `name` in an empty root directory gives: 0 and the created
// entry's name, or the error number.
int create_in_empty_root(const std::string& name, std::string& created) {
  if (name.size() >= 4096) return 123;  // the whole path is too long
  std::string path = name;
  const bool trailing_slash = path.back() == '/';
  while (!path.empty() && path.back() == '/') path.pop_back();
  if (path.empty()) return 5;  // the root directory itself
  std::vector<std::string> parts{""};
  for (const char c : path) {
    if (c == '/') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    const std::string& part = parts[i];
    if (part.empty() || part == "." || part == "..") continue;
    return part.size() > 255 ? 123 : 3;  // nothing but the root exists
  }
  // Creating with a trailing slash is refused before the last name is looked
  // up; "." and ".." are the root directory.
  const std::string& last = parts.back();
  if (trailing_slash || last == "." || last == "..") return 5;
  if (last.size() > 255) return 123;
  created = last;
  return 0;
}

DialogueModel model_dialogue(std::string_view input) {
  DialogueModel m;
  ByteCursor in{input, 0, true};
  Streams& out = m.streams;
  auto prompt = [&](const std::string& text) { out.console(text + "\n"); };
  // An integer answer; false when the run stops on it.
  auto answer = [&](std::int32_t& value) {
    const TokenModel t = model_read_token(in, 32);
    const IntegerModel parsed =
        t.at_end ? IntegerModel{true, false, 0} : model_parse_integer(t.token);
    model_skip_line(in);
    value = parsed.valid ? parsed.value : 0;
    if (!parsed.valid) m.stop = kInvalidNumericInput;
    return parsed.valid;
  };
  const auto number = [](std::int32_t v) { return model_format_integer(v); };
  Params& p = m.params;

  out.console("\n");
  prompt("Enter population size (at most 1000000):");
  if (!answer(p.lambda)) return m;
  prompt("Enter allele mutation probability:");
  {
    const TokenModel t = model_read_token(in, 64);
    RealModel real;
    real.valid = true;
    if (!t.at_end) real = model_parse_real(t.token);
    if (real.valid && real.overflows) {
      m.stop = 205;  // the scaling traps before the line is skipped
      return m;
    }
    model_skip_line(in);
    if (!real.valid) {
      m.stop = kInvalidNumericInput;
      return m;
    }
    p.Pmut = t.at_end ? 0.0L : real.value;
  }
  prompt("Enter block length (at most 300):");
  if (!answer(p.block_length)) return m;
  prompt("how many block positions with two options acceptable (at most " + number(p.block_length) +
         "):");
  if (!answer(p.two_option_positions)) return m;
  if (p.block_length == 0) {
    out.console("The number of blocks l (at most ");
    m.stop = 200;
    return m;
  }
  prompt("The number of blocks l (at most " +
         number(static_cast<std::int32_t>(300 / std::int64_t{p.block_length})) + "):");
  if (!answer(p.blocks)) return m;
  if (p.blocks < 1) {
    m.stop = kInvalidNumericInput;
    return m;
  }
  p.chromosome_length = static_cast<std::int32_t>(static_cast<std::uint32_t>(p.blocks) *
                                                  static_cast<std::uint32_t>(p.block_length));
  prompt("The final iteration number:");
  if (!answer(p.final_iteration)) return m;
  prompt("The number of generations in one step in the output:");
  if (!answer(p.step_generations)) return m;
  if (p.step_generations < 1) {
    m.stop = kInvalidNumericInput;
    return m;
  }
  prompt("Enter parameter mu (at most " + number(p.lambda) + "):");
  if (!answer(p.mu)) return m;
  p.first_report = p.step_generations;
  prompt("Output file name:");
  const LineModel name = model_read_line_text(in);
  model_skip_line(in);
  m.name_read = true;
  p.output_file_name = name.text;

  if (name.text.empty() && !name.too_long) {
    out.file_on_standard_output = true;
  } else if (name.too_long || name.text.find('\0') != std::string::npos) {
    m.stop = 123;
    return m;
  } else {
    m.stop = create_in_empty_root(name.text, m.created_name);
    if (m.stop != 0) return m;
    m.file_created = true;
  }
  const auto line = [&](const std::string& label, std::int32_t v) {
    out.file(label + number(v) + "\r\n");
  };
  line("block length=", p.block_length);
  line("number of blocks=", p.blocks);
  line("number of block positions with two options acceptable=", p.two_option_positions);
  line("length of chromosome =", p.chromosome_length);
  line("Number of fitness levels = ",
       static_cast<std::int32_t>(static_cast<std::uint32_t>(p.blocks) + 1u));
  line("Population size lambda=", p.lambda);
  out.file("Pmut=" + model_format_fixed(p.Pmut, 5, 5) + "\r\n");
  line("Number of selectable (current best) individuals mu= ", p.mu);
  m.finished = true;
  return m;
}

// -------------------------------------------------------- running it

struct RunStopped {
  int error_number;
};
[[noreturn]] void throw_stop(int error_number) {
  throw RunStopped{error_number};
}

sigjmp_buf trap_return;
volatile sig_atomic_t trap_error = 0;

// The program's processor traps, as its stop report numbers them.
void on_float_trap(int, siginfo_t* info, void*) {
  switch (info->si_code) {
    case FPE_INTDIV:
    case FPE_FLTDIV:
      trap_error = 200;
      break;
    case FPE_FLTOVF:
      trap_error = 205;
      break;
    case FPE_FLTINV:
      trap_error = 207;
      break;
    default:
      trap_error = 255;
  }
  siglongjmp(trap_return, 1);
}

MemoryFile* standard_input_file = nullptr;
MemoryFile* standard_output_file = nullptr;
int saved_input = -1;
int saved_output = -1;

// Runs read_parameters on the current standard streams, in the jail, with
// the program's floating-point traps; returns the stop's error number or 0.
int run_dialogue(Params& params) {
  struct sigaction trap = {};
  struct sigaction previous = {};
  trap.sa_sigaction = on_float_trap;
  trap.sa_flags = SA_SIGINFO;
  sigemptyset(&trap.sa_mask);
  ::sigaction(SIGFPE, &trap, &previous);
  trap_error = 0;
  volatile int stop = 0;
  enter_jail();
  if (sigsetjmp(trap_return, 1) == 0) {
    feclearexcept(FE_ALL_EXCEPT);
    feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
    try {
      read_parameters(params);
    } catch (const RunStopped& stopped) {
      stop = stopped.error_number;
    } catch (...) {
      leave_jail();  // anything else is a finding: let libFuzzer report it from outside
      throw;
    }
  } else {
    stop = trap_error;
  }
  fedisableexcept(FE_ALL_EXCEPT);
  feclearexcept(FE_ALL_EXCEPT);
  ::sigaction(SIGFPE, &previous, nullptr);
  return stop;
}

bool same_bits(long double a, long double b) {
  const ExtendedFields x = decode_extended(a);
  const ExtendedFields y = decode_extended(b);
  return x.negative == y.negative && x.exponent == y.exponent && x.significand == y.significand;
}

void check_params(const Params& got, const Params& want) {
  FUZZ_CHECK(got.lambda == want.lambda, "lambda " + std::to_string(got.lambda));
  FUZZ_CHECK(same_bits(got.Pmut, want.Pmut), "Pmut");
  FUZZ_CHECK(got.block_length == want.block_length, "b " + std::to_string(got.block_length));
  FUZZ_CHECK(got.two_option_positions == want.two_option_positions,
             "acc " + std::to_string(got.two_option_positions));
  FUZZ_CHECK(got.blocks == want.blocks, "l " + std::to_string(got.blocks));
  FUZZ_CHECK(got.chromosome_length == want.chromosome_length,
             "chromosome length " + std::to_string(got.chromosome_length));
  FUZZ_CHECK(got.final_iteration == want.final_iteration,
             "final iteration " + std::to_string(got.final_iteration));
  FUZZ_CHECK(got.step_generations == want.step_generations,
             "step " + std::to_string(got.step_generations));
  FUZZ_CHECK(got.mu == want.mu, "mu " + std::to_string(got.mu));
  FUZZ_CHECK(got.first_report == want.first_report,
             "first report " + std::to_string(got.first_report));
  FUZZ_CHECK(got.output_file_name == want.output_file_name,
             "name " + escaped(got.output_file_name));
}

void ensure_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0 && ::open("/dev/null", O_RDWR) != fd) std::abort();
  }
}

}  // namespace
}  // namespace blocklevels::fuzz

// Sanitizer reports and failed checks leave the jail first, so that the
// report is symbolized and libFuzzer can write its files.
extern "C" void __asan_on_error() {
  blocklevels::fuzz::leave_jail();
}
extern "C" void __ubsan_on_report() {
  blocklevels::fuzz::leave_jail();
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  using namespace blocklevels::fuzz;
  ensure_standard_descriptors();
  const char* tmp = std::getenv("TMPDIR");
  std::string path =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/blocklevels-dialogue-XXXXXX";
  if (::mkdtemp(path.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  jail.path = path;
  jail.root = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  jail.cwd = ::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  jail.dir = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (jail.root < 0 || jail.cwd < 0 || jail.dir < 0) {
    std::perror("open");
    std::abort();
  }
  jail.inside = true;
  if (::fchdir(jail.dir) != 0) std::abort();
  jail.chrooted = ::chroot(".") == 0;
  leave_jail();
  std::atexit(remove_jail);
  set_before_failure(remove_jail);
  std::fprintf(stderr, "fuzz_dialogue: the dialogue runs in %s (%s)\n", path.c_str(),
               jail.chrooted ? "chroot" : "working directory only; names with '/' are skipped");

  standard_input_file = new MemoryFile("fuzz_dialogue_stdin");
  standard_output_file = new MemoryFile("fuzz_dialogue_stdout");
  saved_input = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
  saved_output = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
  blocklevels::runtime::set_stop_hook(throw_stop);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace blocklevels;
  using namespace blocklevels::fuzz;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const DialogueModel want = model_dialogue(input);
  if (!jail.chrooted && want.name_read &&
      want.params.output_file_name.find('/') != std::string::npos) {
    return 0;  // could leave the working directory
  }

  standard_input_file->assign(input);
  standard_output_file->assign("");
  FUZZ_CHECK(
      ::dup2(standard_input_file->fd(), 0) == 0 && ::dup2(standard_output_file->fd(), 1) == 1,
      "cannot redirect the standard streams");
  runtime::standard_input().open(0, true);
  runtime::console().open(1, runtime::LineEnd::lf, false);
  runtime::output_file() = runtime::OutputStream{};

  Params got;
  const int stop = run_dialogue(got);
  const bool file_open = runtime::output_file().is_open();
  // What the program does next: a stop writes out the output file's buffer,
  // then the console's; a finished dialogue's file is closed at the end.
  if (stop != 0) runtime::flush_run_streams();
  if (file_open) runtime::output_file().close();
  const int close_result = runtime::output_file().result();
  runtime::console().close();
  const std::vector<JailEntry> entries = empty_jail();
  leave_jail();
  ::dup2(saved_input, 0);
  ::dup2(saved_output, 1);
  const std::string standard_output = standard_output_file->contents();

  DialogueModel expected = want;
  expected.streams.write_out();
  const std::string where = "input " + escaped(input.substr(0, 600));
  FUZZ_CHECK(stop == want.stop, where + "\nstopped with " + std::to_string(stop) + ", model " +
                                    std::to_string(want.stop));
  FUZZ_CHECK(standard_output.rfind('\n', 0) == 0, where + ": no empty first line");
  FUZZ_CHECK(standard_output == expected.streams.standard_output,
             where + "\nstandard output " + escaped(standard_output) + "\nmodel " +
                 escaped(expected.streams.standard_output));
  FUZZ_CHECK(close_result == 0,
             where + ": closing the output file gave " + std::to_string(close_result));
  if (want.finished) {
    FUZZ_CHECK(file_open, where + ": the finished dialogue left no open output file");
    check_params(got, want.params);
  }
  if (want.finished && want.file_created) {
    FUZZ_CHECK(entries.size() == 1 && entries[0].regular && entries[0].name == want.created_name,
               where + ": " + std::to_string(entries.size()) + " entries, model file " +
                   escaped(want.created_name));
    FUZZ_CHECK(entries[0].contents == expected.streams.file_contents,
               where + "\nfile " + escaped(entries[0].contents) + "\nmodel " +
                   escaped(expected.streams.file_contents));
  } else {
    FUZZ_CHECK(entries.empty(), where + ": " + std::to_string(entries.size()) +
                                    " entries left, first " +
                                    escaped(entries.empty() ? "" : entries[0].name));
  }
  return 0;
}
