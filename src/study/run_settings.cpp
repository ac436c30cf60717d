#include "study/run_settings.hpp"

#include <string>

#include "errors/failure.hpp"
#include "sweep/option_values.hpp"
#include "text/double_text.hpp"

namespace blocklevels {
namespace {

using enum SettingKind;

constexpr SettingDescription kSettings[] = {
    {.name = "runs",
     .option = "--simulate",
     .value_name = "R",
     .meaning = "also simulate the real algorithm R times",
     .kind = count},
    {.name = "seed",
     .option = "--seed",
     .value_name = "S",
     .meaning = "the simulation's seed, 0 to 2^64 - 1 (default 1)",
     .kind = seed,
     .default_text = "1",
     .needs = "runs"},
    {.name = "jobs",
     .option = "--jobs",
     .value_name = "N",
     .meaning = "points (and simulated runs) run in parallel (default: all cores)",
     .kind = count},
    {.name = "find",
     .option = "--find",
     .value_name = "PARAM:LOW:HIGH",
     .meaning = "the value of PARAM (lambda, mu, pmut, ...) in [LOW, HIGH] at which the "
                "quantity of --where crosses its value at the final generation",
     .kind = search},
    {.name = "where",
     .option = "--where",
     .value_name = "Q=V",
     .meaning = "Q=V for --find: Q is X<j>, Xtop or mean_level",
     .kind = condition,
     .needs = "find"},
    {.name = "grid",
     .option = "--find-grid",
     .value_name = "N",
     .meaning = "the values of PARAM --find tries before it refines, 2 to 4096 (default 64)",
     .kind = count,
     .lowest = 2,
     .highest = 4096,
     .default_text = "64",
     .needs = "find"},
    {.name = "hitting",
     .option = "--hitting",
     .value_name = "Q=V",
     .meaning = "the first generation at which Q reaches V (and each simulated run's)",
     .kind = condition},
    {.name = "hitting_runs",
     .option = "--hitting-runs",
     .value_name = "",
     .meaning = "also each simulated run's own hitting time, a row per run in the table "
                "(its run column)",
     .kind = flag,
     .needs = "hitting"},
    {.name = "zip",
     .option = "--zip",
     .value_name = "P,Q,...",
     .meaning = "the lists of these parameters advance together instead of forming a "
                "product (equal lengths); the product runs over the rest",
     .kind = zip},
    {.name = "mu_ratio",
     .option = "--mu-ratio",
     .value_name = "R",
     .meaning = "mu as a ratio of lambda, in place of --mu: mu is R x lambda rounded to the "
                "nearest integer (halves up), 0 < R <= 1; a value, list or range",
     .kind = ratio},
};

// "--simulate: 'x'" or "runs='x'": how a refusal of `text` begins; a
// number's own value is not quoted ("--simulate: 0 is below 1").
std::string refused(const SettingDescription& s, std::string_view text, Spelling spelling,
                    bool quote = true) {
  const std::string value = quote ? "'" + std::string(text) + "'" : std::string(text);
  if (spelling == Spelling::option) return std::string(s.option) + ": " + value;
  return std::string(s.name) + "=" + value;
}

[[noreturn]] void refuse(std::string message) {
  throw Failure(kBadUsage, std::move(message));
}

std::int32_t read_count(const SettingDescription& s, std::string_view text, Spelling spelling) {
  std::int32_t value = 0;
  try {
    value = one_integer(s.option, text);
  } catch (const Failure&) {
    refuse(refused(s, text, spelling) + " is not one integer");
  }
  if (value < s.lowest || value > s.highest) {
    refuse(refused(s, text, spelling, false) + (value < s.lowest ? " is below " : " is above ") +
           std::to_string(value < s.lowest ? s.lowest : s.highest));
  }
  return value;
}

Condition read_condition(const SettingDescription& s, std::string_view text, Spelling spelling) {
  std::optional<Condition> condition = parse_condition(text);
  if (!condition)
    refuse(refused(s, text, spelling) + " is not Q=V with Q one of X<j>, Xtop, mean_level");
  std::vector<RealValue> value;
  try {
    value = real_values(s.option, condition->value_text);
  } catch (const Failure&) {
    refuse(refused(s, text, spelling) + ": '" + condition->value_text + "' is not a number");
  }
  if (value.size() != 1)
    refuse(refused(s, text, spelling) + ": '" + condition->value_text + "' is not one number");
  // The double the text names, as a table's value reads back.
  std::string_view digits = condition->value_text;
  if (digits.starts_with('+')) digits.remove_prefix(1);
  if (!read_double(digits, condition->value)) {
    refuse(refused(s, text, spelling) + ": '" + condition->value_text + "' is not a double");
  }
  return *condition;
}

// PARAM:LOW:HIGH: the parameter, and both ends valid for it.
ThresholdSearch read_search(const SettingDescription& s, std::string_view text, Spelling spelling,
                            std::string& range) {
  const std::size_t colon = text.find(':');
  const ParameterDescription* parameter =
      colon == std::string_view::npos ? nullptr : find_parameter(text.substr(0, colon));
  range = colon == std::string_view::npos ? "" : std::string(text.substr(colon + 1));
  const std::size_t second = range.find(':');
  if (parameter == nullptr || parameter->kind == ParameterKind::choice ||
      second == std::string::npos || range.find(':', second + 1) != std::string::npos) {
    refuse(refused(s, text, spelling) +
           " is not PARAM:LOW:HIGH with PARAM a numeric parameter's name");
  }
  ThresholdSearch search;
  search.parameter = parameter;
  const std::string ends[] = {range.substr(0, second), range.substr(second + 1)};
  long double values[2] = {};
  for (int n = 0; n < 2; ++n) {
    if (parameter->kind == ParameterKind::real) {
      const std::vector<RealValue> v = real_values(s.option, ends[n]);
      if (v.size() != 1) refuse(refused(s, ends[n], spelling) + " is not one number");
      values[n] = v[0].value;
    } else {
      values[n] = one_integer(s.option, ends[n]);
    }
    if (auto why = value_refusal(*parameter, values[n], ends[n], spelling)) {
      refuse(std::string(spelled(s, spelling)) + ": " + why->message());
    }
  }
  if (!(values[0] < values[1])) refuse(refused(s, text, spelling) + " needs LOW below HIGH");
  search.low = values[0];
  search.high = values[1];
  return search;
}

// P,Q,...: two or more parameters by name (or, in Python's spelling, by
// keyword too).
std::vector<const ParameterDescription*> read_zip(const SettingDescription& s,
                                                  std::string_view text, Spelling spelling) {
  std::vector<const ParameterDescription*> zip;
  for (std::size_t from = 0; from <= text.size();) {
    std::size_t comma = text.find(',', from);
    if (comma == std::string_view::npos) comma = text.size();
    const std::string_view name = text.substr(from, comma - from);
    from = comma + 1;
    const ParameterDescription* d = find_parameter(name);
    if (d == nullptr && spelling == Spelling::keyword) d = find_keyword(name);
    if (d == nullptr) {
      std::string names;
      for (const ParameterDescription& p : parameter_table()) {
        names += (names.empty() ? "" : ", ") + std::string(p.name);
      }
      refuse(refused(s, name, spelling) + " is not a parameter's name (" + names + ")");
    }
    zip.push_back(d);
  }
  if (zip.size() < 2) refuse(refused(s, text, spelling) + ": name two or more parameters");
  return zip;
}

// "--where: only --find takes it", or "where=...: only find takes it".
std::string only_find(const SettingDescription& s, Spelling spelling) {
  return std::string(spelled(s, spelling)) + ": only " +
         std::string(spelled(*find_setting("find"), spelling)) + " takes it";
}

}  // namespace

std::span<const SettingDescription> setting_table() {
  return kSettings;
}

const SettingDescription* find_setting(std::string_view name) {
  for (const SettingDescription& s : kSettings) {
    if (s.name == name) return &s;
  }
  return nullptr;
}

std::string_view spelled(const SettingDescription& setting, Spelling spelling) {
  return spelling == Spelling::option ? setting.option : setting.name;
}

void apply_setting(Study& study, const SettingDescription& setting, std::string_view text,
                   Spelling spelling) {
  const std::string_view name = setting.name;
  if (name == "runs") {
    study.simulate_runs = read_count(setting, text, spelling);
  } else if (name == "seed") {
    try {
      study.seed = seed_value(setting.option, text);
    } catch (const Failure&) {
      refuse(refused(setting, text, spelling) + " is not a seed from 0 to 18446744073709551615");
    }
  } else if (name == "jobs") {
    study.jobs = read_count(setting, text, spelling);
  } else if (name == "find") {
    study.find = read_search(setting, text, spelling, study.find_range);
  } else if (name == "where") {
    if (!study.find) refuse(only_find(setting, spelling));
    study.find->condition = read_condition(setting, text, spelling);
  } else if (name == "grid") {
    if (!study.find) refuse(only_find(setting, spelling));
    study.find->grid = read_count(setting, text, spelling);
  } else if (name == "hitting") {
    study.hitting = read_condition(setting, text, spelling);
  } else if (name == "zip") {
    study.zip = read_zip(setting, text, spelling);
  } else if (name == "mu_ratio") {
    study.mu_ratio = text;
  } else if (setting.kind == SettingKind::flag) {
    // The command line gives "true"; Python True or False.
    if (text != "true" && text != "false")
      refuse(refused(setting, text, spelling) + " is not true or false");
    study.hitting_runs = text == "true";
  }
}

bool before_points(const SettingDescription& setting) {
  return setting.kind == SettingKind::search || setting.kind == SettingKind::zip ||
         setting.kind == SettingKind::ratio;
}

Zip zip_of(const Study& study, Spelling spelling) {
  return {study.zip, std::string(spelled(*find_setting("zip"), spelling))};
}

ParameterValues ratio_values(const Study& study, Spelling spelling) {
  const SettingDescription& s = *find_setting("mu_ratio");
  const std::string name(spelled(s, spelling));
  ParameterValues values;
  for (RealValue& v : real_values(name, study.mu_ratio)) {
    if (!(v.value > 0 && v.value <= 1)) {
      refuse(refused(s, v.text, spelling, false) + " is outside (0, 1]: mu is 1 to lambda");
    }
    values.numbers.push_back(v.value);
    values.texts.push_back(std::move(v.text));
  }
  values.ratio_of = find_parameter("lambda");
  values.ratio_name = name;
  return values;
}

}  // namespace blocklevels

