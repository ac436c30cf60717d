// The settings of a study beside its points' parameters, described once:
// the simulation (runs, seed), the parallel jobs, a search (--find with
// --where and --find-grid) and a hitting time. The command line's options
// and the Python package's keywords, their help, their refusals and the
// manual are made from this table, and both front ends read values through
// apply_setting() and check them with check_settings(), so they take and
// refuse the same things with the same words (spelled in their own names).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "parameters/parameter_table.hpp"
#include "study/study.hpp"
#include "sweep/sweep_points.hpp"

namespace blocklevels {

enum class SettingKind {
  count,      // a positive integer from `lowest` to `highest`
  seed,       // 0 to 2^64 - 1
  condition,  // Q=V
  search,     // PARAM:LOW:HIGH
  zip,        // P,Q,...: parameters' names
  ratio,      // R: reals, one value, a list or a range
  flag,       // on when given: an option without a value, a keyword True
};

struct SettingDescription {
  std::string_view name;    // "runs": the Python keyword
  std::string_view option;  // "--simulate"
  std::string_view value_name;
  std::string_view meaning;  // the help
  SettingKind kind;
  std::int32_t lowest = 1;
  std::int32_t highest = INT32_MAX;
  std::string_view default_text = {};  // "" for none (the setting is off)
  std::string_view needs = {};         // the setting without which it means nothing
};

std::span<const SettingDescription> setting_table();
const SettingDescription* find_setting(std::string_view name);

// "--simulate" or "runs".
std::string_view spelled(const SettingDescription& setting, Spelling spelling);

// Reads `text` into the study's field for `setting`, or throws Failure
// (status 2) with the refusal, as "--simulate: 0 is below 1" or "runs=0 is
// below 1". A search is read before the points: its parameter is not
// given but takes the range's low end in every point.
void apply_setting(Study& study, const SettingDescription& setting, std::string_view text,
                   Spelling spelling);

// Whether a setting is read before the points are made: the search (its
// parameter takes the range's low end), the zip and mu's ratio (they
// shape the product).
bool before_points(const SettingDescription& setting);

// The study's zip, for expand_sweep (its name spelled for refusals).
Zip zip_of(const Study& study, Spelling spelling);

// mu's values from --mu-ratio: the ratios, each in (0, 1], as a ratio of
// lambda. Throws Failure (status 2).
ParameterValues ratio_values(const Study& study, Spelling spelling);

// What the settings given (by name, in any order) say together and with
// the points: a setting given without the one it needs, a search's range
// beyond a bound another parameter sets, a quantity above a point's
// blocks, --find beside --hitting. Throws Failure (status 2).
void check_settings(const Study& study, std::span<const std::string_view> given, Spelling spelling);

}  // namespace blocklevels
