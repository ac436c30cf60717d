// What a resumed study keeps of the table an earlier run of the same command
// left: every point whose results are all there, found by its parameters in
// the study's order. Each entry must be one this study writes, under its
// settings (runs and seed, the search or hitting condition): a table of
// another study, or of the same points asked another question, is refused
// and left untouched.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "study/study.hpp"

namespace blocklevels {

// A complete point of the old table: its place among the points this
// process runs, and the bytes its rows take in the file.
struct KeptPoint {
  std::size_t place = 0;
  std::uint64_t from = 0;
  std::uint64_t to = 0;
};

// What a resumed study keeps, and what it took back of the table to keep
// it: "" when nothing, else a note for the user (a row cut short by a
// killed study or a full disk, a table without a whole header).
struct ResumedTable {
  std::vector<KeptPoint> kept;
  std::string note;
};

// Reads the table open at `fd` (named `path`), of the points
// study.points[mine[0]], study.points[mine[1]], ... that this process runs.
// Points must come in the study's order (gaps allowed: points an interrupt
// left unfinished); a point whose results stop short is left to run again,
// and so is one whose process was ended by a signal from outside (its
// stopped row's status is 128 + the signal). A search's point is kept when
// another point follows it, or the shard's last row. A table cut inside a
// row is kept up to its last whole row; one without a whole header (a
// study ended before its first row) keeps nothing. Throws Failure (status
// 2) naming the file and line for a table of another study.
ResumedTable kept_points(const Study& study, std::span<const std::size_t> mine, int fd,
                         const std::string& path);

}  // namespace blocklevels
