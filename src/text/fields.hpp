// Splitting text at a separator: the one splitter for CSV rows, option
// values and lines.
#pragma once

#include <string_view>
#include <vector>

namespace blocklevels {

// The parts of `text` between separators: n separators give n + 1 parts
// (empty ones included); "" gives one empty part.
std::vector<std::string_view> split(std::string_view text, char separator);

}  // namespace blocklevels
