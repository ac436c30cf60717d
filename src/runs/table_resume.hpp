// What a resumed study keeps of the table an earlier run of the same command
// left: every point whose rows are all there, found by its parameters in the
// study's order. A table of another study is refused and left untouched.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "output/csv_table.hpp"
#include "study/study.hpp"

namespace blocklevels {

// A complete point of the old table: its place among the points this
// process runs, and the bytes its rows take in the file.
struct KeptPoint {
  std::size_t place = 0;
  std::uint64_t from = 0;
  std::uint64_t to = 0;
};

// The rows a point of the study writes, in order: a "model" row per report
// time (none in a simulation shard other than 0) and its "hitting" row,
// then the simulation's rows per report time and its hitting times. A point
// that stopped writes one "model" row instead. A shape of `any_t` takes a
// row of any t; one that `repeats` takes rows with t until one without. A
// search's rows are not known before it runs: it has no shapes.
struct RowShape {
  Source source;
  std::optional<std::int64_t> t;
  bool any_t = false;
  bool repeats = false;
};
std::vector<RowShape> rows_of(const Study& study, const Point& point);

// Reads the table at `path`, of the points study.points[mine[0]],
// study.points[mine[1]], ... that this process runs. Every row must be one
// the study writes, its points in the study's order (gaps allowed: points an
// interrupt left unfinished); a point whose rows stop short is left to run
// again. A search's point is kept when another point's rows follow it. Throws Failure
// (status 2) naming the file and line for a table of another study.
std::vector<KeptPoint> kept_points(const Study& study, std::span<const std::size_t> mine,
                                   const std::string& path);

}  // namespace blocklevels
