// Processor traps, interrupts and allocation failures. Every trap ends the run
// through the stop report; an interrupt (SIGINT, SIGTERM, SIGHUP) ends it by
// the same signal after the buffered output has been written out.
#pragma once

#include <csignal>

namespace blocklevels::runtime {

// Unmasks the trapped floating-point exceptions: invalid operation, division
// by zero and overflow. Underflow, denormal operands and inexact results stay
// quiet. Also sets round-to-nearest and, for x87, the 64-bit significand.
void enable_float_traps();

// Installs everything at start-up: the load address for stop reports, the
// alternate signal stack, the signal handlers, the allocation-failure handler
// and the float traps. A broken pipe becomes an ordinary write error.
void install_traps();

// While an IoSection lives, the buffers of the run-wide streams may be
// inconsistent, so an interrupt (or a signal sent by another process) is held
// back until the section ends and then acted on.
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

}  // namespace blocklevels::runtime
