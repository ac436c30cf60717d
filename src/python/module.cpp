// The extension module blocklevels._core: the numeric core for the Python
// package. It reads arguments through the sweep layer (the command line's
// values, rules and messages), runs the points without the interpreter's
// lock on a thread of their own, and waits for them in slices short enough
// that Ctrl-C is noticed: a pending signal handler that raises (SIGINT's
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
#include <mutex>
#include <thread>
#include <variant>

#include "arithmetic/cancelled.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "output/csv_table.hpp"
#include "parameters/parameter_table.hpp"
#include "python/point_runs.hpp"
#include "errors/failure.hpp"
#include "simulation/run_totals.hpp"
#include "sweep/option_values.hpp"
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
  ParameterValues values;
  for (const Item& item : items) {
    if (const auto* text = std::get_if<std::string>(&item)) {
      ParameterValues some = parameter_values(parameter, *text);
      values.numbers.insert(values.numbers.end(), some.numbers.begin(), some.numbers.end());
      values.texts.insert(values.texts.end(), some.texts.begin(), some.texts.end());
      continue;
    }
    // Only Pmut is real; the package passes integers as text.
    if (parameter.kind != ParameterKind::real) {
      throw Failure(kBadUsage,
                             std::string(parameter.option) + ": a float is not an integer");
    }
    const double x = std::get<double>(item);
    std::string text;
    append_shortest(text, x);
    values.numbers.push_back(static_cast<long double>(x));  // exact: every double is
    values.texts.push_back(text.empty() ? "nan" : text);
  }
  check_values(parameter, values);
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

py::array_t<double> matrix(const std::vector<double>& values, std::int64_t rows,
                           std::int32_t columns) {
  py::array_t<double> array({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(columns)});
  if (!values.empty()) std::memcpy(array.mutable_data(), values.data(), values.size() * 8);
  return array;
}

py::int_ to_int(simulation::uint128 v) {
  const py::int_ high(static_cast<std::uint64_t>(v >> 64));
  const py::int_ low(static_cast<std::uint64_t>(v));
  return py::int_((high << py::int_(64)) | low);
}

py::dict simulation_dict(const simulation::RunTotals& totals, const PointParameters& p) {
  const simulation::Summary summary = simulation::summarize(totals, p.lambda);
  const std::int64_t reports = totals.reports();
  std::vector<double> mean, ci95, level_mean, level_ci95;
  py::list sum, squares, level_sum, level_squares;
  for (std::int64_t r = 0; r < reports; ++r) {
    py::list sum_row, squares_row;
    for (std::int32_t j = 1; j <= p.blocks; ++j) {
      mean.push_back(summary.fraction_at(r, j).mean);
      ci95.push_back(summary.fraction_at(r, j).half_width);
      sum_row.append(to_int(totals.sum_at_least(r, j)));
      squares_row.append(to_int(totals.sum_at_least_squared(r, j)));
    }
    const simulation::Estimate& level = summary.mean_level[static_cast<std::size_t>(r)];
    level_mean.push_back(level.mean);
    level_ci95.push_back(level.half_width);
    sum.append(sum_row);
    squares.append(squares_row);
    level_sum.append(to_int(totals.sum_level(r)));
    level_squares.append(to_int(totals.sum_level_squared(r)));
  }
  py::dict d;
  d["runs"] = totals.runs();
  d["mean"] = matrix(mean, reports, p.blocks);
  d["ci95"] = matrix(ci95, reports, p.blocks);
  d["mean_level"] = py::array_t<double>(static_cast<py::ssize_t>(reports), level_mean.data());
  d["mean_level_ci95"] = py::array_t<double>(static_cast<py::ssize_t>(reports), level_ci95.data());
  d["sum"] = sum;
  d["sum_of_squares"] = squares;
  d["sum_level"] = level_sum;
  d["sum_level_of_squares"] = level_squares;
  return d;
}

// A point and what it gave, for the package to shape.
py::dict point_dict(const Point& point, const PointResult& result) {
  py::dict parameters;
  for (const ParameterDescription& d : parameter_table()) {
    if (d.kind == ParameterKind::real) {
      parameters[py::str(d.name.data(), d.name.size())] = point.pmut_text;
    } else {
      parameters[py::str(d.name.data(), d.name.size())] = point.p.*d.integer;
    }
  }
  py::dict out;
  out["parameters"] = parameters;
  out["status"] = result.status;
  if (result.status != 0) return out;
  const PointParameters& p = point.p;
  py::array_t<std::int64_t> t(static_cast<py::ssize_t>(result.reports));
  for (std::int64_t k = 0; k < result.reports; ++k) t.mutable_at(k) = report_time(p, k);
  out["t"] = t;
  if (!result.mean_level.empty()) {
    out["tail"] = matrix(result.tail, result.reports, p.blocks);
    out["mean_level"] =
        py::array_t<double>(static_cast<py::ssize_t>(result.reports), result.mean_level.data());
  }
  if (result.totals) out["simulation"] = simulation_dict(*result.totals, p);
  return out;
}

