// Every processor trap ends the run through the stop report with its number;
// interrupts are held back while a stream's buffer is being written out.
// Each case runs in a child process with the program's handlers installed.
#include "runtime/traps.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <limits>
#include <new>

#include "model/int_power.hpp"
#include "runtime/io_section.hpp"
#include "runtime/stop_report.hpp"

namespace blocklevels::runtime {
namespace {

volatile int zero = 0;
volatile long double extended_zero = 0.0L;
volatile long double huge = std::numeric_limits<long double>::max();

// Deep enough to run off any stack; the volatile array keeps every frame.
[[gnu::noinline]] int recurse(int depth) {
  volatile char frame[1024];
  frame[0] = static_cast<char>(depth);
  if (zero > 1) return frame[0];  // never: zero stays 0
  return recurse(depth + 1) + frame[0];
}

struct TrapCase {
  const char* name;
  void (*provoke)();
  int error_number;
};

const TrapCase kTraps[] = {
    {"integer division by zero", [] { zero = 7 / zero; }, 200},
    {"real division by zero", [] { extended_zero = 1.0L / extended_zero; }, 200},
    {"invalid operation 0/0", [] { extended_zero = extended_zero / extended_zero; }, 207},
    {"overflow", [] { huge = huge * 2; }, 205},
    {"invalid memory access",
     [] {
       volatile int* nowhere = nullptr;
       zero = *nowhere;
     },
     216},
    {"allocation failure",
     [] {
       volatile std::size_t size = std::numeric_limits<std::size_t>::max() / 4;
       zero = static_cast<int>(reinterpret_cast<std::uintptr_t>(new char[size]));
     },
     203},
    {"abort", [] { std::abort(); }, 255},
    {"illegal instruction", [] { raise(SIGILL); }, 255},
};

TEST(TrapsDeathTest, EachTrapStopsWithItsNumber) {
#ifdef BLOCKLEVELS_SANITIZED
  GTEST_SKIP() << "the sanitizers trap these faults themselves";
#endif
  for (const TrapCase& c : kTraps) {
    EXPECT_EXIT(
        {
          install_traps();
          c.provoke();
        },
        testing::ExitedWithCode(c.error_number), "")
        << c.name;
  }
}

TEST(TrapsDeathTest, StackOverflowStopsWith202) {
#ifdef BLOCKLEVELS_SANITIZED
  GTEST_SKIP() << "AddressSanitizer reports a stack overflow itself";
#endif
  EXPECT_EXIT(
      {
        install_traps();
        zero = recurse(0);
      },
      testing::ExitedWithCode(202), "");
}

TEST(TrapsDeathTest, UnderflowIsQuiet) {
  // With the traps on, a power that underflows gives 0 and the run goes on.
  EXPECT_EXIT(
      {
        install_traps();
        std::exit(int_power(65535, 0.5L) == 0.0L ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(TrapsDeathTest, InterruptWaitsForTheBufferToBeConsistent) {
#ifdef BLOCKLEVELS_SANITIZED
  GTEST_SKIP() << "signal delivery timing differs under the sanitizers";
#endif
  // A SIGTERM raised inside an IoSection is held back until the section
  // ends; then the process ends by that signal.
  EXPECT_EXIT(
      {
        install_traps();
        {
          IoSection section;
          raise(SIGTERM);
          if (!section.interrupt_pending()) std::_Exit(3);
          if (write(STDERR_FILENO, "held", 4) != 4) std::_Exit(4);
        }
        std::_Exit(5);  // not reached: the held SIGTERM ends the process
      },
      testing::KilledBySignal(SIGTERM), "held");
  // Outside a section the interrupt acts at once.
  EXPECT_EXIT(
      {
        install_traps();
        raise(SIGINT);
        std::_Exit(6);
      },
      testing::KilledBySignal(SIGINT), "");
}

}  // namespace
}  // namespace blocklevels::runtime
