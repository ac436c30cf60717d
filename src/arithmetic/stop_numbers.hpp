// The numbers a stopped run exits with, and what each means. The stop path,
// the command line's worded messages, the tests and the tables of exit
// statuses (docs/dialogue.md, the README) all take them from here.
#pragma once

#include <string_view>

namespace blocklevels {

enum StopNumber : int {
  kPathNotFound = 3,
  kAccessDenied = 5,
  kFileInUse = 32,
  kInvalidNumericInput = 106,
  kDiskFull = 112,
  kInvalidName = 123,
  kDivisionByZero = 200,
  kStackOverflow = 202,
  kOutOfMemory = 203,
  kFloatOverflow = 205,
  kInvalidOperation = 207,
  kAccessViolation = 216,
  kOtherTrap = 255,
};

struct StopMeaning {
  int number;
  std::string_view meaning;
};

// Every named number with its meaning, in ascending order.
inline constexpr StopMeaning kStopMeanings[] = {
    {kPathNotFound, "path not found"},
    {kAccessDenied, "access denied"},
    {kFileInUse, "file in use"},
    {kInvalidNumericInput, "invalid numeric input"},
    {kDiskFull, "disk full"},
    {kInvalidName, "invalid file name"},
    {kDivisionByZero, "division by zero"},
    {kStackOverflow, "stack overflow"},
    {kOutOfMemory, "out of memory"},
    {kFloatOverflow, "floating-point overflow"},
    {kInvalidOperation, "invalid floating-point operation"},
    {kAccessViolation, "invalid memory access"},
    {kOtherTrap, "processor trap"},
};

// The meaning of a stop number; any other number is an operating system
// error number (its low 8 bits). Async-signal-safe.
std::string_view stop_meaning(int number);

}  // namespace blocklevels
