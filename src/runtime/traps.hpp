// Processor traps and interrupts, for a process that runs a front end (the
// dialogue, the command line), never for the library. Every trap ends the
// process through the stop path with its number; an interrupt (SIGINT,
// SIGTERM, SIGHUP) ends it by the same signal after the buffered output has
// been written out. The model's own arithmetic never traps: it runs in an
// ExtendedArithmetic scope and reports its failures as Stop values; the
// float traps are the net under everything else.
#pragma once

namespace blocklevels::runtime {

// Sets the x87 control word for the whole run: round to nearest, the 64-bit
// significand, and traps for invalid operations, division by zero and
// overflow; underflow, denormal operands and inexact results stay quiet.
// A new thread starts with the control word of the thread that made it.
void enable_float_traps();

// Installs everything at start-up: the load address for stop places, the
// alternate signal stack, the signal handlers and the float traps. A broken
// pipe becomes an ordinary write error.
void install_traps();

}  // namespace blocklevels::runtime
