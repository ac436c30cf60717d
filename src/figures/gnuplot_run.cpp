// gnuplot as a child process: the script on its standard input, the figure
// on its standard output, its messages through a pipe.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "errors/failure.hpp"
#include "figures/curves_script.hpp"
#include "figures/levels_script.hpp"
#include "figures/plot.hpp"
#include "runtime/child_processes.hpp"
#include "runtime/deferred_interrupts.hpp"
#include "runtime/descriptors.hpp"
#include "runtime/standard_error.hpp"
#include "runtime/stop_report.hpp"

namespace blocklevels {
namespace {

[[noreturn]] void fail(const std::string& what) {
  throw Failure(kOutputRefused, "--plot: " + what);
}

bool executable(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

// An interrupt the process deferred (a study's) ends gnuplot (when it
// still runs, `gnuplot` > 0), then the process by that signal; the
// interrupt path removes the figure's draft.
void end_if_interrupted(pid_t gnuplot) {
  const int signal = runtime::pending_interrupt();
  if (signal == 0) return;
  if (gnuplot > 0) ::kill(gnuplot, SIGTERM);
  runtime::end_by_signal(signal);
}

// gnuplot reading the script from `script`, writing the figure to `figure`
// and its messages to `errors`; with its default settings (-d), so that no
// initialisation file changes the figure or names an output of its own.
pid_t start_gnuplot(const std::string& gnuplot, int script, int figure, int errors) {
  const pid_t pid = runtime::start_child_process();
  if (pid == 0) {
    ::dup2(script, STDIN_FILENO);
    ::dup2(figure, STDOUT_FILENO);
    ::dup2(errors, STDERR_FILENO);
    ::signal(SIGPIPE, SIG_DFL);
    ::execl(gnuplot.c_str(), "gnuplot", "-d", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

void write_all(int fd, const std::string& text, pid_t gnuplot) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) {
      end_if_interrupted(gnuplot);
      continue;
    }
    if (n <= 0) break;  // gnuplot went away: its status says why
    done += static_cast<std::size_t>(n);
  }
}

std::string read_all(int fd, pid_t gnuplot) {
  std::string text;
  char chunk[4096];
  for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) != 0;) {
    if (n < 0 && errno == EINTR) {
      end_if_interrupted(gnuplot);
      continue;
    }
    if (n < 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  return text;
}

}  // namespace

std::string find_gnuplot() {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  for (std::size_t from = 0; from <= dirs.size();) {
    std::size_t colon = dirs.find(':', from);
    if (colon == std::string::npos) colon = dirs.size();
    const std::string dir = dirs.substr(from, colon - from);
    const std::string candidate = (dir.empty() ? "." : dir) + "/gnuplot";
    if (executable(candidate)) return candidate;
    from = colon + 1;
  }
  return "";
}

std::string plot_script(const PlotRequest& request) {
  return request.kind == FigureKind::levels ? levels_script(request) : curves_script(request);
}

void draw_plot(const std::string& gnuplot, const PlotRequest& request, int figure) {
  int script_pipe[2], error_pipe[2];
  if (::pipe2(script_pipe, O_CLOEXEC) != 0 || ::pipe2(error_pipe, O_CLOEXEC) != 0) {
    fail(std::strerror(errno));
  }
  // Above the standard descriptors, so that the moves in the child cannot
  // clobber one another when the caller has closed a standard stream.
  for (int* fd : {&script_pipe[0], &script_pipe[1], &error_pipe[0], &error_pipe[1]}) {
    *fd = runtime::above_standard(*fd);
    if (*fd < 0) fail(std::strerror(errno));
  }
  const std::string script = plot_script(request);
  const pid_t pid = start_gnuplot(gnuplot, script_pipe[0], figure, error_pipe[1]);
  ::close(script_pipe[0]);
  ::close(error_pipe[1]);
  end_if_interrupted(pid);
  write_all(script_pipe[1], script, pid);
  ::close(script_pipe[1]);
  const std::string errors = read_all(error_pipe[0], pid);
  ::close(error_pipe[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  runtime::remove_child_process(pid);
  end_if_interrupted(0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fail("gnuplot failed" + (errors.empty() ? std::string() : ": " + errors));
  }
  // A figure drawn with warnings is kept, and the warnings said.
  if (!errors.empty())
    runtime::say("--plot: gnuplot: " + errors.substr(0, errors.find_last_not_of('\n') + 1));
}

}  // namespace blocklevels
