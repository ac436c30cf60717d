#include "tables/merge.hpp"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "output/table_reader.hpp"
#include "output/write_statement.hpp"
#include "parameters/parameter_table.hpp"
#include "errors/failure.hpp"
#include "runtime/run_streams.hpp"
#include "simulation/run_totals.hpp"
#include "command_line/arguments.hpp"

namespace blocklevels {
namespace {

[[noreturn]] void refuse(std::string message) {
  throw Failure(kBadUsage, std::move(message));
}

std::string quoted(const std::string& name) {
  return "'" + name + "'";
}

// One shard: its reader one row ahead, and what it has handed out.
class Shard {
 public:
  explicit Shard(const std::string& name) : reader_(std::make_unique<TableReader>(name)) {
    if (!advance() || ahead_.source != Source::shard) {
      refuse(quoted(name) + " is not a shard: its first row is not a shard row");
    }
    identity_ = ahead_;
    advance();
  }

  const std::string& name() const { return reader_->path(); }
  const TableRow& identity() const { return identity_; }
  const CsvTable& table() const { return reader_->table(); }

  // The next row, still unread; nothing once the shard_end row is reached.
  const TableRow* peek() const {
    return at_end_ || ahead_.source == Source::shard_end ? nullptr : &ahead_;
  }
  // Hands out the next row and reads the one after.
  TableRow take() {
    TableRow row = std::move(ahead_);
    ++rows_;
    advance();
    return row;
  }
  std::uint64_t points = 0;  // points begun so far

  // After the last point: the shard_end row must be there, agree with what
  // was read, and end the file.
  void finish() {
    if (at_end_) refuse(quoted(name()) + " is cut short: it has no shard_end row");
    if (ahead_.source != Source::shard_end) {
      refuse(quoted(name()) + " line " + std::to_string(reader_->line()) +
             ": a row after the study's last point");
    }
    if (ahead_.shard.k != identity_.shard.k || ahead_.shard.n != identity_.shard.n ||
        ahead_.simulation != identity_.simulation) {
      refuse(quoted(name()) + ": its shard_end row names another shard than its shard row");
    }
    if (ahead_.rows != rows_ || ahead_.points != points) {
      refuse(quoted(name()) + ": its shard_end row counts " + std::to_string(ahead_.points) +
             " points in " + std::to_string(ahead_.rows) + " rows, but it holds " +
             std::to_string(points) + " in " + std::to_string(rows_));
    }
    if (advance()) refuse(quoted(name()) + ": rows after its shard_end row");
  }

 private:
  bool advance() {
    at_end_ = !reader_->next(ahead_);
    if (!at_end_ && ahead_.source == Source::shard && identity_read_) {
      refuse(quoted(name()) + " line " + std::to_string(reader_->line()) + ": a second shard row");
    }
    identity_read_ = true;
    return !at_end_;
  }

  std::unique_ptr<TableReader> reader_;
  TableRow identity_;
  TableRow ahead_;
  bool at_end_ = false;
  bool identity_read_ = false;
  std::uint64_t rows_ = 0;
};

// Writes rows to standard output in the table's buffer.
class Output {
 public:
  explicit Output(const CsvTable& table) : table_(table) {
    runtime::table_file().open(STDOUT_FILENO, runtime::LineEnd::lf, false, kTableBufferSize);
    write_line(runtime::table_file(), table.header());
  }
  void row(const TableRow& row) {
    text_.clear();
    table_.append(text_, row);
    write_line(runtime::table_file(), text_);
  }
  void close() { close_stream(runtime::table_file()); }

