#include "support/run_program.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace blocklevels::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Appends what one read gives; false at end of file or on a hung-up terminal.
bool read_some(int fd, std::string& into) {
  char chunk[65536];
  const ssize_t n = ::read(fd, chunk, sizeof chunk);
  if (n > 0) into.append(chunk, static_cast<std::size_t>(n));
  return n > 0 || (n < 0 && (errno == EINTR || errno == EAGAIN));
}

// In the child: descriptor `fd` becomes `given`, stays closed or is opened on
// the target path.
void attach(int fd, const std::string& target, int given, int flags) {
  if (target == kPipe || target == kTerminal) {
    ::dup2(given, fd);
    return;
  }
  ::close(fd);
  if (target == kClosed) return;
  const int opened = ::open(target.c_str(), flags);
  if (opened < 0) ::_exit(127);
  if (opened != fd) {
    ::dup2(opened, fd);
    ::close(opened);
  }
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(std::exchange(fd, -1));
}

}  // namespace

ProgramRun run_program(std::string_view input, const std::string& directory,
                       const RunOptions& options) {
  ::signal(SIGPIPE, SIG_IGN);  // the program may stop before reading everything
  const bool terminal_in = options.standard_input == kTerminal;
  const bool terminal_out = options.standard_output == kTerminal;
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1}, master = -1, terminal = -1;
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe");
  if (terminal_in || terminal_out) {
    if (::openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0)
      throw std::runtime_error("openpty");
    termios mode{};
    ::tcgetattr(terminal, &mode);
    ::cfmakeraw(&mode);  // no echo, bytes pass unchanged
    ::tcsetattr(terminal, TCSANOW, &mode);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(terminal, F_SETFD, FD_CLOEXEC);
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    attach(0, options.standard_input, terminal_in ? terminal : in[0], O_RDONLY);
    attach(1, options.standard_output, terminal_out ? terminal : out[1],
           O_WRONLY | options.output_flags);
    attach(2, options.standard_error, err[1], O_WRONLY | options.output_flags);
    if (options.open_files_limit != 0) {
      const rlimit limit{options.open_files_limit, options.open_files_limit};
      ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (options.memory_limit != 0) {
      const rlimit limit{options.memory_limit, options.memory_limit};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    if (options.file_size_limit != 0) {
      const rlimit limit{options.file_size_limit, options.file_size_limit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      ::signal(SIGXFSZ, SIG_IGN);
    }
    ::signal(SIGPIPE, SIG_DFL);
    std::vector<char*> argv{const_cast<char*>("blocklevels")};
    for (const auto& arg : options.args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    if (::chdir(directory.c_str()) == 0) ::execv(BLOCKLEVELS_BINARY, argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  close_fd(terminal);
  ProgramRun run;
  std::string pending(input);
  int to_child = terminal_in ? master : in[1];
  int from_child[] = {terminal_out ? master : out[0], err[0]};
  if (terminal_in) close_fd(in[1]);
  if (terminal_out || options.standard_output != kPipe) close_fd(out[0]);
  if (!terminal_in && options.standard_input != kPipe) close_fd(to_child);
  // Closes a descriptor once, whichever roles it has.
  auto drop = [&](int fd) {
    if (fd < 0) return;
    ::close(fd);
    for (int* role : {&from_child[0], &from_child[1], &to_child, &master}) {
      if (*role == fd) *role = -1;
    }
  };
  if (to_child >= 0) ::fcntl(to_child, F_SETFL, O_NONBLOCK);
  bool watching = static_cast<bool>(options.watch);
  const bool keep_input = watching || terminal_in;
  if (pending.empty() && !keep_input) drop(to_child);
  std::string* into[] = {&run.out, &run.err};
  const auto deadline = Clock::now() + options.time_limit;
  while (from_child[0] >= 0 || from_child[1] >= 0) {
    pollfd fds[3] = {{from_child[0], POLLIN, 0},
                     {from_child[1], POLLIN, 0},
                     {pending.empty() ? -1 : to_child, POLLOUT, 0}};
    ::poll(fds, 3, watching ? 5 : 100);
    if (Clock::now() >= deadline) {
      run.timed_out = true;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents != 0 && !read_some(from_child[i], *into[i])) drop(from_child[i]);
    }
    if (fds[2].revents != 0 && to_child >= 0) {
      const ssize_t n = ::write(to_child, pending.data(), pending.size());
      if (n > 0) pending.erase(0, static_cast<std::size_t>(n));
      if (n < 0 && errno != EAGAIN && errno != EINTR) pending.clear();
      if (pending.empty() && !keep_input) drop(to_child);
    }
    if (!watching) continue;
    RunSoFar now{pid, run.out, run.err, pending.empty() && waiting_in(pid, SYS_read, 0), pending};
    const int act = options.watch(now);
    if (act == kKeepWatching) continue;
    watching = false;
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
        info.si_pid != 0)
      continue;  // ended already
    run.acted = true;
    if (act > 0) {
      ::kill(pid, act);
    } else {
      drop(terminal_out || terminal_in ? master : from_child[0]);
    }
    if (!terminal_in) drop(to_child);
  }
  if (run.timed_out) ::kill(pid, SIGKILL);
  for (int* role : {&from_child[0], &from_child[1], &to_child, &master}) drop(*role);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!run.timed_out && WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
  if (!run.timed_out && WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  return run;
}

bool waiting_in(pid_t pid, long call, int descriptor) {
  // The first two fields: the system call the process waits in and its first
  // argument, in hexadecimal.
  std::ifstream calls("/proc/" + std::to_string(pid) + "/syscall");
  std::string number, first;
  return static_cast<bool>(calls >> number >> first) && number == std::to_string(call) &&
         first == "0x" + std::to_string(descriptor);
}

std::string mask_stop_place(std::string text) {
  const auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
  for (std::size_t at = text.find(" at "); at != std::string::npos;
       at = text.find(" at ", at + 1)) {
    const auto place = text.begin() + static_cast<std::ptrdiff_t>(at + 4);
    if (at + 12 <= text.size() && std::all_of(place, place + 8, hex))
      text.replace(at + 4, 8, "XXXXXXXX");
  }
  return text;
}

std::vector<pid_t> children_of(pid_t parent) {
  std::vector<pid_t> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = read_file(entry.path().string() + "/stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    // "pid (comm) state ppid ..."
    if (std::stol(stat.substr(close + 4)) == parent) children.push_back(std::stoi(name));
  }
  return children;
}

bool running(pid_t pid) {
  const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t close = stat.rfind(')');
  return close != std::string::npos && stat.substr(close + 2, 1) != "Z";
}

void write_file(const std::string& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

std::string read_file(const std::string& path) {
  // A file that goes while it is read (a process's /proc entry), or a
  // directory, reads as "".
  try {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  } catch (const std::exception&) {
    return "";
  }
}

TemporaryDirectory::TemporaryDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "blocklevels-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> fields_of(const std::string& row) {
  std::vector<std::string> fields;
  std::istringstream in(row);
  for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
  if (!row.empty() && row.back() == ',') fields.emplace_back();
  return fields;
}

ProgramRun run_in(const TemporaryDirectory& dir, std::vector<std::string> args) {
  RunOptions options;
  options.args = std::move(args);
  return run_program("", dir.path(), options);
}

CsvText::CsvText(const std::string& text) {
  const std::vector<std::string> lines = lines_of(text);
  if (lines.empty()) return;
  header_ = fields_of(lines[0]);
  for (std::size_t n = 1; n < lines.size(); ++n) rows_.push_back(fields_of(lines[n]));
}

const std::string& CsvText::at(std::size_t row, std::string_view name) const {
  const auto column = std::find(header_.begin(), header_.end(), name);
  if (column == header_.end()) throw std::out_of_range("no column " + std::string(name));
  return rows_.at(row).at(static_cast<std::size_t>(column - header_.begin()));
}

std::vector<std::size_t> CsvText::rows_of(std::string_view source) const {
  std::vector<std::size_t> found;
  for (std::size_t n = 0; n < rows_.size(); ++n) {
    if (at(n, "source") == source) found.push_back(n);
  }
  return found;
}

}  // namespace blocklevels::testing
