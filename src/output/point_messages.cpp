#include "output/point_messages.hpp"

#include <cstdio>

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

// "a mean of 0.108 +- 0.0033 where the model gives 0.244".
std::string compared(const ModelCheck& c) {
  char text[160];
  if (c.equal_runs) {
    std::snprintf(text, sizeof text, "every run gave %.6g where the model gives %.6g",
                  c.simulated.mean, c.model_value);
  } else {
    std::snprintf(text, sizeof text, "a mean of %.6g +- %.2g where the model gives %.6g",
                  c.simulated.mean, c.simulated.half_width, c.model_value);
  }
  return text;
}

// The warning of a model check beyond kModelCheckWarning: where, by how
// much, which model, and what may serve instead. With blocks of one
// position the level model is the infinite population's limit, so a
// departure is the finite population's.
std::string check_warning(const Point& point, const ModelCheck& c) {
  const bool level = point.p.model == ModelKind::level;
  char distance[32];
  std::snprintf(distance, sizeof distance, "%.3g", c.distance);
  std::string words =
      describe_point(point) +
      ": the simulation departs from the model (model=" + (level ? "level" : "block-state") +
      "): " + checked_quantity(c) + " at t=" + std::to_string(c.t) + ", " + compared(c) + ", " +
      distance +
      (c.equal_runs ? " times the least half-width the runs can show" : " half-widths apart");
  if (level && point.p.block_length > 1) {
    words +=
        "; the level model takes an incomplete block to lack one allele: --model "
        "block-state follows the blocks' states, or the simulated values may serve";
  } else {
    words += "; the simulated values may serve";
  }
  return words;
}

}  // namespace

PointMessages::PointMessages(Progress& progress, bool sweep, const ThresholdSearch* search,
                             std::string range)
    : progress_(progress), sweep_(sweep), search_(search), range_(std::move(range)) {}

void PointMessages::begin_point(const Point& point, std::size_t) {
  point_ = point;
  model_.clear();
  simulated_.clear();
  simulated_search_ = false;
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
  if (const auto* checked = std::get_if<ModelChecked>(&result.value)) {
    if (!check_warns(checked->check)) return;
    flush_summaries();
    progress_.clear();
    runtime::say(check_warning(result.point, checked->check));
    return;
  }
  if (const auto* t = std::get_if<Threshold>(&result.value)) {
    if (t->found) {
      const long double v = parameter_value(result.point.p, *search_->parameter);
      model_.push_back({v, v, v, t->direction});
    } else {
      say_not_crossed(search_->condition.quantity.name(), grid_checked(*search_));
    }
  } else if (const auto* st = std::get_if<SimulatedThreshold>(&result.value)) {
    simulated_search_ = true;
    if (st->found) {
      simulated_.push_back({parameter_value(result.point.p, *search_->parameter), st->lower,
                            st->upper, st->direction});
    } else {
      say_not_crossed("the simulated " + search_->condition.quantity.name(),
                      grid_checked(simulated_grid_search(*search_)));
    }
  }
}

void PointMessages::say_not_crossed(const std::string& what, const std::string& grid) {
  flush_summaries();
  progress_.clear();
  const std::size_t colon = range_.find(':');
  const Condition& where = search_->condition;
  runtime::say(describe_point(point_, search_->parameter) + ": " + what + " does not cross " +
               where.value_text + " for " + std::string(search_->parameter->name) + " in [" +
               range_.substr(0, colon) + ", " + range_.substr(colon + 1) + "]: " + grid);
}

// A model's crossing that no simulated interval of its direction holds is
// an answer the simulated algorithm contradicts: said, with what may serve.
void PointMessages::end_point() {
  if (!simulated_search_) return;
  for (const Answer& m : model_) {
    bool held = false;
    for (const Answer& s : simulated_) {
      held = held || (s.direction == m.direction && s.lower <= m.value && m.value <= s.upper);
    }
    if (held) continue;
    char value[32];
    std::snprintf(value, sizeof value, "%.6Lg", m.value);
    flush_summaries();
    progress_.clear();
    const std::string name(search_->parameter->name);
    runtime::say(describe_point(point_, search_->parameter) + ": the model's crossing at " + name +
                 "=" + value + " (" + std::string(direction_name(m.direction)) +
                 ") lies outside every simulated interval of that direction (model=" +
                 (point_.p.model == ModelKind::level ? "level" : "block-state") +
                 "): the simulated answer (simulated_" + name + ") may serve");
  }
}

}  // namespace blocklevels
