// Running out of memory stops a run as its arithmetic does, with a number:
// 203. Every place where a std::bad_alloc can reach a front end or a
// point's result passes through this one helper, so that the number and
// the place are found the same way everywhere.
#pragma once

#include <new>
#include <utility>

#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"

namespace blocklevels {

// work(), with a std::bad_alloc it throws turned into Stop(203) placed
// here. What else it throws passes through unchanged.
template <class Work>
decltype(auto) stop_when_out_of_memory(Work&& work) {
  try {
    return std::forward<Work>(work)();
  } catch (const std::bad_alloc&) {
    throw_stop(kOutOfMemory);
  }
}

}  // namespace blocklevels
