// The memory a study's simulations need, checked before anything runs
// against what the process may still take, so that a simulation too big
// for the machine is refused with its figures instead of being ended by
// the system when its pages are touched.
//
// simulation_bytes() is this check's own estimate of what one simulated
// run holds; the simulation layer's estimate can take its place behind the
// same function.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "parameters/parameter_table.hpp"
#include "study/study.hpp"

namespace blocklevels {

// The bytes one worker of a simulation of `p` allocates and writes: the
// population's 2 mu chromosomes, its per-offspring arrays, its mutation
// lists as reserved for a generation's expected mutations, and the totals
// of every report. Saturated at 2^64 - 1.
std::uint64_t simulation_bytes(const PointParameters& p);

// "512 bytes", "1.5 kB", "24 GB": decimal units, one decimal below 10 of a
// unit; rounded up or down.
std::string bytes_in_words(std::uint64_t bytes, bool round_up);

// Why one worker of a simulation of `point` does not fit in `available`
// bytes: "a simulated run needs 24 GB; 18 GB are available (the system's
// available memory)", `limit` saying what set that figure; nothing when it
// fits or the study simulates nothing (`runs` 0).
std::optional<std::string> simulation_memory_refusal(const Point& point, std::int32_t runs,
                                                     std::uint64_t available,
                                                     std::string_view limit);

// Refuses, with Failure(203) naming the point and the figures
// ("--simulate: lambda=...: a simulated run needs ..."), a study whose
// first point that does not fit; for a study of one point, refused before
// anything runs (a sweep's points stop on their own instead, each with
// its status row).
void check_study_memory(const Study& study, std::uint64_t available, std::string_view limit,
                        Spelling spelling);

}  // namespace blocklevels
