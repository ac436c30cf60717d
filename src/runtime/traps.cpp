#include "runtime/traps.hpp"

#include <fenv.h>
#include <pthread.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdint>

#include "arithmetic/stop_numbers.hpp"
#include "runtime/code_place.hpp"
#include "runtime/deferred_interrupts.hpp"
#include "runtime/io_section.hpp"
#include "runtime/signals.hpp"
#include "runtime/stop_report.hpp"

namespace blocklevels::runtime {
namespace {

// x87 control word: all exceptions masked (unmasked below), 64-bit
// significand, round to nearest.
constexpr unsigned short kExtendedPrecisionControl = 0x037F;
// x87 status word: exception summary bit.
constexpr unsigned kX87ExceptionSummary = 0x80;

// The lowest address of the main thread's stack; a fault just below it is a
// stack overflow.
std::uintptr_t stack_low = 0;
constexpr std::uintptr_t kStackOverflowZone = std::uintptr_t{1} << 20;
constexpr std::uintptr_t kPageSize = 4096;

alignas(16) char alternate_stack[1 << 16];

constexpr int kTraps[] = {SIGFPE, SIGSEGV, SIGBUS, SIGILL, SIGABRT, SIGSYS};

bool sent_by_a_process(const siginfo_t* info) {
  return info->si_code <= 0;
}

int float_stop_number(const siginfo_t* info) {
  switch (info->si_code) {
    case FPE_INTDIV:
    case FPE_FLTDIV:
      return kDivisionByZero;
    case FPE_FLTOVF:
      return kFloatOverflow;
    case FPE_FLTINV:
      return kInvalidOperation;
    default:
      return kOtherTrap;
  }
}

int trap_stop_number(int signal, const siginfo_t* info) {
  switch (signal) {
    case SIGFPE:
      return float_stop_number(info);
    case SIGSEGV: {
      const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
      const bool below_stack = stack_low != 0 && address < stack_low + kPageSize &&
                               address + kStackOverflowZone >= stack_low;
      return !sent_by_a_process(info) && below_stack ? kStackOverflow : kAccessViolation;
    }
    case SIGBUS:
      return kAccessViolation;
    default:
      return kOtherTrap;
  }
}

std::uintptr_t trap_place(int signal, const void* context) {
  const auto* uc = static_cast<const ucontext_t*>(context);
  if (uc == nullptr) return 0;
  // An x87 exception is raised by the next x87 instruction; the FPU keeps the
  // address of the one that failed.
  if (signal == SIGFPE && uc->uc_mcontext.fpregs != nullptr &&
      (uc->uc_mcontext.fpregs->swd & kX87ExceptionSummary) != 0) {
    return static_cast<std::uintptr_t>(uc->uc_mcontext.fpregs->rip);
  }
  return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
}

void on_interrupt(int signal, siginfo_t*, void*) {
  if (defer_interrupt(signal)) return;
  if (!hold_if_in_section(signal, 0, 0)) end_by_signal(signal);
}

void on_trap(int signal, siginfo_t* info, void* context) {
  const int stop_number = trap_stop_number(signal, info);
  // A signal sent by another process has no place in the code, and like an
  // interrupt it waits for the stream buffers to be consistent.
  if (sent_by_a_process(info)) {
    if (!hold_if_in_section(signal, stop_number, 0)) stop_run_at(stop_number, 0);
    return;
  }
  stop_run_at(stop_number, trap_place(signal, context));
}

void record_stack_low() {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return;
  void* address = nullptr;
  std::size_t size = 0;
  if (pthread_attr_getstack(&attributes, &address, &size) == 0) {
    stack_low = reinterpret_cast<std::uintptr_t>(address);
  }
  pthread_attr_destroy(&attributes);
}

void install_handler(int signal, void (*handler)(int, siginfo_t*, void*), int flags) {
  struct sigaction action = {};
  action.sa_sigaction = handler;
  action.sa_flags = SA_SIGINFO | flags;
  sigfillset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

}  // namespace

void enable_float_traps() {
  fesetround(FE_TONEAREST);
  asm volatile("fldcw %0" : : "m"(kExtendedPrecisionControl));
  feclearexcept(FE_ALL_EXCEPT);
  feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
}

void install_traps() {
  record_load_address();
  record_stack_low();
  stack_t alternate = {};
  alternate.ss_sp = alternate_stack;
  alternate.ss_size = sizeof alternate_stack;
  sigaltstack(&alternate, nullptr);
  for (const int s : kTraps) install_handler(s, on_trap, SA_ONSTACK);
  // No SA_RESTART: a write blocked on a stalled reader returns, so that a
  // held-back interrupt is acted on.
  for (const int s : kInterrupts) install_handler(s, on_interrupt, SA_ONSTACK);
  ::signal(SIGPIPE, SIG_IGN);
  enable_float_traps();
}

}  // namespace blocklevels::runtime
