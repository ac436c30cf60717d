#include "runs/study_workers.hpp"

#include <algorithm>

#include "study/study_memory.hpp"

namespace blocklevels {
namespace {

constexpr std::uint64_t kAll = ~std::uint64_t{0};

std::uint64_t saturated_product(std::uint64_t a, std::uint64_t b) {
  return a != 0 && b > kAll / a ? kAll : a * b;
}

std::uint64_t saturated_sum(std::uint64_t a, std::uint64_t b) {
  return b > kAll - a ? kAll : a + b;
}

}  // namespace

std::uint64_t point_bytes(const PointParameters& p, std::int32_t runs, unsigned threads) {
  const auto side = static_cast<std::uint64_t>(std::max(p.blocks, 0)) + 1;
  std::uint64_t bytes = saturated_product(saturated_product(side, side), 32);
  if (runs > 0) {
    const std::uint64_t workers =
        std::min<std::uint64_t>(std::max(threads, 1U), static_cast<std::uint64_t>(runs));
    bytes = saturated_sum(bytes, saturated_product(simulation_bytes(p), workers));
  }
  return bytes;
}

std::uint64_t result_bytes(const PointParameters& p, const PointWork& work) {
  const auto side = static_cast<std::uint64_t>(std::max(p.blocks, 0)) + 1;
  const auto reports = static_cast<std::uint64_t>(std::max<std::int64_t>(report_count(p), 1));
  std::uint64_t bytes = 0;
  if (work.model && work.find == nullptr) {
    bytes = saturated_product(work.every_report ? reports : 1, saturated_sum(side * 8, 128));
  }
  if (work.find != nullptr) {
    bytes =
        saturated_sum(bytes, saturated_product(static_cast<std::uint64_t>(work.find->grid), 32));
  }
  if (work.runs > 0) {
    bytes = saturated_sum(bytes, saturated_product(reports, saturated_sum(side * 32, 128)));
  }
  if (work.hitting_runs) {
    bytes = saturated_sum(bytes, saturated_product(static_cast<std::uint64_t>(work.runs), 128));
  }
  return bytes;
}

long double point_steps(const PointParameters& p, const PointWork& work) {
  const long double side = static_cast<long double>(p.blocks) + 1;
  const long double generations = static_cast<long double>(p.final_iteration);
  long double steps = 0;
  if (work.model || work.find != nullptr) {
    steps = side * side * (static_cast<long double>(p.block_length) + 1 + generations);
    if (work.find != nullptr) steps *= 2 * static_cast<long double>(work.find->grid);
  }
  const long double runs = static_cast<long double>(work.runs) /
                           static_cast<long double>(std::max<std::uint64_t>(work.run_stride, 1));
  return steps + runs * generations * static_cast<long double>(p.lambda) * side;
}

bool runs_on_thread(const PointParameters& p, const PointWork& work, bool single_point, int jobs,
                    std::uint64_t room) {
  if (single_point || p.model != ModelKind::level) return false;
  if (!(point_steps(p, work) <= kThreadPointSteps)) return false;
  if (result_bytes(p, work) > kThreadResultBytes) return false;
  const auto share = static_cast<std::uint64_t>(std::max(jobs, 1));
  const std::uint64_t bytes = point_bytes(p, work.runs, static_cast<unsigned>(share));
  return bytes <= kThreadPointBytes && saturated_product(bytes, share) <= room / 2;
}

StudyWorkers::StudyWorkers(const std::vector<const Point*>& points,
                           const std::vector<PointWork>& work, const ProcessSettings& settings,
                           int wake, std::vector<bool> on_thread, ModelSource* models)
    : on_thread_(std::move(on_thread)),
      threads_(points, work, settings.jobs, models),
      processes_(points, work, settings, wake, threads_.news_fd()) {}

void StudyWorkers::start(std::size_t index, std::size_t running) {
  if (on_thread_[index]) {
    threads_.start(index, running);
  } else {
    processes_.start(index, running);
  }
}

std::vector<WorkerEvent> StudyWorkers::wait(std::optional<std::chrono::milliseconds> timeout) {
  // The threads' pipe is polled beside the processes; news it does not
  // signal yet is taken all the same.
  std::vector<WorkerEvent> events = processes_.wait(timeout);
  std::vector<WorkerEvent> news = threads_.news();
  events.insert(events.end(), news.begin(), news.end());
  return events;
}

void StudyWorkers::results(std::size_t index, const WorkerEvent& end, ResultSink& sink) {
  if (on_thread_[index]) {
    threads_.results(index, end, sink);
  } else {
    processes_.results(index, end, sink);
  }
}

std::vector<WorkerEvent> StudyWorkers::end_all() {
  std::vector<WorkerEvent> events = processes_.end_all();
  std::vector<WorkerEvent> ended = threads_.end_all();
  events.insert(events.end(), ended.begin(), ended.end());
  return events;
}

void StudyWorkers::discard(std::size_t index) {
  if (on_thread_[index]) {
    threads_.discard(index);
  } else {
    processes_.discard(index);
  }
}

}  // namespace blocklevels
