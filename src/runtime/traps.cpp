#include "runtime/traps.hpp"

#include <fenv.h>
#include <pthread.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <new>

#include "runtime/code_place.hpp"
#include "runtime/stop_report.hpp"
#include "runtime/text_stream.hpp"

namespace blocklevels::runtime {
namespace {

constexpr int kDivisionByZero = 200;
constexpr int kStackOverflow = 202;
constexpr int kOutOfMemory = 203;
constexpr int kFloatOverflow = 205;
constexpr int kInvalidOperation = 207;
constexpr int kAccessViolation = 216;
constexpr int kOtherTrap = 255;

// x87 status word: exception summary bit.
constexpr unsigned kX87ExceptionSummary = 0x80;

// The lowest address of the main thread's stack; a fault just below it is a
// stack overflow.
std::uintptr_t stack_low = 0;
constexpr std::uintptr_t kStackOverflowZone = std::uintptr_t{1} << 20;

alignas(16) char alternate_stack[1 << 16];

volatile sig_atomic_t io_depth = 0;
volatile sig_atomic_t pending_signal = 0;
volatile sig_atomic_t pending_error = 0;
volatile std::uintptr_t pending_place = 0;

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kTraps[] = {SIGFPE, SIGSEGV, SIGBUS, SIGILL, SIGABRT, SIGSYS};

bool sent_by_a_process(const siginfo_t* info) {
  return info->si_code <= 0;
}

int float_error_number(const siginfo_t* info) {
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

int trap_error_number(int signal, const siginfo_t* info) {
  switch (signal) {
    case SIGFPE:
      return float_error_number(info);
    case SIGSEGV: {
      const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
      const bool below_stack =
          stack_low != 0 && address < stack_low + 4096 && address + kStackOverflowZone >= stack_low;
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

[[noreturn]] void end_by_interrupt(int signal) {
  // A second interrupt during the flush ends the process at once.
  for (const int s : kInterrupts) ::signal(s, SIG_DFL);
  flush_run_streams();
  ::signal(signal, SIG_DFL);
  sigset_t just;
  sigemptyset(&just);
  sigaddset(&just, signal);
  ::raise(signal);
  sigprocmask(SIG_UNBLOCK, &just, nullptr);
  _exit(128 + signal);  // Not reached: the default action ends the process.
}

void on_interrupt(int signal, siginfo_t*, void*) {
  if (io_depth > 0) {
    pending_signal = signal;
    return;
  }
  end_by_interrupt(signal);
}

void on_trap(int signal, siginfo_t* info, void* context) {
  const int error_number = trap_error_number(signal, info);
  const std::uintptr_t place = sent_by_a_process(info) ? 0 : trap_place(signal, context);
  if (io_depth > 0 && sent_by_a_process(info)) {
    pending_error = error_number;
    pending_place = place;
    pending_signal = signal;
    return;
  }
  stop_run_at(error_number, place);
}

void on_allocation_failure() {
  stop_run(kOutOfMemory);
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

IoSection::IoSection() : outer_(io_depth == 0) {
  io_depth = io_depth + 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

IoSection::~IoSection() {
  std::atomic_signal_fence(std::memory_order_seq_cst);
  io_depth = io_depth - 1;
  if (!outer_ || pending_signal == 0) return;
  const int signal = pending_signal;
  pending_signal = 0;
  if (pending_error != 0) stop_run_at(pending_error, pending_place);
  end_by_interrupt(signal);
}

bool IoSection::interrupt_pending() const {
  return pending_signal != 0;
}

void enable_float_traps() {
  fesetround(FE_TONEAREST);
  // Precision control 64-bit significand, all exceptions masked, then unmask
  // the three trapped ones below.
  const unsigned short control = 0x037F;
  asm volatile("fldcw %0" : : "m"(control));
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
  std::set_new_handler(on_allocation_failure);
  enable_float_traps();
}

}  // namespace blocklevels::runtime
