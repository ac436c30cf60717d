// The extension module blocklevels._core: the numeric core for the Python
// package. It reads arguments through the sweep layer and the settings
// table (the command line's values, rules and messages, spelled in
// Python's names), runs the points without the interpreter's lock on
// threads of their own, and waits for them in slices short enough that
// Ctrl-C is noticed: a pending signal handler that raises (SIGINT's
// KeyboardInterrupt) cancels the computation and its exception propagates.
// It installs no signal handler and leaves the calling thread's
// floating-point environment alone: the computation runs on other threads,
// each in its own ExtendedArithmetic scope. The pure-Python part of the
// package (blocklevels/__init__.py) shapes the results.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <variant>

#include "arithmetic/cancelled.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "errors/failure.hpp"
#include "output/table_layout.hpp"
#include "parameters/parameter_table.hpp"
#include "python/point_runs.hpp"
#include "runtime/memory_room.hpp"
#include "study/quantity_checks.hpp"
#include "study/run_settings.hpp"
#include "study/study_identity.hpp"
#include "study/study_memory.hpp"
#include "sweep/sweep_points.hpp"
#include "text/double_text.hpp"
#include "text/number_text.hpp"

namespace py = pybind11;

namespace blocklevels::python {
namespace {

// How often the waiting thread looks for a signal: well within the 0.2 s
// in which Ctrl-C should end a call.
constexpr std::chrono::milliseconds kSignalPoll{20};

// One value of a parameter as Python gives it: text read as the option
// reads it (it may be a list or a range), or a float taken at its exact
// binary value.
using Item = std::variant<std::string, double>;

ParameterValues values_of(const ParameterDescription& parameter, const std::vector<Item>& items) {
  // An empty list would make a study of no points: an empty table, and
  // no word of why.
  if (items.empty()) {
    throw Failure(kBadUsage,
                  std::string(parameter.keyword) + "=[] gives no value; give one or more");
  }
  ParameterValues values;
  for (const Item& item : items) {
    if (const auto* text = std::get_if<std::string>(&item)) {
      ParameterValues some = parameter_values(parameter, *text, Spelling::keyword);
      values.numbers.insert(values.numbers.end(), some.numbers.begin(), some.numbers.end());
      values.texts.insert(values.texts.end(), some.texts.begin(), some.texts.end());
      continue;
    }
    // Only the reals take floats; the package passes the others as text.
    if (parameter.kind != ParameterKind::real) {
      throw Failure(kBadUsage, std::string(parameter.keyword) + ": a float is not an integer");
    }
    const double x = std::get<double>(item);
    std::string text;
    append_shortest(text, x);
    values.numbers.push_back(static_cast<long double>(x));  // exact: every double is
    values.texts.push_back(text.empty() ? "nan" : text);
  }
  check_values(parameter, values, Spelling::keyword);
  return values;
}

// Runs `work` on a thread of its own while this thread, without the lock,
// looks for signals every kSignalPoll. A signal handler that raises cancels
// the work, waits for it to leave, and throws that exception.
template <class Work>
auto run_interruptibly(Work work) {
  std::stop_source cancel;
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  decltype(work(cancel.get_token())) result;
  std::exception_ptr error;
  bool interrupted = false;
  {
    py::gil_scoped_release unlocked;
    std::jthread worker([&] {
      try {
        result = work(cancel.get_token());
      } catch (...) {
        error = std::current_exception();
      }
      const std::lock_guard lock(mutex);
      done = true;
      finished.notify_one();
    });
    std::unique_lock lock(mutex);
    while (!finished.wait_for(lock, kSignalPoll, [&] { return done; })) {
      lock.unlock();
      {
        const py::gil_scoped_acquire locked;
        interrupted = PyErr_CheckSignals() != 0;
      }
      if (interrupted) {
        cancel.request_stop();
        break;
      }
      lock.lock();
    }
  }  // joins the worker, then takes the lock back
  if (interrupted) throw py::error_already_set();
  if (error) std::rethrow_exception(error);
  return result;
}

py::array_t<double> matrix(const std::vector<double>& values, std::size_t rows,
                           std::size_t columns) {
  py::array_t<double> array({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(columns)});
  if (!values.empty()) std::memcpy(array.mutable_data(), values.data(), values.size() * 8);
  return array;
}

py::array_t<double> vector_of(const std::vector<double>& values) {
  return py::array_t<double>(static_cast<py::ssize_t>(values.size()), values.data());
}

py::int_ to_int(simulation::uint128 v) {
  const py::int_ high(static_cast<std::uint64_t>(v >> 64));
  const py::int_ low(static_cast<std::uint64_t>(v));
  return py::int_((high << py::int_(64)) | low);
}

py::dict parameters_of(const Point& point) {
  py::dict parameters;
  for (const ParameterDescription& d : parameter_table()) {
    const py::str name(d.name.data(), d.name.size());
    if (d.kind == ParameterKind::integer) {
      parameters[name] = point.p.*d.integer;
    } else {
      parameters[name] = parameter_text(point, d);
    }
  }
  return parameters;
}

// The simulated runs' reports of one point: means, half-widths and the
// exact sums they come from.
py::dict simulation_dict(const std::vector<Result>& results, const PointParameters& p) {
  std::vector<double> mean, ci95, level_mean, level_ci95;
  py::list sum, squares, level_sum, level_squares;
  std::uint64_t runs = 0;
  std::size_t reports = 0;
  for (const Result& result : results) {
    const auto* sums = std::get_if<ShardSums>(&result.value);
    if (sums == nullptr) continue;
    const simulation::RunTotals& totals = sums->totals;
    const simulation::Summary summary = simulation::summarize(totals, p.lambda);
    py::list sum_row, squares_row;
    for (std::int32_t j = 1; j <= p.blocks; ++j) {
      mean.push_back(summary.fraction_at(0, j).mean);
      ci95.push_back(summary.fraction_at(0, j).half_width);
      sum_row.append(to_int(totals.sum_at_least(0, j)));
      squares_row.append(to_int(totals.sum_at_least_squared(0, j)));
    }
    level_mean.push_back(summary.mean_level[0].mean);
    level_ci95.push_back(summary.mean_level[0].half_width);
    sum.append(sum_row);
    squares.append(squares_row);
    level_sum.append(to_int(totals.sum_level(0)));
    level_squares.append(to_int(totals.sum_level_squared(0)));
    runs = totals.runs();
    ++reports;
  }
  const auto l = static_cast<std::size_t>(p.blocks);
  py::dict d;
  d["runs"] = runs;
  d["mean"] = matrix(mean, reports, l);
  d["ci95"] = matrix(ci95, reports, l);
  d["mean_level"] = vector_of(level_mean);
  d["mean_level_ci95"] = vector_of(level_ci95);
  d["sum"] = sum;
  d["sum_of_squares"] = squares;
  d["sum_level"] = level_sum;
  d["sum_level_of_squares"] = level_squares;
  return d;
}

// A point and what it gave, for the package to shape.
py::dict point_dict(const Point& point, const std::vector<Result>& results) {
  py::dict out;
  out["parameters"] = parameters_of(point);
  const auto* stopped = results.empty() ? nullptr : std::get_if<Stopped>(&results[0].value);
  out["status"] = stopped == nullptr ? 0 : stopped->status;
  if (stopped != nullptr) return out;
  const PointParameters& p = point.p;
  const std::int64_t reports = report_count(p);
  py::array_t<std::int64_t> t(static_cast<py::ssize_t>(reports));
  for (std::int64_t k = 0; k < reports; ++k) t.mutable_at(k) = report_time(p, k);
  out["t"] = t;
  std::vector<double> tail, mean_level;
  for (const Result& result : results) {
    if (const auto* m = std::get_if<ModelReport>(&result.value)) {
      tail.insert(tail.end(), m->tail.begin(), m->tail.end());
      mean_level.push_back(sum_in_level_order(m->tail));
    }
  }
  if (!mean_level.empty()) {
    out["tail"] = matrix(tail, mean_level.size(), static_cast<std::size_t>(p.blocks));
    out["mean_level"] = vector_of(mean_level);
  }
  out["simulation"] = simulation_dict(results, p);
  // The model's hitting time (None: never), and the simulated runs' hitting
  // times, when counted: (generation, runs
  // that first reached the value then) in increasing order, and the runs
  // that never did by the final generation.
  for (const Result& result : results) {
    if (const auto* h = std::get_if<ModelHitting>(&result.value)) {
      out["hitting_t"] = h->t ? py::object(py::int_(*h->t)) : py::none();
    }
    const auto* counts = std::get_if<HittingCounts>(&result.value);
    if (counts == nullptr) continue;
    py::list first;
    for (const auto& [when, n] : counts->times.first) first.append(py::make_tuple(when, n));
    out["hitting_first"] = first;
    out["hitting_never"] = counts->times.never;
  }
  // Each run's own hitting time, by run (None: never), when given.
  py::list own;
  for (const Result& result : results) {
    if (const auto* run = std::get_if<HittingRun>(&result.value)) {
      own.append(run->t ? py::object(py::int_(*run->t)) : py::none());
    }
  }
  if (!own.empty()) out["hitting_runs"] = own;
  return out;
}

// The table's rows as columns (the CSV's, by the same layout), for a
// DataFrame: every cell where its row has one, the rest empty.
class TableColumns final : public RowWriter {
 public:
  explicit TableColumns(const TableLayout& layout) : layout_(layout) {
    columns_.resize(layout.columns().size());
  }
  void begin_row() override {
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      Column& column = columns_[c];
      column.given.push_back(false);
      switch (layout_.columns()[c].kind) {
        case ColumnKind::text:
          column.texts.emplace_back();
          break;
        case ColumnKind::real:
          column.reals.push_back(std::nan(""));
          break;
        case ColumnKind::integer:
        case ColumnKind::count:
          column.integers.push_back(0);
          break;
      }
    }
  }
  void integer(std::size_t c, std::int64_t v) override { set_integer(c, v); }
  void count(std::size_t c, simulation::uint128 v) override {
    set_integer(c, static_cast<std::int64_t>(static_cast<std::uint64_t>(v)));
  }
  void real(std::size_t c, double v) override {
    columns_[c].reals.back() = v;
    columns_[c].given.back() = true;
  }
  void text(std::size_t c, std::string_view v) override {
    columns_[c].texts.back() = v;
    columns_[c].given.back() = true;
  }
  void end_row() override {}

