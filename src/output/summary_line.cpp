#include "output/summary_line.hpp"

#include <cmath>
#include <cstdio>

#include "output/write_statement.hpp"
#include "text/double_text.hpp"

namespace blocklevels {
namespace {

// A number, or "nan" where there is none (a half-width of one run).
void append_number(std::string& line, double v) {
  if (v == v) {
    append_shortest(line, v);
  } else {
    line += "nan";
  }
}

void append_half_width(std::string& line, double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2g", v);
  line += v == v ? text : "nan";
}

void append_estimate(std::string& line, const simulation::Estimate& e) {
  append_number(line, e.mean);
  line += "+-";
  append_half_width(line, e.half_width);
}

// The simulated quantity of a search among a report's estimates.
simulation::Estimate estimate_of(const Quantity& q, const SimulationReport& r, std::int32_t l) {
  const std::int32_t level = q.level_for(l);
  return level == 0 ? r.level : r.fractions[static_cast<std::size_t>(level - 1)];
}

}  // namespace

SummaryLines::SummaryLines(runtime::OutputStream& out, Progress& progress,
                           const ParameterDescription* searched, const Condition* where)
    : out_(out), progress_(progress), searched_(searched), where_(where) {}

void SummaryLines::begin_point(const Point& point, std::size_t) {
  point_ = point;
  last_model_.reset();
  simulated_level_.reset();
  hitting_.reset();
  simulated_hitting_.reset();
  found_.clear();
  searched_none_ = false;
  status_ = 0;
}

void SummaryLines::take(const Result& result) {
  const ResultValue& v = result.value;
  if (const auto* m = std::get_if<ModelReport>(&v)) {
    last_model_ = *m;
  } else if (const auto* s = std::get_if<SimulationReport>(&v)) {
    if (!found_.empty()) {
      found_.back().simulated = estimate_of(where_->quantity, *s, result.point.p.blocks);
    } else {
      simulated_level_ = s->level;
    }
  } else if (const auto* h = std::get_if<ModelHitting>(&v)) {
    hitting_ = h->t;
  } else if (const auto* hs = std::get_if<HittingSummary>(&v)) {
    simulated_hitting_ = hs->summary;
  } else if (const auto* t = std::get_if<Threshold>(&v)) {
    if (t->found) {
      found_.push_back({parameter_text(result.point, *searched_), std::nullopt});
    } else {
      searched_none_ = true;
    }
  } else if (const auto* stopped = std::get_if<Stopped>(&v)) {
    status_ = stopped->status;
  }
}

void SummaryLines::end_point() {
  std::string line = describe_point(point_, searched_);
  if (status_ != 0) {
    line += " status=" + std::to_string(status_);
  } else if (searched_ != nullptr) {
    const std::string name(searched_->name);
    if (searched_none_) line += " " + name + "=none";
    for (const Found& found : found_) {
      line += " " + name + "=" + found.value;
      if (!found.simulated) continue;
      line += " simulated_" + where_->quantity.name() + "=";
      append_estimate(line, *found.simulated);
    }
  } else if (last_model_) {
    const std::int32_t l = point_.p.blocks;
    line += " t=" + std::to_string(last_model_->t) + " mean_level=";
    append_shortest(line, sum_in_level_order(last_model_->tail));
    for (std::int32_t n = 0; n < 3 && n < l; ++n) {
      line += " X" + std::to_string(l - n) + "=";
      append_shortest(line, last_model_->tail[static_cast<std::size_t>(l - n - 1)]);
    }
    if (simulated_level_) {
      line += " simulated_mean_level=";
      append_estimate(line, *simulated_level_);
    }
    if (hitting_) line += " hitting_t=" + (*hitting_ ? std::to_string(**hitting_) : "never");
    if (simulated_hitting_) {
      // The mean over the runs that reached the value, and how many never did.
      line += " simulated_hitting_t=";
      append_estimate(line, {simulated_hitting_->mean, simulated_hitting_->half_width});
      line += " never=";
      append_number(line, static_cast<double>(simulated_hitting_->never));
    }
  }
  line += '\n';
  progress_.clear();
  write_line(out_, line);
}

}  // namespace blocklevels
