// Interrupts for a process that must finish its work before it ends (a
// study's process, which writes out every point its children finished).
// The first SIGINT, SIGTERM or SIGHUP is recorded instead of acted on, and
// wakes the process through a pipe it polls; a second one ends the process
// at once, as an interrupt always does. Child processes started afterwards
// go back to the usual handling.
#pragma once

namespace blocklevels::runtime {

// Switches to deferred interrupts. Returns the read end of the wake pipe:
// non-blocking, readable once an interrupt has come.
int defer_interrupts();

// The interrupt that came, 0 while none has.
int pending_interrupt() noexcept;

// In a new child process: interrupts are acted on at once again.
void act_on_interrupts_at_once() noexcept;

// Called by the interrupt handler. True when the interrupt was recorded
// (deferred and the first); false when it must be acted on now.
// Async-signal-safe.
bool defer_interrupt(int signal) noexcept;

}  // namespace blocklevels::runtime