  // {name: (kind, values, given)}: values a numpy array (object for text),
  // given a numpy bool array.
  py::dict to_python() const {
    py::dict out;
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      const TableColumn& description = layout_.columns()[c];
      const Column& column = columns_[c];
      py::array_t<bool> given(static_cast<py::ssize_t>(column.given.size()));
      for (std::size_t r = 0; r < column.given.size(); ++r) given.mutable_at(r) = column.given[r];
      py::object values;
      std::string kind;
      switch (description.kind) {
        case ColumnKind::text:
          values = py::cast(column.texts);
          kind = "text";
          break;
        case ColumnKind::real:
          values = vector_of(column.reals);
          kind = "real";
          break;
        case ColumnKind::integer:
        case ColumnKind::count:
          values = py::array_t<std::int64_t>(static_cast<py::ssize_t>(column.integers.size()),
                                             column.integers.data());
          kind = description.kind == ColumnKind::count ? "count" : "integer";
          break;
      }
      out[py::str(description.name)] = py::make_tuple(kind, values, given);
    }
    return out;
  }

 private:
  struct Column {
    std::vector<bool> given;
    std::vector<std::string> texts;
    std::vector<double> reals;
    std::vector<std::int64_t> integers;
  };
  void set_integer(std::size_t c, std::int64_t v) {
    columns_[c].integers.back() = v;
    columns_[c].given.back() = true;
  }

