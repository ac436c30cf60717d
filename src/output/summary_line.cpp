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

// A hitting time of the runs, or what stands in its place: "not_reached"
// when fewer than that share of the runs reached the value.
std::string generation(const std::optional<std::int64_t>& t) {
  return t ? std::to_string(*t) : "not_reached";
}

// The runs' hitting times, censored at the final generation:
// " simulated_median_t=41 simulated_quartiles_t=35..52 reached=24/30
// success=0.8[0.63,0.9] mean_t_to_final=47.2 evaluations=1.2e+05".
void append_hitting(std::string& line, const simulation::HittingSummary& s) {
  line += " simulated_median_t=" + generation(s.median);
  line += " simulated_quartiles_t=" + generation(s.lower_quartile) + ".." +
          generation(s.upper_quartile);
  line += " reached=" + std::to_string(s.reached) + "/" + std::to_string(s.runs);
  char text[96];
  std::snprintf(text, sizeof text, " success=%.2g[%.2g,%.2g]", s.success_rate, s.success_low,
                s.success_high);
  line += text;
  line += " mean_t_to_final=";
  append_shortest(line, s.restricted_mean);
  line += " evaluations=";
  if (s.evaluations) {
    std::snprintf(text, sizeof text, "%.3g", *s.evaluations);
    line += text;
  } else {
    line += "none";
  }
}

// " model_vs_simulation=41.2 at_t=8 quantity=X2": three significant digits,
// enough to tell 2.9 from 3.1.
void append_check(std::string& line, const ModelCheck& check) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", check.distance);
  line += " model_vs_simulation=";
  line += text;
  line += " at_t=" + std::to_string(check.t) + " quantity=" + checked_quantity(check);
  if (check.equal_runs) line += " equal_runs=yes";
}

}  // namespace

SummaryLines::SummaryLines(runtime::OutputStream& out, Progress& progress,
                           const ParameterDescription* searched, const Condition* where)
    : out_(out), progress_(progress), searched_(searched), where_(where) {}

void SummaryLines::begin_point(const Point& point, std::size_t) {
  point_ = point;
  last_model_.reset();
  simulated_level_.reset();
  check_.reset();
  hitting_.reset();
  simulated_hitting_.reset();
  found_.clear();
  searched_none_ = false;
  simulated_found_.clear();
  in_simulated_ = false;
  status_ = 0;
}

void SummaryLines::take(const Result& result) {
  const ResultValue& v = result.value;
  if (const auto* m = std::get_if<ModelReport>(&v)) {
    last_model_ = *m;
  } else if (const auto* s = std::get_if<SimulationReport>(&v)) {
    if (in_simulated_) return;
    if (!found_.empty()) {
      found_.back().simulated = estimate_of(where_->quantity, *s, result.point.p.blocks);
    } else {
      simulated_level_ = s->level;
    }
  } else if (const auto* c = std::get_if<ModelChecked>(&v)) {
    check_ = c->check;
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
  } else if (const auto* st = std::get_if<SimulatedThreshold>(&v)) {
    in_simulated_ = true;
    simulated_found_ += " simulated_" + std::string(searched_->name) + "=";
    if (!st->found) {
      simulated_found_ += "none";
      return;
    }
    append_shortest(simulated_found_, static_cast<double>(st->lower));
    simulated_found_ += "..";
    append_shortest(simulated_found_, static_cast<double>(st->upper));
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
    line += simulated_found_;
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
    if (check_) append_check(line, *check_);
    if (hitting_) line += " hitting_t=" + (*hitting_ ? std::to_string(**hitting_) : "never");
    if (simulated_hitting_) append_hitting(line, *simulated_hitting_);
  }
  line += '\n';
  progress_.clear();
  write_line(out_, line);
}

}  // namespace blocklevels
