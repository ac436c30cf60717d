#include "runtime/io_section.hpp"

#include <signal.h>

#include <atomic>
#include <exception>

#include "runtime/stop_report.hpp"

namespace blocklevels::runtime {
namespace {

volatile sig_atomic_t depth = 0;
volatile sig_atomic_t held_signal = 0;
volatile sig_atomic_t held_stop_number = 0;
volatile std::uintptr_t held_place = 0;

}  // namespace

IoSection::IoSection() : outer_(depth == 0) {
  depth = depth + 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

IoSection::~IoSection() {
  std::atomic_signal_fence(std::memory_order_seq_cst);
  depth = depth - 1;
  if (!outer_ || held_signal == 0) return;
  // A section left by a Stop on its way to the stop path: that path holds
  // every signal back and reports the stop, which came first. (No write
  // statement runs while an exception unwinds, so any exception in flight
  // is the one leaving this section.)
  if (std::uncaught_exceptions() > 0) return;
  const int signal = held_signal;
  held_signal = 0;
  if (held_stop_number != 0) stop_run_at(held_stop_number, held_place);
  end_by_signal(signal);
}

bool IoSection::interrupt_pending() const {
  return held_signal != 0;
}

bool hold_if_in_section(int signal, int stop_number, std::uintptr_t place) {
  if (depth == 0) return false;
  held_stop_number = stop_number;
  held_place = place;
  held_signal = signal;
  return true;
}

}  // namespace blocklevels::runtime
