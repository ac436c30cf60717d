// blocklevels_manual_page TEMPLATE OUTPUT: the manual page from its
// template, each marker line replaced with what the program's own option
// parsers hold: ".\" @OPTIONS@" with the study's options, ".\" @COMMANDS@"
// with the commands and their options. The options are the ones --help
// lists, so that the manual lists every one and only those.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "command_line/commands.hpp"

namespace {

// Text as roff: a backslash and a minus escaped, newlines as spaces.
std::string roff(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c == '\n' ? ' ' : c;
    }
  }
  return out;
}

// A paragraph of text, safe at the start of a line.
std::string text_line(const std::string& text) {
  const std::string line = roff(text);
  return (line.starts_with(".") || line.starts_with("'") ? "\\&" : "") + line + "\n";
}

// ".TP" and the option's names in bold (an argument's in italics), its
// value's name in italics, then its help.
std::string option_entry(const blocklevels::OptionHelp& option) {
  std::string entry = ".TP\n";
  if (!option.names.starts_with("-")) {
    entry += ".I " + roff(option.names) + "\n";
  } else {
    std::string names;
    for (std::size_t from = 0; from <= option.names.size();) {
      std::size_t comma = option.names.find(',', from);
      if (comma == std::string::npos) comma = option.names.size();
      names += (names.empty() ? "" : " \", \" ") + roff(option.names.substr(from, comma - from));
      from = comma + 1;
    }
    entry += option.value.empty() ? (names.find(' ') == std::string::npos ? ".B " : ".BR ") + names
                                  : ".BI " + names + " \" " + roff(option.value) + "\"";
    entry += "\n";
  }
  return entry + text_line(option.meaning);
}

std::string options_section(const blocklevels::CommandHelp& command) {
  std::string text;
  for (const blocklevels::OptionHelp& option : command.options) text += option_entry(option);
  return text;
}

std::string commands_section(const std::vector<blocklevels::CommandHelp>& commands) {
  std::string text;
  for (std::size_t n = 1; n < commands.size(); ++n) {
    const blocklevels::CommandHelp& c = commands[n];
    std::string arguments;
    for (const blocklevels::OptionHelp& o : c.options) {
      if (!o.names.starts_with("-")) arguments += " " + o.names + (o.names == "FILE" ? "..." : "");
    }
    text += ".SS " + roff(c.usage + arguments + " [options]") + "\n";
    text += text_line(c.meaning.substr(c.meaning.find(':') + 2));
    text += options_section(c);
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: blocklevels_manual_page TEMPLATE OUTPUT\n";
    return 2;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::cerr << "blocklevels_manual_page: cannot read " << argv[1] << "\n";
    return 1;
  }
  const std::vector<blocklevels::CommandHelp> commands = blocklevels::commands_help();
  std::ostringstream out;
  for (std::string line; std::getline(in, line);) {
    if (line == ".\\\" @OPTIONS@") {
      out << options_section(commands[0]);
    } else if (line == ".\\\" @COMMANDS@") {
      out << commands_section(commands);
    } else {
      out << line << "\n";
    }
  }
  std::ofstream file(argv[2]);
  file << out.str();
  return file.good() ? 0 : 1;
}