 private:
  const CsvTable& table_;
  std::string text_;
};

std::string where(const Shard& shard) {
  return quoted(shard.name());
}

// A point's model rows from one shard: a stopped row alone, or a row for
// every report time in order. Returns the point.
Point take_model_rows(Shard& shard, Output& out, bool& stopped) {
  const TableRow* first = shard.peek();
  if (first == nullptr || first->source != Source::model) {
    refuse(where(shard) + " lacks the model rows of its next point");
  }
  const Point point = first->point;
  ++shard.points;
  if (!first->t) {
    stopped = true;
    out.row(shard.take());
    return point;
  }
  stopped = false;
  const std::int64_t reports = report_count(point.p);
  for (std::int64_t report = 0; report < reports; ++report) {
    const TableRow* row = shard.peek();
    if (row == nullptr || row->source != Source::model || !same_point(row->point, point) ||
        row->t != report_time(point.p, report)) {
      refuse(where(shard) + ": the model rows of " + describe_point(point) +
             " end or skip before t=" + std::to_string(report_time(point.p, report)));
    }
    out.row(shard.take());
  }
  return point;
}

// Whether three rows of sums (runs, sums, sums of squares; the level sum's
// field first, then X1..Xl) can come from runs at all: every runs field the
// same count; each run's level sum L is k_1 + ... + k_l with k_1 >= k_2 >= ...
// >= k_l, each k_j at most lambda, so the sums obey the same; and each sum of
// squares q of n values of sum s, each at most m, lies between s^2 / n and
// s m. An edited or garbled sum fails one of these but for rare edits.
bool sums_of_runs(const TableRow (&three)[3], const PointParameters& p) {
  using simulation::uint128;
  const std::vector<uint128>& runs = three[0].counts;
  const std::vector<uint128>& sums = three[1].counts;
  const std::vector<uint128>& squares = three[2].counts;
  const uint128 n = runs[0];
  if (n == 0 || n > UINT32_MAX) return false;
  uint128 level = 0;
  for (std::size_t j = 0; j < runs.size(); ++j) {
    const uint128 most =
        static_cast<uint128>(p.lambda) * (j == 0 ? static_cast<uint128>(p.blocks) : 1);
    // No product overflows: n < 2^32 and most < 2^42; a sum below 2^64 has
    // a square below 2^128, compared with q as q >= ceil(s^2 / n).
    if (runs[j] != n || sums[j] > UINT64_MAX || sums[j] > n * most || squares[j] > sums[j] * most) {
      return false;
    }
    const uint128 square = sums[j] * sums[j];
    if (squares[j] < square / n + (square % n != 0 ? 1 : 0)) return false;
    if (j >= 1) level += sums[j];
    if (j >= 2 && sums[j] > sums[j - 1]) return false;
  }
  return level == sums[0];
}

// The row's point with `searched` as in `point`.
bool same_but(const Point& row, const Point& point, const ParameterDescription& searched) {
  Point masked = row;
  set_parameter(masked, searched, parameter_value(point.p, searched),
                parameter_text(point, searched));
  return same_point(masked, point);
}

// A search's rows from one shard: its threshold rows in increasing order of
// the searched parameter, each crossing followed by its simulated rows; or
// its one row without a crossing.
void take_search_rows(Shard& shard, Output& out, const ParameterDescription& searched) {
  const Point point = shard.peek()->point;
  ++shard.points;
  bool crossing = shard.peek()->t.has_value();
  out.row(shard.take());
  long double last = parameter_value(point.p, searched);
  while (crossing) {
    for (const Source s : {Source::simulation, Source::simulation_ci95}) {
      const TableRow* row = shard.peek();
      if (row == nullptr || row->source != s || !same_but(row->point, point, searched)) break;
      out.row(shard.take());
    }
    const TableRow* next = shard.peek();
    crossing = next != nullptr && next->source == Source::threshold && next->t &&
               same_but(next->point, point, searched) &&
               parameter_value(next->point.p, searched) > last;
    if (!crossing) break;
    last = parameter_value(next->point.p, searched);
    out.row(shard.take());
  }
}

// A model sweep's shard K holds points K, K + N, ...: one machine's table
// is theirs taken in turn. So does a search's, simulated or not.
void merge_points(std::vector<Shard>& shards, Output& out, const ParameterDescription* searched) {
  const std::size_t n = shards.size();
  for (std::size_t i = 0;; ++i) {
    Shard& shard = shards[i % n];
    if (shard.peek() == nullptr) {
      // The study ends here: no later shard may hold another point.
      for (std::size_t k = 1; k < n; ++k) {
        if (shards[(i + k) % n].peek() != nullptr) {
          refuse(where(shards[(i + k) % n]) + " holds more points than " + where(shard) +
                 " allows for its place");
        }
      }
      break;
    }
    if (searched != nullptr && shard.peek()->source == Source::threshold) {
      take_search_rows(shard, out, *searched);
      continue;
    }
    bool stopped = false;
    const Point point = take_model_rows(shard, out, stopped);
    const TableRow* next = shard.peek();
    if (!stopped && next != nullptr && next->source == Source::hitting &&
        same_point(next->point, point)) {
      out.row(shard.take());
      next = shard.peek();
    }
    if (next != nullptr && next->source != Source::model && next->source != Source::threshold) {
      refuse(where(shard) + " holds a " + std::string(source_name(next->source)) +
             " row where a point's first row belongs");
    }
  }
  for (Shard& shard : shards) shard.finish();
}

// The runs' hitting times of a point: each shard's counts per generation
// (increasing, within the point's generations) and of runs that never
// reached the value, added up and summarised as one machine does.
void merge_hitting_counts(std::vector<Shard>& shards, Output& out,
                          const SimulationColumns& simulation, const Point& point) {
  simulation::HittingTimes times;
  std::uint64_t runs = 0;
  for (Shard& shard : shards) {
    std::int64_t after = 0;
    for (;;) {
      const TableRow* row = shard.peek();
      if (row == nullptr || row->source != Source::simulation_hitting_counts ||
          !same_point(row->point, point)) {
        refuse(where(shard) + ": the hitting times of " + describe_point(point) +
               " end before their count of runs that never reached the value");
      }
      // Each count at most the study's runs: no sum below overflows.
      const simulation::uint128 n = row->counts[0];
      if (n > static_cast<simulation::uint128>(simulation.runs) ||
          (row->t && (*row->t <= after || *row->t > last_report_time(point.p)))) {
        refuse(where(shard) + ": the hitting times of " + describe_point(point) +
               " are not those of any runs");
      }
      runs += static_cast<std::uint64_t>(n);
      if (!row->t) {
        times.never += static_cast<std::uint64_t>(n);
        shard.take();
        break;
      }
      after = *row->t;
      times.first[after] += static_cast<std::uint64_t>(n);
      shard.take();
    }
  }
  if (runs != static_cast<std::uint64_t>(simulation.runs)) {
    refuse("the shards hold the hitting times of " + std::to_string(runs) + " runs of " +
           describe_point(point) + ", not " + std::to_string(simulation.runs));
  }
  out.row(simulation_hitting_row(point, simulation, simulation::summarize_hitting(times)));
}

// A simulation's shards hold every point, each its own runs: shard 0 the
// model's rows too. The sums of a report time, added over the shards, are
// summarised as one machine summarises its runs.
void merge_runs(std::vector<Shard>& shards, Output& out, const SimulationColumns& simulation) {
  Shard& first = shards[0];
  while (first.peek() != nullptr) {
    bool stopped = false;
    const Point point = take_model_rows(first, out, stopped);
    for (std::size_t k = 1; k < shards.size(); ++k) {
      Shard& shard = shards[k];
      const TableRow* row = shard.peek();
      if (row == nullptr || !same_point(row->point, point) ||
          (stopped != (row->source == Source::model))) {
        refuse(where(shard) + " does not hold " + describe_point(point) + " where " + where(first) +
               " does");
      }
      ++shard.points;
      if (stopped) shard.take();  // the same stopped row, checked below
    }
    if (stopped) continue;
    const TableRow* hitting = first.peek();
    if (hitting != nullptr && hitting->source == Source::hitting &&
        same_point(hitting->point, point)) {
      out.row(first.take());
    }
    const std::int64_t reports = report_count(point.p);
    for (std::int64_t report = 0; report < reports; ++report) {
      const std::int64_t t = report_time(point.p, report);
      simulation::RunTotals totals(1, point.p.blocks);
      for (Shard& shard : shards) {
        TableRow three[3];
        const Source sources[] = {Source::simulation_runs, Source::simulation_sum,
                                  Source::simulation_sum_of_squares};
        for (int s = 0; s < 3; ++s) {
          const TableRow* row = shard.peek();
          if (row == nullptr || row->source != sources[s] || !same_point(row->point, point) ||
              row->t != t) {
            refuse(where(shard) + ": the sums of " + describe_point(point) +
                   " end or skip at t=" + std::to_string(t));
          }
          three[s] = shard.take();
        }
        if (!sums_of_runs(three, point.p)) {
          refuse(where(shard) + ": the sums of " + describe_point(point) +
                 " at t=" + std::to_string(t) + " are not those of any runs");
        }
        std::vector<std::uint64_t> sums;
        for (const simulation::uint128 s : three[1].counts) {
          sums.push_back(static_cast<std::uint64_t>(s));
        }
        totals.add_sums(static_cast<std::uint64_t>(three[0].counts[0]), sums, three[2].counts);
      }
      if (totals.runs() != static_cast<std::uint64_t>(simulation.runs)) {
        refuse("the shards hold " + std::to_string(totals.runs()) + " runs of " +
               describe_point(point) + " at t=" + std::to_string(t) + ", not " +
               std::to_string(simulation.runs));
      }
      const simulation::Summary summary = simulation::summarize(totals, point.p.lambda);
      for (const TableRow& row : summary_rows(point, simulation, summary, 0, t)) out.row(row);
    }
    const TableRow* counts = first.peek();
    if (counts != nullptr && counts->source == Source::simulation_hitting_counts) {
      merge_hitting_counts(shards, out, simulation, point);
    }
  }
  for (Shard& shard : shards) shard.finish();
}

}  // namespace

int run_merge(int argc, char** argv) {
  CLI::App app{
      "blocklevels merge: the CSV table of a whole study from the CSV tables of its shards\n"
      "(--shard K/N), given in any order; written to standard output.",
      "blocklevels merge"};
  std::vector<std::string> names;
  app.add_option("FILE", names, "the shards' CSV files")->required();
  // argv[0] is the command's name.
  if (!parse_arguments(app, argc - 1, argv + 1, "merge")) return 0;
  std::vector<Shard> shards;
  for (const std::string& name : names) shards.emplace_back(name);
  const Shard& reference = shards[0];
  const ShardIdentity& study = reference.identity().shard;
  for (const Shard& shard : shards) {
    const TableRow& identity = shard.identity();
    if (identity.shard.n != study.n) {
      refuse(where(shard) + " is a shard of " + std::to_string(identity.shard.n) + " where " +
             where(reference) + " is one of " + std::to_string(study.n));
    }
    if (identity.simulation != reference.identity().simulation) {
      refuse(where(shard) + " has other runs or another seed than " + where(reference));
    }
    if (identity.shard.study != study.study || identity.searched != reference.identity().searched ||
        shard.table().max_blocks() != reference.table().max_blocks()) {
      refuse(where(shard) + " is a shard of another study than " + where(reference));
    }
  }
  // Each K once, none missing; then in the order of K.
  std::vector<const Shard*> of_k(static_cast<std::size_t>(study.n), nullptr);
  for (const Shard& shard : shards) {
    const Shard*& place = of_k[static_cast<std::size_t>(shard.identity().shard.k)];
    if (place != nullptr) {
      refuse(where(shard) + " is shard " + std::to_string(shard.identity().shard.k) + " of " +
             std::to_string(study.n) + ", and so is " + where(*place));
    }
    place = &shard;
  }
  for (std::size_t k = 0; k < of_k.size(); ++k) {
    if (of_k[k] == nullptr) {
      refuse("shard " + std::to_string(k) + " of " + std::to_string(study.n) + " is missing");
    }
  }
  std::sort(shards.begin(), shards.end(), [](const Shard& a, const Shard& b) {
    return a.identity().shard.k < b.identity().shard.k;
  });
  Output out(shards[0].table());
  const std::int32_t searched = shards[0].identity().searched;
  const auto simulation = shards[0].identity().simulation;
  if (simulation && searched == 0) {
    merge_runs(shards, out, *simulation);
  } else {
    merge_points(
        shards, out,
        searched == 0 ? nullptr : &parameter_table()[static_cast<std::size_t>(searched - 1)]);
  }
  out.close();
  return 0;
}

}  // namespace blocklevels
