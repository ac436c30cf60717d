// A failure that a front end reports in words and ends with, raised where it
// is found: a refused option, a file that cannot be read or written, a
// table that does not belong, a point that stopped. The message names what
// failed (the option, the file or the point) in the program's own words.
#pragma once

#include <exception>
#include <string>

namespace blocklevels {

class Failure : public std::exception {
 public:
  Failure(int status, std::string message) : status_(status), message_(std::move(message)) {}

  // The exit status: 1 an output refused, 2 a bad option or table, or a
  // stop number.
  int status() const noexcept { return status_; }
  const std::string& message() const noexcept { return message_; }
  const char* what() const noexcept override;

 private:
  int status_;
  std::string message_;
};

// Exit statuses of refusals, beside the stop numbers.
inline constexpr int kOutputRefused = 1;
inline constexpr int kBadUsage = 2;

}  // namespace blocklevels
