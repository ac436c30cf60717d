// What the quantities a study names can be for its points: --where's and
// --hitting's Q=V and --plot-map's Q. A level X<j> must be one every point
// has (j at most its blocks), and V a value Q takes (a fraction 0 to 1, the
// mean level 0 to the point's blocks): a value beyond is never reached, and
// X<j> beyond a point's blocks has no value at all. The command line, the
// Python package and the table reader refuse with these words.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "parameters/parameter_table.hpp"
#include "parameters/quantity.hpp"
#include "study/study.hpp"

namespace blocklevels {

// Why Q names nothing at some point: "X5 but a point has 3 blocks".
std::optional<std::string> quantity_refusal(const Quantity& quantity,
                                            std::span<const Point> points);

// Why Q=V asks for a value Q never takes at some point, or names nothing.
std::optional<std::string> condition_refusal(const Condition& condition,
                                             std::span<const Point> points);

// The study's condition (--where or --hitting) and --plot-map's quantity,
// each refused with its option's (or keyword's) name first. Throws Failure
// (status 2).
void check_study_quantities(const Study& study, Spelling spelling);

}  // namespace blocklevels