namespace blocklevels {
namespace {

bool was_given(std::span<const std::string_view> given, std::string_view name) {
  for (const std::string_view g : given) {
    if (g == name) return true;
  }
  return false;
}

std::string say(std::string_view name, Spelling spelling) {
  return std::string(spelled(*find_setting(name), spelling));
}

// A search moves one parameter: every point must be valid at both ends.
void check_search_ends(const Study& study, Spelling spelling) {
  for (Point point : study.points) {
    for (const long double end : {study.find->low, study.find->high}) {
      set_parameter(point, *study.find->parameter, end, "");
      for (const ParameterDescription& d : parameter_table()) {
        if (auto why = bound_refusal(point, d, spelling)) {
          refuse(say("find", spelling) + " " + study.find_range + ": " + why->message());
        }
      }
    }
  }
}
// The literal evaluation is the level model's as the dialogue computes it;
// the block-state model has no such form, and a row naming both would say
// something no computation did.
void check_model_arithmetic(const Study& study, Spelling spelling) {
  for (const Point& point : study.points) {
    if (point.p.model == ModelKind::block_state && point.p.arithmetic == Arithmetic::literal) {
      refuse(std::string(spelled(*find_parameter("arithmetic"), spelling)) +
             ": literal is the level model's evaluation (the dialogue's); the block-state model " +
             "computes without cancellation only: give accurate, or model level");
    }
  }
}

}  // namespace

void check_settings(const Study& study, std::span<const std::string_view> given,
                    Spelling spelling) {
  if (study.find && !was_given(given, "where")) {
    refuse(say("find", spelling) + ": " + say("where", spelling) + " Q=V says what to find");
  }
  if (study.find) check_search_ends(study, spelling);
  check_model_arithmetic(study, spelling);
  if (study.find && was_given(given, "hitting")) {
    refuse(say("hitting", spelling) + ": " + say("find", spelling) + " and " +
           say("hitting", spelling) + " ask different questions; give one");
  }
  if (was_given(given, "seed") && !was_given(given, "runs")) {
    refuse(say("seed", spelling) + ": only a simulation takes a seed");
  }
  if (study.hitting_runs && (!study.hitting || study.simulate_runs == 0)) {
    refuse(say("hitting_runs", spelling) + ": only simulated runs of " + say("hitting", spelling) +
           " Q=V have hitting times of their own; give both " + say("hitting", spelling) + " and " +
           say("runs", spelling));
  }
}

}  // namespace blocklevels
