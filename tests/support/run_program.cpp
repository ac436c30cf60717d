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
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace blocklevels::testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRunLimit = std::chrono::seconds(60);

int milliseconds_left(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<long long>(0, left.count()));
}

// Appends what one read gives; false at end of file or on a hung-up terminal.
bool read_some(int fd, std::string& into) {
  char chunk[4096];
  const ssize_t n = ::read(fd, chunk, sizeof chunk);
  if (n > 0) into.append(chunk, static_cast<std::size_t>(n));
  return n > 0 || (n < 0 && errno == EINTR);
}

[[noreturn]] void exec_program(const std::string& directory) {
  ::signal(SIGPIPE, SIG_DFL);
  if (::chdir(directory.c_str()) == 0) ::execl(BLOCKLEVELS_BINARY, "blocklevels", nullptr);
  ::_exit(127);
}

// In the child: descriptor `fd` becomes `pipe_end`, stays closed or is opened
// on the target path.
void attach(int fd, const std::string& target, int pipe_end, int flags) {
  if (target == kPipe) {
    ::dup2(pipe_end, fd);
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

void finish(pid_t pid, ProgramRun& run) {
  if (run.timed_out) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (run.timed_out) return;
  if (WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
}

bool still_running(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == 0;
}

}  // namespace

ProgramRun run_program(std::string_view input, const std::string& directory) {
  return run_program(input, directory, RunOptions{});
}

ProgramRun run_program(std::string_view input, const std::string& directory,
                       const RunOptions& options) {
  ::signal(SIGPIPE, SIG_IGN);  // the program may stop before reading everything
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe");
  const pid_t pid = ::fork();
  if (pid == 0) {
    attach(0, options.standard_input, in[0], O_RDONLY);
    attach(1, options.standard_output, out[1], O_WRONLY);
    ::dup2(err[1], 2);
    if (options.memory_limit != 0) {
      const rlimit limit{options.memory_limit, options.memory_limit};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    exec_program(directory);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  ::fcntl(in[1], F_SETFL, O_NONBLOCK);
  ProgramRun run;
  std::size_t sent = 0;
  int to_child = in[1];
  if (options.standard_input != kPipe || (input.empty() && !options.when)) {
    ::close(std::exchange(to_child, -1));
  }
  std::string* into[] = {&run.out, &run.err};
  int from_child[] = {out[0], err[0]};
  if (options.standard_output != kPipe) ::close(std::exchange(from_child[0], -1));
  bool watching = static_cast<bool>(options.when);
  const auto deadline = Clock::now() + options.time_limit;
  while (from_child[0] >= 0 || from_child[1] >= 0) {
    const bool sending = to_child >= 0 && sent < input.size();
    pollfd fds[3] = {{from_child[0], POLLIN, 0},
                     {from_child[1], POLLIN, 0},
                     {sending ? to_child : -1, POLLOUT, 0}};
    const int wait =
        watching ? std::min(5, milliseconds_left(deadline)) : milliseconds_left(deadline);
    ::poll(fds, 3, wait);
    if (Clock::now() >= deadline) {
      run.timed_out = true;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents != 0 && !read_some(from_child[i], *into[i])) {
        ::close(std::exchange(from_child[i], -1));
      }
    }
    if (fds[2].revents != 0) {
      const ssize_t n = ::write(to_child, input.data() + sent, input.size() - sent);
      if (n > 0) sent += static_cast<std::size_t>(n);
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || (sent == input.size() && !watching)) {
        ::close(std::exchange(to_child, -1));
      }
    }
    if (!watching) continue;
    int unread = 0;
    const bool taken = sent == input.size() &&
                       (to_child < 0 || (::ioctl(to_child, FIONREAD, &unread) == 0 && unread == 0));
    if (!options.when(RunSoFar{pid, run.out, taken})) continue;
    watching = false;
    if (!still_running(pid)) continue;
    run.acted = true;
    if (options.signal != 0) {
      ::kill(pid, options.signal);
    } else if (from_child[0] >= 0) {
      ::close(std::exchange(from_child[0], -1));
    }
    if (to_child >= 0) ::close(std::exchange(to_child, -1));
  }
  for (const int fd : {from_child[0], from_child[1], to_child}) {
    if (fd >= 0) ::close(fd);
  }
  finish(pid, run);
  return run;
}

bool waiting_in(pid_t pid, long call, int descriptor) {
  // The first two fields: the system call the process waits in and its first
  // argument, in hexadecimal.
  std::ifstream calls("/proc/" + std::to_string(pid) + "/syscall");
  std::string number, first;
  char hex[24];
  std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(descriptor));
  return static_cast<bool>(calls >> number >> first) && number == std::to_string(call) &&
         first == hex;
}

ProgramRun run_program_on_terminal(const std::vector<std::pair<std::string, std::string>>& steps,
                                   const std::string& directory) {
  int master = -1, terminal = -1, err[2];
  if (::openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
    throw std::runtime_error("openpty");
  termios mode{};
  ::tcgetattr(terminal, &mode);
  ::cfmakeraw(&mode);
  ::tcsetattr(terminal, TCSANOW, &mode);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    ::ioctl(terminal, TIOCSCTTY, 0);
    ::dup2(terminal, 0);
    ::dup2(terminal, 1);
    ::dup2(err[1], 2);
    ::close(master);
    ::close(terminal);
    exec_program(directory);
  }
  ::close(terminal);
  ::close(err[1]);
  ProgramRun run;
  const auto deadline = Clock::now() + kRunLimit;
  // Reads the terminal until `until` holds, the program hangs up or time runs out.
  auto read_until = [&](auto until) {
    while (!until()) {
      pollfd fd{master, POLLIN, 0};
      if (::poll(&fd, 1, milliseconds_left(deadline)) == 0) {
        run.timed_out = true;
        return false;
      }
      if (!read_some(master, run.out)) return false;
    }
    return true;
  };
  for (const auto& [prompt, answer] : steps) {
    if (!read_until([&] { return run.out.ends_with(prompt); })) break;
    if (::write(master, answer.data(), answer.size()) != static_cast<ssize_t>(answer.size())) break;
  }
  if (!run.timed_out) read_until([] { return false; });
  ::close(master);
  while (read_some(err[0], run.err)) {
  }
  ::close(err[0]);
  finish(pid, run);
  return run;
}

std::string mask_stop_place(std::string text) {
  // "Runtime error NNN at " is 21 characters; the place and CR LF follow.
  static constexpr std::string_view kStart = "Runtime error ";
  for (std::size_t at = text.find(kStart); at != std::string::npos;
       at = text.find(kStart, at + 1)) {
    const std::size_t place = at + 21;
    if (text.size() < place + 10 || text.compare(at + 17, 4, " at ") != 0 ||
        text.compare(place + 8, 2, "\r\n") != 0) {
      continue;
    }
    const auto digit = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
    if (std::all_of(text.begin() + static_cast<std::ptrdiff_t>(place),
                    text.begin() + static_cast<std::ptrdiff_t>(place + 8), digit)) {
      text.replace(place, 8, "XXXXXXXX");
    }
  }
  return text;
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

std::vector<std::string> TemporaryDirectory::entries() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string TemporaryDirectory::read(const std::string& name) const {
  std::ifstream file(path_ + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string dialogue_transcript(int lambda, int block_length, std::size_t count) {
  const std::string lines[] = {"\n",
                               "Enter population size (at most 1000000):\n",
                               "Enter allele mutation probability:\n",
                               "Enter block length (at most 300):\n",
                               "how many block positions with two options acceptable (at most " +
                                   std::to_string(block_length) + "):\n",
                               "The number of blocks l (at most " +
                                   (block_length == 0 ? "" : std::to_string(300 / block_length)) +
                                   "):\n",
                               "The final iteration number:\n",
                               "The number of generations in one step in the output:\n",
                               "Enter parameter mu (at most " + std::to_string(lambda) + "):\n",
                               "Output file name:\n"};
  std::string text;
  for (std::size_t i = 0; i <= count && i < std::size(lines); ++i) text += lines[i];
  return text;
}

std::string masked_stop_report(int error_number) {
  char line[40];
  std::snprintf(line, sizeof line, "Runtime error %3d at XXXXXXXX\r\n", error_number);
  return line;
}

}  // namespace blocklevels::testing
