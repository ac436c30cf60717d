#include "output/point_messages.hpp"

#include "arithmetic/stop_numbers.hpp"
#include "runtime/run_streams.hpp"
#include "runtime/standard_error.hpp"
#include "runtime/stop_report.hpp"

namespace blocklevels {
namespace {

std::string status_words(int status, bool by_signal) {
  if (by_signal) return "ended by signal " + std::to_string(status - 128);
  return "stopped: " + std::string(stop_meaning(status)) + " (status " + std::to_string(status) +
         ")";
}

// Standard output's summary lines so far go out before a message on
// standard error, so that where both reach one file or pipe no line is cut
// by the other (the console writes whole buffers, not lines).
void flush_summaries() {
  runtime::console().flush();
}

}  // namespace

PointMessages::PointMessages(Progress& progress, bool sweep, const ThresholdSearch* search,
                             std::string range)
    : progress_(progress), sweep_(sweep), search_(search), range_(std::move(range)) {}

void PointMessages::begin_point(const Point& point, std::size_t) {
  point_ = point;
}

void PointMessages::take(const Result& result) {
  if (const auto* stopped = std::get_if<Stopped>(&result.value)) {
    if (first_failure_ == 0) first_failure_ = stopped->status;
    flush_summaries();
    progress_.clear();
    if (sweep_ || stopped->by_signal) {
      runtime::say(describe_point(point_) + ": " +
                   status_words(stopped->status, stopped->by_signal));
    } else if (stopped->place) {
      // A single run's stop, said as the dialogue's process would say it.
      char words[160];
      runtime::write_standard_error(
          {words,
           runtime::format_stop_words(words, sizeof words, stopped->status, *stopped->place)});
    }
    return;
  }
  const auto* threshold = std::get_if<Threshold>(&result.value);
  if (threshold == nullptr || threshold->found) return;
  flush_summaries();
  progress_.clear();
  const std::size_t colon = range_.find(':');
  const Condition& where = search_->condition;
  runtime::say(describe_point(point_, search_->parameter) + ": " + where.quantity.name() +
               " does not cross " + where.value_text + " for " +
               std::string(search_->parameter->name) + " in [" + range_.substr(0, colon) + ", " +
               range_.substr(colon + 1) + "]: " + grid_checked(*search_));
}

}  // namespace blocklevels
