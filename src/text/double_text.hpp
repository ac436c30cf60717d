// Doubles as the tables write them: the shortest text that reads back to
// the same double, and reading such text back.
#pragma once

#include <string>
#include <string_view>

namespace blocklevels {

// Appends the shortest decimal text of v that reads back to the same double
// (NaN appends nothing: an undefined value is an empty field).
void append_shortest(std::string& out, double v);

// Reads a whole field as a double, the way append_shortest's text reads
// back. False unless every character of the field takes part.
bool read_double(std::string_view text, double& v);

}  // namespace blocklevels
