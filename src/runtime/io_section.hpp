// Sections in which the run's stream buffers may be inconsistent. An
// interrupt, or a trap signal sent by another process, that arrives inside
// one is held back and acted on when the outermost section ends, so that what
// the stop path writes out ends with whole lines.
#pragma once

#include <cstdint>

namespace blocklevels::runtime {

class IoSection {
 public:
  IoSection();
  ~IoSection();
  IoSection(const IoSection&) = delete;
  IoSection& operator=(const IoSection&) = delete;
  // True when a signal arrived during the section and waits to be acted on.
  bool interrupt_pending() const;

 private:
  bool outer_;
};

// Called by the signal handlers. Inside a section the signal is recorded
// (with the stop number and place of a trap signal, or 0 for an interrupt)
// and true is returned; outside, false. Async-signal-safe.
bool hold_if_in_section(int signal, int stop_number, std::uintptr_t place);

}  // namespace blocklevels::runtime
