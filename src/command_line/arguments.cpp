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

// The arguments read as the parser reads them (an option taking a value
// takes the next argument, whatever it is, unless given as --option=value),
// to say in this program's words what it would refuse: an unknown option
// or an argument that is no option's value, or one too many for a command
// that takes arguments of its own (the first of them; all give way to
// --help and --version), then an option given twice. A flag given
// twice says the same thing twice and is taken.
void check_arguments(const CLI::App& app, int argc, char** argv, const std::string& command) {
  const std::string prefix = command.empty() ? "" : command + ": ";
  const std::string help = " (" + help_command(command) + " lists the options)";
  // How many arguments that name no option the command takes (TABLE
  // FIGURE, FILE...): beyond them, an argument is too many.
  std::size_t positionals = 0, positionals_seen = 0;
  for (const CLI::Option* option :
       app.get_options([](const CLI::Option* o) { return o->get_positional(); })) {
    positionals += static_cast<std::size_t>(option->get_items_expected_max());
  }
  std::string first_problem;
  const CLI::Option* repeated = nullptr;
  bool asks_help = false;
  std::vector<const CLI::Option*> given;
  // Why the argument after this one may be a value: an option before it.
  std::string after;
  for (int n = 1; n < argc; ++n) {
    const std::string argument = argv[n];
    std::string name, value;
    if (!split_option(argument, name, value)) {
      if (positionals_seen < positionals) {
        ++positionals_seen;
      } else if (first_problem.empty() && positionals > 0) {
        first_problem = "'" + argument + "' is one argument too many" + help;
      } else if (first_problem.empty()) {
        first_problem =
            "'" + argument + "' is not an option's value" + (after.empty() ? help : after);
      }
      after.clear();
      continue;
    }
    const CLI::Option* option = app.get_option_no_throw(name);
    after.clear();
    if (option == nullptr) {
      if (first_problem.empty()) {
        const std::string typed = argument.substr(0, argument.find('='));
        const std::string nearest = nearest_option(app, typed);
        first_problem = "unknown option " + typed +
                        (nearest.empty() ? help : "; did you mean " + nearest + "?");
      }
      continue;
    }
    const std::string option_name = option->get_name();
    if (option->get_items_expected_max() == 0) {
      asks_help = asks_help || option == app.get_help_ptr() || option == app.get_version_ptr();
      after = ": " + option_name + " takes none";
      continue;
    }
    if (value.empty() && n + 1 < argc) {
      value = argv[++n];
      std::string taken_name, taken_value;
      if (split_option(value, taken_name, taken_value)) {
        after = " (" + option_name + " took '" + value + "' as its value)";
      }
    }
    if (after.empty() && takes_a_list(*option)) after = " (a list is " + option_name + " 1,2,3)";
    if (std::find(given.begin(), given.end(), option) != given.end()) {
      if (repeated == nullptr) repeated = option;
    } else {
      given.push_back(option);
    }
  }
  if (!first_problem.empty() && !asks_help) refuse(prefix + first_problem);
  if (repeated != nullptr) {
    const std::string option = repeated->get_name();
    refuse(prefix + option + " was given twice; give it once" +
           (takes_a_list(*repeated) ? " (a list is " + option + " 1,2,3)" : ""));
  }
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
