#include "output/output_files.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <utility>
#include <vector>

#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "errors/failure.hpp"
#include "runtime/descriptors.hpp"
#include "runtime/draft_file.hpp"
#include "runtime/os_error.hpp"
#include "runtime/signals.hpp"
#include "runtime/standard_streams.hpp"

namespace blocklevels {
namespace {

// The process's file mode creation mask (read by setting it, then put
// back).
mode_t current_umask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

using runtime::above_standard;

std::string quoted(const std::string& name) {
  return "'" + name + "'";
}

// A file's identity: its device and inode, or, for one that does not exist
// yet, its directory's and its name there.
struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
  std::string name;  // "" for an existing file
  bool operator==(const Identity&) const = default;
};

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows a symbolic link that names a file not there yet, as open() with
// O_CREAT would, to the path it creates.
std::string dangling_target(std::string path) {
  for (int depth = 0; depth < 40; ++depth) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    std::vector<char> target(static_cast<std::size_t>(info.st_size) + 1);
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0) return path;
    const std::string to(target.data(), static_cast<std::size_t>(n));
    path = to.starts_with("/") ? to : directory_of(path) + "/" + to;
  }
  return path;
}

// Checks one output's place; its identity. `role` names the option.
Identity check_place(const std::string& role, const std::string& name, bool force) {
  struct stat info {};
  if (::stat(name.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      throw Failure(kAccessDenied, role + ": " + quoted(name) + " is a directory");
    }
    if (!force) throw Failure(kOutputRefused, quoted(name) + " exists; --force replaces it");
    if (::access(name.c_str(), W_OK) != 0) {
      throw Failure(runtime::os_error_number(errno),
                    role + ": " + quoted(name) + " cannot be written: " + std::strerror(errno));
    }
    return {info.st_dev, info.st_ino, ""};
  }
  if (errno != ENOENT) {
    throw Failure(runtime::os_error_number(errno),
                  role + ": " + quoted(name) + ": " + std::strerror(errno));
  }
  const std::string created = dangling_target(name);
  const std::string directory = directory_of(created);
  struct stat place {};
  if (::stat(directory.c_str(), &place) != 0 || !S_ISDIR(place.st_mode)) {
    throw Failure(kPathNotFound, role + ": the directory of " + quoted(name) + " does not exist");
  }
  if (::access(directory.c_str(), W_OK | X_OK) != 0) {
    throw Failure(kAccessDenied,
                  role + ": " + quoted(name) + " cannot be created: " + std::strerror(errno));
  }
  return {place.st_dev, place.st_ino, base_of(created)};
}

// Standard output or error sent into a file the study writes or reads
// (`--csv s.csv > s.csv`): refused before anything is written.
void refuse_standard_stream(const Identity& identity, const std::string& name,
                            const std::string& what) {
  if (!identity.name.empty()) return;  // not there yet: no stream is it
  if (const auto stream = runtime::standard_stream_on(identity.device, identity.inode)) {
    throw Failure(kBadUsage, std::string(*stream) + " is " + quoted(name) + ", " + what +
                                 ": the two would overwrite each other; send " +
                                 std::string(*stream) + " elsewhere");
  }
}

[[noreturn]] void cannot_create(const std::string& name) {
  const int error = errno;
  throw Failure(runtime::os_error_number(error),
                "cannot create " + quoted(name) + ": " + std::strerror(error));
}

// Opens for writing, locked; emptied unless `keep`. A file another study
// holds is refused.
int open_locked(const std::string& name, bool force, bool keep) {
  const int mode = O_RDWR | O_CREAT | O_CLOEXEC | (force || keep ? 0 : O_EXCL);
  const int fd = above_standard(::open(name.c_str(), mode, 0666));
  if (fd < 0) {
    if (errno == EEXIST) {
      throw Failure(kOutputRefused, quoted(name) + " exists; --force replaces it");
    }
    cannot_create(name);
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    throw Failure(kOutputRefused, quoted(name) + " is being written by another study; refused");
  }
  // Only a regular file is emptied: a device (/dev/null, a terminal) or a
  // pipe is written as it is.
  struct stat info {};
  if (!keep && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::ftruncate(fd, 0) != 0) {
    cannot_create(name);
  }
  return fd;
}

}  // namespace

