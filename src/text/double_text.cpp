#include "text/double_text.hpp"

#include <charconv>

namespace blocklevels {

void append_shortest(std::string& out, double v) {
  if (v != v) return;
  char digits[32];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, v).ptr);
}

bool read_double(std::string_view text, double& v) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace blocklevels
