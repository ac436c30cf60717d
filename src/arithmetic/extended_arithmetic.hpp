// The floating-point environment every real computation of the program runs
// in, set up and taken down around it, so that a caller (a Python session,
// a test, the dialogue with its processor traps) gets its own back unchanged.
#pragma once

#include <cfenv>

#include "arithmetic/extended_real.hpp"

namespace blocklevels {

// While one exists, the calling thread computes in the x87 extended format
// with a 64-bit significand, rounding to nearest with ties to even, and no
// floating-point exception traps: an invalid operation, a division by zero
// or an overflow only raises its flag, all flags start cleared, and the
// computation tests them where it can tell which failure came first.
// Destroying it restores the environment it found (the x87 control and
// status words and the SSE control and status register), flags included.
// Scopes nest; each belongs to one thread.
class ExtendedArithmetic {
 public:
  ExtendedArithmetic() noexcept;
  ~ExtendedArithmetic();
  ExtendedArithmetic(const ExtendedArithmetic&) = delete;
  ExtendedArithmetic& operator=(const ExtendedArithmetic&) = delete;

 private:
  std::fenv_t saved_;
};

// The x87 exception flags raised since the innermost ExtendedArithmetic
// scope was entered.
struct RaisedFlags {
  bool invalid = false;
  bool division_by_zero = false;
  bool overflow = false;
  bool any() const { return invalid || division_by_zero || overflow; }
};

// Reads the flags. Not inlined: everything computed before the call is
// done, and stored, when it reads them.
RaisedFlags raised_flags() noexcept;

// Clears every x87 exception flag, so that the next raised_flags() sees
// only what is computed after this call.
void clear_raised_flags() noexcept;

}  // namespace blocklevels