  const TableLayout& layout_;
  std::vector<Column> columns_;
};

// The study a call asks for: its points from the parameters' items (by
// keyword; the defaults for those not given), its settings from their
// texts; refused as the command line refuses, in Python's names.
Study study_of(const std::map<std::string, std::vector<Item>>& items,
               const std::map<std::string, std::string>& settings) {
  Study study;
  std::vector<std::string_view> given;
  for (const SettingDescription& s : setting_table()) {
    const auto text = settings.find(std::string(s.name));
    if (text == settings.end() || !before_points(s)) continue;
    apply_setting(study, s, text->second, Spelling::keyword);
    given.push_back(s.name);
  }
  std::vector<ParameterValues> values;
  for (const ParameterDescription& d : parameter_table()) {
    const auto found = items.find(std::string(d.keyword));
    if (!study.mu_ratio.empty() && d.name == "mu") {
      if (found != items.end()) {
        throw Failure(kBadUsage, "mu: mu_ratio takes its place; give one of them");
      }
      values.push_back(ratio_values(study, Spelling::keyword));
    } else if (study.find && study.find->parameter == &d) {
      if (found != items.end()) {
        throw Failure(kBadUsage, std::string(d.keyword) + ": find searches it; give one of them");
      }
      values.push_back(parameter_values(d, study.find_range.substr(0, study.find_range.find(':')),
                                        Spelling::keyword));
    } else if (found != items.end()) {
      values.push_back(values_of(d, found->second));
    } else if (d.default_text.empty()) {
      throw Failure(kBadUsage, std::string(d.keyword) + " is required");
    } else {
      values.push_back(parameter_values(d, d.default_text, Spelling::keyword));
    }
  }
  SweepPoints sweep = expand_sweep(values, Spelling::keyword, zip_of(study, Spelling::keyword));
  study.points = std::move(sweep.points);
  study.swept = std::move(sweep.swept);
  study.max_blocks = sweep.max_blocks;
  for (const SettingDescription& s : setting_table()) {
    const auto text = settings.find(std::string(s.name));
    if (text == settings.end() || before_points(s)) continue;
    apply_setting(study, s, text->second, Spelling::keyword);
    given.push_back(s.name);
  }
  check_settings(study, given, Spelling::keyword);
  check_study_quantities(study, Spelling::keyword);
  if (settings.find("jobs") == settings.end()) {
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    study.jobs = static_cast<int>(cores < 1 ? 1 : cores);
  }
  return study;
}

