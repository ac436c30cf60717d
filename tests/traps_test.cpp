// Processor traps the black-box runs do not reach, each in a child process
// with the program's handlers installed: integer division by zero, a
// floating-point overflow outside the model (the net under every other
// computation), a null access, a real stack overflow, an abort; and
// underflow stays quiet.
#include "runtime/traps.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

#include "model/int_power.hpp"

namespace blocklevels::runtime {
namespace {

volatile int zero = 0;
volatile long double huge = 1e4000L;

// Deep enough to run off any stack; the volatile array keeps every frame.
[[gnu::noinline]] int recurse(int depth) {
  volatile char frame[1024];
  frame[0] = static_cast<char>(depth);
  if (zero > 1) return frame[0];  // never: zero stays 0
  return recurse(depth + 1) + frame[0];
}

TEST(TrapsDeathTest, EachTrapStopsWithItsNumber) {
#ifdef BLOCKLEVELS_SANITIZED
  GTEST_SKIP() << "the sanitizers trap these faults themselves";
#endif
  const std::pair<void (*)(), int> cases[] = {
      {[] { zero = 7 / zero; }, 200},
      {[] { huge = huge * huge; }, 205},
      {[] {
         int* volatile nowhere = nullptr;
         zero = *nowhere;
       },
       216},
      {[] { zero = recurse(0); }, 202},
      {[] { std::abort(); }, 255},
      {[] { std::exit(int_power(65535, 0.5L) == 0.0L ? 0 : 1); }, 0},
  };
  for (const auto& [provoke, status] : cases) {
    EXPECT_EXIT((install_traps(), provoke()), testing::ExitedWithCode(status), "") << status;
  }
}

}  // namespace
}  // namespace blocklevels::runtime