OutputFiles::OutputFiles(const Study& study, const std::string& input) : study_(study) {
  struct Output {
    std::string role;
    const std::string* name;
  };
  const Output outputs[] = {
      {"--output", &study.report_file}, {"--csv", &study.csv}, {"--plot", &study.plot}};
  std::vector<std::pair<Identity, const Output*>> seen;
  const Output read = {"TABLE", &input};
  struct stat input_info {};
  if (!input.empty() && ::stat(input.c_str(), &input_info) == 0) {
    seen.emplace_back(Identity{input_info.st_dev, input_info.st_ino, ""}, &read);
    refuse_standard_stream(seen.back().first, input, "the table read");
  }
  const Output* on_standard_output = nullptr;
  for (const Output& output : outputs) {
    if (output.name->empty()) continue;
    if (*output.name == "-") {
      if (on_standard_output != nullptr) {
        throw Failure(kBadUsage, "standard output is named for " + on_standard_output->role +
                                     " and " + output.role);
      }
      on_standard_output = &output;
      continue;
    }
    // A resumed table is kept, so that it must exist is no refusal.
    const bool force = study.force || (study.resume && output.name == &study.csv);
    const Identity identity = check_place(output.role, *output.name, force);
    refuse_standard_stream(identity, *output.name, "which " + output.role + " writes");
    for (const auto& [other, by] : seen) {
      if (other == identity) {
        throw Failure(kBadUsage, quoted(*output.name) + " (" + output.role + ") and " +
                                     quoted(*by->name) + " (" + by->role + ") are one file");
      }
    }
    seen.emplace_back(identity, &output);
  }
}

OutputFiles::~OutputFiles() {
  if (!table_draft_.empty()) ::unlinkat(directory_fd_, table_draft_.c_str(), 0);
  for (const int fd : {report_fd_, table_fd_, old_table_fd_, directory_fd_}) {
    if (fd >= 0) ::close(fd);
  }
  if (!figure_draft_.empty()) {
    ::unlink(figure_draft_.c_str());
    runtime::release_draft_file();
  }
}

void OutputFiles::open(bool resume) {
  if (!study_.report_file.empty() && study_.report_file != "-") {
    report_fd_ = open_locked(study_.report_file, study_.force, false);
  }
  if (study_.csv.empty() || study_.csv == "-") return;
  struct stat info {};
  if (!resume || ::stat(study_.csv.c_str(), &info) != 0) {
    table_fd_ = open_locked(study_.csv, study_.force || resume, false);
    return;
  }
  old_table_fd_ = open_locked(study_.csv, true, true);
  open_resumed_place();
  table_fd_ = create_table_draft();
}

