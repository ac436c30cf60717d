#include "arithmetic/extended_arithmetic.hpp"

namespace blocklevels {
namespace {

// x87 control word: every exception masked (bits 0-5), a 64-bit significand
// (precision control 11), round to nearest (rounding control 00).
constexpr unsigned short kExtendedNoTraps = 0x037F;

// x87 status word flags.
constexpr unsigned kInvalid = 0x01;
constexpr unsigned kZeroDivide = 0x04;
constexpr unsigned kOverflow = 0x08;

}  // namespace

ExtendedArithmetic::ExtendedArithmetic() noexcept {
  // Saves the whole environment, clears the flags and masks every exception,
  // the SSE ones included.
  std::feholdexcept(&saved_);
  asm volatile("fldcw %0" : : "m"(kExtendedNoTraps));
}

ExtendedArithmetic::~ExtendedArithmetic() {
  std::fesetenv(&saved_);
}

RaisedFlags raised_flags() noexcept {
  unsigned short status = 0;
  asm volatile("fnstsw %0" : "=m"(status) : : "memory");
  return {(status & kInvalid) != 0, (status & kZeroDivide) != 0, (status & kOverflow) != 0};
}

void clear_raised_flags() noexcept {
  asm volatile("fnclex" : : : "memory");
}

}  // namespace blocklevels
