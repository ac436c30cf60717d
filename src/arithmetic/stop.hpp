// A run that cannot go on. Whatever finds the failure (the model's
// arithmetic, a write, a read) throws a Stop carrying the stop number and
// the code address where it was found; a front end decides what a stop
// means for the process: the dialogue's stop report, a point's failure, a
// Python exception.
#pragma once

#include <cstdint>
#include <exception>

namespace blocklevels {

class Stop : public std::exception {
 public:
  Stop(int number, std::uintptr_t place) noexcept : number_(number), place_(place) {}

  // One of the stop numbers (arithmetic/stop_numbers.hpp), or an operating
  // system error number reduced to 8 bits.
  int number() const noexcept { return number_; }
  // The code address at which the failure was found; 0 when there is none.
  std::uintptr_t place() const noexcept { return place_; }
  // The meaning of the number, in words.
  const char* what() const noexcept override;

 private:
  int number_;
  std::uintptr_t place_;
};

// Throws Stop(number) placed at the call: the return address, one byte back
// so that it lies inside the call instruction and names the caller's line.
// Never inlined, so that the address is the caller's.
[[noreturn, gnu::noinline]] void throw_stop(int number);

}  // namespace blocklevels
