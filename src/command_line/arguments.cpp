#include "command_line/arguments.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <string_view>
#include <vector>

#include "errors/failure.hpp"
#include "parameters/parameter_table.hpp"
#include "text/edit_distance.hpp"

namespace blocklevels {
namespace {

[[noreturn]] void refuse(std::string message) {
  throw Failure(kBadUsage, std::move(message));
}

std::string help_command(const std::string& command) {
  return command.empty() ? "blocklevels --help" : "blocklevels " + command + " --help";
}

// "--lambda" for "--lamda", "" when no option is near enough.
std::string nearest_option(const CLI::App& app, std::string_view typed) {
  std::vector<std::string> names;
  for (const CLI::Option* option : app.get_options()) {
    for (const std::string& name : option->get_lnames()) names.push_back(name);
  }
  const std::vector<std::string_view> views(names.begin(), names.end());
  const std::size_t dashes = typed.starts_with("--") ? 2 : 1;
  const std::string_view nearest = closest_name(typed.substr(dashes), views);
  return nearest.empty() ? "" : "--" + std::string(nearest);
}

// Whether an option's values may be a list: the parameters'.
bool takes_a_list(const CLI::Option& option) {
  for (const ParameterDescription& d : parameter_table()) {
    if (option.check_name(std::string(d.option))) return true;
  }
  return false;
}

// An argument that names an option as the parser splits it: "--name",
// "--name=value", "-n" or "-nvalue"; "-5" is a value (no option is "-5").
bool split_option(const std::string& argument, std::string& name, std::string& value) {
  if (CLI::detail::split_long(argument, name, value)) {
    name = "--" + name;
    return true;
  }
  if (CLI::detail::split_short(argument, name, value) && (name[0] < '0' || name[0] > '9')) {
    name = "-" + name;
    return true;
  }
  return false;
}

// How many arguments that name no option the command takes (TABLE
// FIGURE, FILE...): beyond them, an argument is too many.
std::size_t positional_count(const CLI::App& app) {
  std::size_t positionals = 0;
  for (const CLI::Option* option :
       app.get_options([](const CLI::Option* o) { return o->get_positional(); })) {
    positionals += static_cast<std::size_t>(option->get_items_expected_max());
  }
  return positionals;
}

// The arguments read one after another, as the parser reads them: what
// check_arguments has found so far.
class ArgumentReading {
 public:
  ArgumentReading(const CLI::App& app, const std::string& command)
      : app_(app),
        help_(" (" + help_command(command) + " lists the options)"),
        positionals_(positional_count(app)) {}

  // Reads argv[n] and, for an option that takes one, its value; returns
  // the index of the last argument read.
  int read(int argc, char** argv, int n) {
    const std::string argument = argv[n];
    std::string name, value;
    if (!split_option(argument, name, value)) {
      not_an_option(argument);
      return n;
    }
    const CLI::Option* option = app_.get_option_no_throw(name);
    after_.clear();
    if (option == nullptr) {
      unknown_option(argument);
      return n;
    }
    if (option->get_items_expected_max() == 0) {
      asks_help_ = asks_help_ || option == app_.get_help_ptr() || option == app_.get_version_ptr();
      after_ = ": " + option->get_name() + " takes none";
      return n;
    }
    if (value.empty() && n + 1 < argc) taken_value(*option, argv[++n]);
    count_given(*option);
    return n;
  }

  // The first problem found, unless --help or --version was asked; then an
  // option given twice.
  void refuse_what_was_found(const std::string& prefix) const {
    if (!first_problem_.empty() && !asks_help_) refuse(prefix + first_problem_);
    if (repeated_ != nullptr) {
      const std::string option = repeated_->get_name();
      refuse(prefix + option + " was given twice; give it once" +
             (takes_a_list(*repeated_) ? " (a list is " + option + " 1,2,3)" : ""));
    }
  }

 private:
  void not_an_option(const std::string& argument) {
    if (positionals_seen_ < positionals_) {
      ++positionals_seen_;
    } else if (first_problem_.empty() && positionals_ > 0) {
      first_problem_ = "'" + argument + "' is one argument too many" + help_;
    } else if (first_problem_.empty()) {
      first_problem_ =
          "'" + argument + "' is not an option's value" + (after_.empty() ? help_ : after_);
    }
    after_.clear();
  }

  void unknown_option(const std::string& argument) {
    if (!first_problem_.empty()) return;
    const std::string typed = argument.substr(0, argument.find('='));
    const std::string nearest = nearest_option(app_, typed);
    first_problem_ =
        "unknown option " + typed + (nearest.empty() ? help_ : "; did you mean " + nearest + "?");
  }

  // The next argument taken as `option`'s value, whatever it is.
  void taken_value(const CLI::Option& option, const std::string& value) {
    std::string name, rest;
    if (split_option(value, name, rest)) {
      after_ = " (" + option.get_name() + " took '" + value + "' as its value)";
    }
  }

  void count_given(const CLI::Option& option) {
    if (after_.empty() && takes_a_list(option)) {
      after_ = " (a list is " + option.get_name() + " 1,2,3)";
    }
    if (std::find(given_.begin(), given_.end(), &option) != given_.end()) {
      if (repeated_ == nullptr) repeated_ = &option;
    } else {
      given_.push_back(&option);
    }
  }

  const CLI::App& app_;
  const std::string help_;
  const std::size_t positionals_;
  std::size_t positionals_seen_ = 0;
  std::string first_problem_;
  const CLI::Option* repeated_ = nullptr;
  bool asks_help_ = false;
  std::vector<const CLI::Option*> given_;
  // Why the argument after this one may be a value: an option before it.
  std::string after_;
};

// The arguments read as the parser reads them (an option taking a value
// takes the next argument, whatever it is, unless given as --option=value),
// to say in this program's words what it would refuse: an unknown option
// or an argument that is no option's value, or one too many for a command
// that takes arguments of its own (the first of them; all give way to
// --help and --version), then an option given twice. A flag given
// twice says the same thing twice and is taken.
void check_arguments(const CLI::App& app, int argc, char** argv, const std::string& command) {
  ArgumentReading reading(app, command);
  for (int n = 1; n < argc; ++n) n = reading.read(argc, argv, n);
  reading.refuse_what_was_found(command.empty() ? "" : command + ": ");
}

}  // namespace

bool parse_arguments(CLI::App& app, int argc, char** argv, const std::string& command) {
  check_arguments(app, argc, argv, command);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return false;
  } catch (const CLI::CallForVersion& e) {
    std::cout << e.what() << '\n';
    return false;
  } catch (const CLI::ParseError& e) {
    if (command.empty()) {
      refuse(std::string(e.what()) + "\n(" + help_command(command) + " lists the options)");
    }
    refuse(command + ": " + e.what());
  }
  return true;
}

}  // namespace blocklevels
