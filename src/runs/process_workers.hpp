// Points run in processes of their own: a point that fails (an overflow, a
// trap, memory) ends only its own process, with its own x87 state, and the
// study goes on. Each child writes its results as records into an unnamed
// file that the study reads once the point's turn has come, and how far it
// has come into a pipe, whose end tells the study that the point has ended.
// The poll list holds the running points only, and changes by one entry as
// a point starts or ends.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "points/point_run.hpp"
#include "runs/point_records.hpp"
#include "runs/point_workers.hpp"
#include "runtime/stop_report.hpp"

namespace blocklevels {

// What every point's process does besides its point's work.
struct ProcessSettings {
  bool console_lines = false;  // the dialogue's console lines on standard output
  int report_fd = -1;  // the report file (or standard output): header, opening and report lines
  // How a trap in a point's process is said (the study's process says the rest).
  runtime::StopStyle stop_style = runtime::StopStyle::silent;
  int jobs = 1;  // the machine's share: a point's simulated runs take jobs / running threads
  std::string records_directory;  // where the records files go ("": TMPDIR)
};

// A file for a point's records (unnamed: it goes when closed), in
// `directory` (the table's) when it can be made there, else in TMPDIR (or
// /tmp). Throws Failure naming the place and the reason when neither can.
int records_file(const std::string& directory);
// Makes and closes one, so that a study that could not keep its points'
// results is refused before anything runs.
void check_records_place(const std::string& directory);

class ProcessWorkers final : public PointWorkers {
 public:
  // `points` and `work` (one per point) outlive the workers. `wake` is the
  // descriptor an interrupt makes readable, polled beside the points, as is
  // `news` when given (other workers' news: wait() returns when it is
  // readable, with the processes' events only).
  ProcessWorkers(const std::vector<const Point*>& points, const std::vector<PointWork>& work,
                 const ProcessSettings& settings, int wake, int news = -1);
  ~ProcessWorkers() override;

  void start(std::size_t index, std::size_t running) override;
  std::vector<WorkerEvent> wait(std::optional<std::chrono::milliseconds> timeout) override;
  void results(std::size_t index, const WorkerEvent& end, ResultSink& sink) override;
  std::vector<WorkerEvent> end_all() override;
  void discard(std::size_t index) override;

 private:
  struct Running {
    std::size_t index;
    pid_t pid;
    records::Reader progress;  // holds a progress record until it is whole
  };
  // Reads what a running point sent; true once its pipe has closed.
  bool receive(std::size_t slot, std::vector<WorkerEvent>& events);
  WorkerEvent reap(std::size_t slot);
  void remove(std::size_t slot);

  const std::vector<const Point*>& points_;
  const std::vector<PointWork>& work_;
  ProcessSettings settings_;
  int wake_;
  // The running points and their pipes: polls_[slot + first_] is
  // running_[slot]'s, after the wake and news descriptors.
  std::vector<Running> running_;
  std::vector<pollfd> polls_;
  std::size_t first_;
  std::vector<int> records_fds_;  // per point: its records file, -1 when none is open
};

}  // namespace blocklevels
