// Runs a command with standard input and output redirected to files and
// prints, on one line: wall-clock milliseconds, user and system CPU
// milliseconds, peak resident set in KiB and the exit status.
//
//   blocklevels_timed_run INPUT OUTPUT COMMAND [ARGUMENT...]
//
// OUTPUT is created or truncated (or opened as it is, for /dev/null).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace {

double milliseconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) * 1e-3;
}

double seconds_now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s INPUT OUTPUT COMMAND [ARGUMENT...]\n", argv[0]);
    return 2;
  }
  const double start = seconds_now();
  const pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    return 2;
  }
  if (child == 0) {
    const int in = open(argv[1], O_RDONLY | O_CLOEXEC);
    const int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (in < 0 || out < 0 || dup2(in, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0) {
      std::perror("redirect");
      _exit(127);
    }
    execv(argv[3], argv + 3);
    std::perror("execv");
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) {
    std::perror("wait4");
    return 2;
  }
  const double wall = (seconds_now() - start) * 1e3;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("%.3f %.3f %.3f %ld %d\n", wall, milliseconds(usage.ru_utime),
              milliseconds(usage.ru_stime), usage.ru_maxrss, code);
  return 0;
}