// What a call computes of each point: "model" its reports, "simulate" its
// simulated runs' exact sums, "study" all a study's table holds, "hitting"
// the same with the runs' exact sums, hitting-time counts and each run's
// own hitting time (its table holds these rows only when asked).
PointWork work_of(const Study& study, const std::string& mode) {
  PointWork work;
  work.model = mode != "simulate";
  work.model_reports = work.model;
  work.runs = study.simulate_runs;
  work.seed = study.seed;
  work.sums = mode == "simulate" || mode == "hitting";
  work.find = study.find ? &*study.find : nullptr;
  work.hitting = study.hitting ? &*study.hitting : nullptr;
  work.hitting_runs = mode == "hitting" || settings_of(study).hitting_runs;
  return work;
}

// A result as a whole study's table holds it: the exact sums of a
// simulate() call summarised as the command line summarises its runs, and
// the hitting-time counts as it summarises them (as merging a study's
// shards does, which gives one machine's table).
Result as_summary(const Result& result) {
  if (const auto* counts = std::get_if<HittingCounts>(&result.value)) {
    const PointParameters& p = result.point.p;
    return {result.point, HittingSummary{simulation::summarize_hitting(
                              counts->times, p.final_iteration, p.lambda)}};
  }
  const auto* sums = std::get_if<ShardSums>(&result.value);
  if (sums == nullptr) return result;
  const simulation::Summary summary = simulation::summarize(sums->totals, result.point.p.lambda);
  SimulationReport report{sums->t, summary.mean_level[0], {}};
  for (std::int32_t j = 1; j <= result.point.p.blocks; ++j) {
    report.fractions.push_back(summary.fraction_at(0, j));
  }
  return {result.point, std::move(report)};
}

py::dict run(const std::map<std::string, std::vector<Item>>& items,
             const std::map<std::string, std::string>& settings, const std::string& mode) {
  const Study study = study_of(items, settings);
  if (!study.is_sweep()) {
    // One point too big for memory is refused before it runs; a study's
    // points stop on their own (python/point_runs.cpp).
    const runtime::MemoryRoom room = runtime::memory_room();
    check_study_memory(study, room.bytes, room.limit, Spelling::keyword);
  }
  const PointWork work = work_of(study, mode);
  const std::vector<std::vector<Result>> results = run_interruptibly(
      [&](std::stop_token cancel) { return run_points(study.points, work, study.jobs, cancel); });
  py::dict out;
  out["swept"] = study.swept;
  out["max_blocks"] = study.max_blocks;
  py::list points;
  for (std::size_t n = 0; n < study.points.size(); ++n) {
    points.append(point_dict(study.points[n], results[n]));
  }
  out["points"] = points;
  const StudySettings table_settings = settings_of(study);
  const TableLayout layout(study.max_blocks, table_settings.hitting_runs);
  TableColumns columns(layout);
  for (const std::vector<Result>& point : results) {
    for (const Result& result : point) layout.write(as_summary(result), table_settings, columns);
  }
  out["table"] = columns.to_python();
  return out;
}

// For the tests: the model of values the dialogue would take, unchecked
// (Pmut read as the dialogue reads it), in the literal arithmetic, so that
// the arithmetic's stops can be reached. Only blocks >= 1 and step >= 1
// are required, as by run_model.
py::dict run_unchecked(std::int32_t lambda, std::int32_t mu, const std::string& pmut,
                       std::int32_t block_length, std::int32_t two_option, std::int32_t blocks,
                       std::int32_t final_iteration, std::int32_t step) {
  if (blocks < 1 || step < 1) throw Failure(kBadUsage, "blocks and step must be at least 1");
  const Point point{.p = {.lambda = lambda,
                          .mu = mu,
                          .Pmut = parse_real_token(pmut).value,
                          .block_length = block_length,
                          .two_option_positions = two_option,
                          .blocks = blocks,
                          .final_iteration = final_iteration,
                          .step_generations = step,
                          .arithmetic = Arithmetic::literal,
                          .model = ModelKind::level},
                    .real_texts = {pmut}};
  const PointWork work;
  const std::vector<std::vector<Result>> results = run_interruptibly([&](std::stop_token cancel) {
    return run_points({&point, 1}, work, 1, cancel);
  });
  return point_dict(point, results[0]);
}