// The directory of the table resumed, held open, and its name there: the
// file just opened, checked to be it. The resumed table replaces that name
// in that directory; no name is followed again.
void OutputFiles::open_resumed_place() {
  const std::string target = dangling_target(study_.csv);
  directory_fd_ = runtime::above_standard(
      ::open(directory_of(target).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (directory_fd_ < 0) cannot_create(study_.csv);
  table_name_ = base_of(target);
  if (!still_the_table()) {
    throw Failure(kOutputRefused,
                  quoted(study_.csv) + " changed while it was opened; refused, left as it is");
  }
}

// Whether the table's name in its directory is still the file resumed.
bool OutputFiles::still_the_table() const {
  struct stat named {
  }, opened{};
  return ::fstatat(directory_fd_, table_name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         ::fstat(old_table_fd_, &opened) == 0 && S_ISREG(named.st_mode) &&
         named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

// A new file beside the table, "NAME.resumed-XXXXXX", the umask applied.
int OutputFiles::create_table_draft() {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::uint64_t seed = static_cast<std::uint64_t>(::getpid()) * 0x9e3779b97f4a7c15u ^
                       static_cast<std::uint64_t>(::time(nullptr));
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = table_name_ + ".resumed-";
    for (int n = 0; n < 6; ++n) {
      seed = seed * 6364136223846793005u + 1442695040888963407u;
      name += kLetters[(seed >> 33) % (sizeof kLetters - 1)];
    }
    const int fd = runtime::above_standard(::openat(
        directory_fd_, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd >= 0) {
      table_draft_ = name;
      return fd;
    }
    if (errno != EEXIST) break;
  }
  cannot_create(study_.csv + ".resumed-XXXXXX");
}

void OutputFiles::close_table() {
  if (table_fd_ < 0) return;
  const int fd = std::exchange(table_fd_, -1);
  if (::close(fd) != 0) throw_stop(runtime::os_error_number(errno));
}

void OutputFiles::replace_table() {
  if (table_draft_.empty()) return;
  // A name swapped for another file (or a link) while the study ran is
  // not replaced: the resumed table stays beside it under its own name.
  if (!still_the_table()) {
    const std::string kept = table_draft_;
    table_draft_.clear();
    throw Failure(kOutputRefused, quoted(study_.csv) +
                                      " was replaced by another file while the study resumed "
                                      "it; it is left as it is, and the resumed table is '" +
                                      directory_of(dangling_target(study_.csv)) + "/" + kept + "'");
  }
  if (::renameat(directory_fd_, table_draft_.c_str(), directory_fd_, table_name_.c_str()) != 0) {
    cannot_create(study_.csv);
  }
  table_draft_.clear();
}

void OutputFiles::cut_table_to_whole_rows() {
  if (table_fd_ < 0) return;
  // Everything before the last LF on disk was written as whole rows.
  off_t end = ::lseek(table_fd_, 0, SEEK_END);
  char chunk[4096];
  while (end > 0) {
    const off_t from =
        end > static_cast<off_t>(sizeof chunk) ? end - static_cast<off_t>(sizeof chunk) : 0;
    const ssize_t n = ::pread(table_fd_, chunk, static_cast<std::size_t>(end - from), from);
    if (n <= 0) return;
    for (ssize_t i = n; i-- > 0;) {
      if (chunk[i] == '\n') {
        if (::ftruncate(table_fd_, from + i + 1) != 0) return;
        return;
      }
    }
    end = from;
  }
  if (::ftruncate(table_fd_, 0) != 0) return;
}

int OutputFiles::create_figure_draft() {
  const std::string target = dangling_target(study_.plot);
  std::string draft = directory_of(target) + "/." + base_of(target) + ".XXXXXX";
  // An interrupt between the draft's creation and its recording would end
  // the process with the draft left behind: they are held back until the
  // draft is recorded (the interrupt path then removes it).
  sigset_t interrupts, before;
  ::sigemptyset(&interrupts);
  for (const int signal : runtime::kInterrupts) ::sigaddset(&interrupts, signal);
  ::pthread_sigmask(SIG_BLOCK, &interrupts, &before);
  const int fd = above_standard(::mkostemp(draft.data(), O_CLOEXEC));
  if (fd >= 0) runtime::hold_draft_file(draft);
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (fd < 0) cannot_create(study_.plot);
  figure_draft_ = draft;
  // mkostemp creates the file for its owner alone; a figure has the mode
  // any new file gets.
  ::fchmod(fd, 0666 & ~current_umask());
  return fd;
}

void OutputFiles::place_figure() {
  if (::rename(figure_draft_.c_str(), dangling_target(study_.plot).c_str()) != 0) {
    cannot_create(study_.plot);
  }
  runtime::release_draft_file();
  figure_draft_.clear();
}

}  // namespace blocklevels