py::list run_and_shape(std::vector<Point> points, const RunRequest& request) {
  const std::vector<PointResult> results = run_interruptibly(
      [&](std::stop_token cancel) { return run_points(points, request, cancel); });
  py::list shaped;
  for (std::size_t n = 0; n < points.size(); ++n) shaped.append(point_dict(points[n], results[n]));
  return shaped;
}

// items_by_parameter: one list of items per row of the parameter table, in its order.
py::dict run(const std::vector<std::vector<Item>>& items_by_parameter, bool model,
             const std::string& runs, const std::string& seed, const std::string& jobs) {
  const auto table = parameter_table();
  if (items_by_parameter.size() != table.size())
    throw std::invalid_argument("one list of items per parameter");
  RunRequest request;
  request.model = model;
  std::vector<ParameterValues> values;
  for (std::size_t n = 0; n < table.size(); ++n)
    values.push_back(values_of(table[n], items_by_parameter[n]));
  SweepPoints sweep = expand_sweep(values);
  if (!runs.empty()) {
    request.runs = one_integer("--simulate", runs);
    if (request.runs < 1) throw Failure(2, "--simulate: " + runs + " is below 1");
    request.seed = seed_value("--seed", seed);
  }
  if (jobs.empty()) {
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    request.jobs = static_cast<int>(cores < 1 ? 1 : cores);
  } else {
    request.jobs = one_integer("--jobs", jobs);
    if (request.jobs < 1) throw Failure(2, "--jobs: " + jobs + " is below 1");
  }
  py::dict out;
  out["swept"] = sweep.swept;
  out["max_blocks"] = sweep.max_blocks;
  out["points"] = run_and_shape(std::move(sweep.points), request);
  return out;
}

// For the tests: the model of values the dialogue would take, unchecked
// (Pmut read as the dialogue reads it), so that the arithmetic's stops can
// be reached. Only blocks >= 1 and step >= 1 are required, as by run_model.
py::dict run_unchecked(std::int32_t lambda, std::int32_t mu, const std::string& pmut,
                       std::int32_t block_length, std::int32_t two_option, std::int32_t blocks,
                       std::int32_t final_iteration, std::int32_t step) {
  if (blocks < 1 || step < 1) throw std::invalid_argument("blocks and step must be at least 1");
  Point point{{lambda, mu, parse_real_token(pmut).value, block_length, two_option, blocks,
               final_iteration, step},
              pmut};
  return py::list(run_and_shape({point}, RunRequest{}))[0];
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

py::list parameters() {
  py::list rows;
  for (const ParameterDescription& d : parameter_table()) {
    py::dict row;
    row["name"] = std::string(d.name);
    row["option"] = std::string(d.option);
    row["real"] = d.kind == ParameterKind::real;
    row["default"] = std::string(d.default_text);
    row["meaning"] = std::string(d.meaning);
    rows.append(row);
  }
  return rows;
}

std::vector<std::string> csv_columns(std::int32_t max_blocks) {
  std::string header = CsvTable(max_blocks).header();
  header.pop_back();  // the LF
  std::vector<std::string> columns;
  for (std::size_t at = 0;;) {
    const std::size_t comma = header.find(',', at);
    columns.push_back(header.substr(at, comma - at));
    if (comma == std::string::npos) return columns;
    at = comma + 1;
  }
}

}  // namespace
}  // namespace blocklevels::python

PYBIND11_MODULE(_core, m) {
  using namespace blocklevels::python;
  m.doc() = "The numeric core of blocklevels; use the package blocklevels, not this module.";
  // A refused value is a ValueError with the command line's message.
  py::register_exception_translator([](std::exception_ptr error) {
    try {
      if (error) std::rethrow_exception(error);
    } catch (const blocklevels::Failure& failure) {
      PyErr_SetString(PyExc_ValueError, failure.message().c_str());
    }
  });
  m.def("run", &run, py::arg("items_by_parameter"), py::arg("model"), py::arg("runs"),
        py::arg("seed"), py::arg("jobs"));
  m.def("run_unchecked", &run_unchecked);
  m.def("floating_point_environment", &floating_point_environment);
  m.def("parameters", &parameters);
  m.def("csv_columns", &csv_columns);
  m.def("stop_meaning", [](int number) { return std::string(blocklevels::stop_meaning(number)); });
}