// For the tests: the calling thread's x87 control and status words and the
// SSE control and status register.
py::tuple floating_point_environment() {
  unsigned short control = 0, status = 0;
  unsigned int mxcsr = 0;
  asm volatile("fnstcw %0" : "=m"(control));
  asm volatile("fnstsw %0" : "=m"(status));
  asm volatile("stmxcsr %0" : "=m"(mxcsr));
  return py::make_tuple(control, status, mxcsr);
}

// The parameter table, for the package's signatures, docstrings and checks.
py::list parameters() {
  py::list rows;
  for (const ParameterDescription& d : parameter_table()) {
    py::dict row;
    row["name"] = std::string(d.name);
    row["keyword"] = std::string(d.keyword);
    row["option"] = std::string(d.option);
    row["kind"] = d.kind == ParameterKind::integer ? "integer"
                  : d.kind == ParameterKind::real  ? "real"
                                                   : "choice";
    row["default"] = std::string(d.default_text);
    row["meaning"] = std::string(d.meaning);
    std::vector<std::string> choices(d.choices.begin(), d.choices.end());
    row["choices"] = choices;
    rows.append(row);
  }
  return rows;
}

// The settings table likewise.
py::list settings() {
  py::list rows;
  for (const SettingDescription& s : setting_table()) {
    py::dict row;
    row["name"] = std::string(s.name);
    row["option"] = std::string(s.option);
    row["default"] = std::string(s.default_text);
    row["meaning"] = std::string(s.meaning);
    rows.append(row);
  }
  return rows;
}

std::vector<std::string> table_columns(std::int32_t max_blocks, bool run_column) {
  const TableLayout layout(max_blocks, run_column);
  std::vector<std::string> names;
  for (const TableColumn& column : layout.columns()) names.push_back(column.name);
  return names;
}

// A message as a Python str, whole: a NUL or another control character
// from an argument is shown escaped (\x00) rather than ending the text.
py::str message_text(const std::string& message) {
  std::string shown;
  for (const char c : message) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 && c != '\n') {
      static constexpr char kHex[] = "0123456789abcdef";
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 15];
    } else {
      shown += c;
    }
  }
  PyObject* text =
      PyUnicode_DecodeUTF8(shown.data(), static_cast<Py_ssize_t>(shown.size()), "backslashreplace");
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

// A refused value is a ValueError with the refusal's words; a refusal with
// a stop number (a simulation too big for memory: 203) is a
// StopRefused(status, words), which the package raises as its Stop.
void register_refusals(py::module_& m) {
  static py::exception<blocklevels::Failure> stop_refused(m, "StopRefused", PyExc_Exception);
  py::register_exception_translator([](std::exception_ptr error) {
    try {
      if (error) std::rethrow_exception(error);
    } catch (const blocklevels::Failure& failure) {
      const py::str words = message_text(failure.message());
      if (failure.status() == blocklevels::kBadUsage) {
        PyErr_SetObject(PyExc_ValueError, words.ptr());
      } else {
        PyErr_SetObject(stop_refused.ptr(), py::make_tuple(failure.status(), words).ptr());
      }
    }
  });
}

// The functions the package calls: the runs, the environment check, and the
// parameter, settings and column tables with their texts.
void define_functions(py::module_& m) {
  m.def("run", &run, py::arg("items"), py::arg("settings"), py::arg("mode"));
  m.def("run_unchecked", &run_unchecked);
  m.def("floating_point_environment", &floating_point_environment);
  m.def("parameters", &parameters);
  m.def("settings", &settings);
  m.def("table_columns", &table_columns, py::arg("max_blocks"), py::arg("run_column") = false);
  m.def("table_format", [] { return std::string(blocklevels::kTableFormat); });
  m.def("stop_meaning", [](int number) { return std::string(blocklevels::stop_meaning(number)); });
}

}  // namespace
}  // namespace blocklevels::python

PYBIND11_MODULE(_core, m) {
  m.doc() = "The numeric core of blocklevels; use the package blocklevels, not this module.";
  blocklevels::python::register_refusals(m);
  blocklevels::python::define_functions(m);
}
