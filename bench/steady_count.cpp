// Counts the generations a run really computes: the generation loop stops
// advancing once a generation leaves the level vector bit for bit unchanged.
//
//   blocklevels_steady_count LAMBDA PMUT B ACC L MU GENERATIONS
//
// prints the number of generations, out of at most GENERATIONS, that changed
// the level vector (GENERATIONS when it never became steady), and the mean
// number of levels per computed generation whose selection shortfall is not
// 0 (the levels a generation sums over).
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "driver/number_text.hpp"
#include "model/generation.hpp"
#include "model/params.hpp"
#include "model/transition_model.hpp"

namespace {

bool integer_argument(const char* text, std::int32_t& value) {
  const blocklevels::IntegerParse parsed = blocklevels::parse_integer_token(text);
  value = parsed.value;
  return parsed.valid;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 8) {
    std::fprintf(stderr, "usage: %s LAMBDA PMUT B ACC L MU GENERATIONS\n", argv[0]);
    return 2;
  }
  blocklevels::Params params;
  std::int32_t generations = 0;
  const blocklevels::RealParse pmut = blocklevels::parse_real_token(argv[2]);
  params.Pmut = pmut.value;
  if (!integer_argument(argv[1], params.lambda) || !pmut.valid ||
      !integer_argument(argv[3], params.block_length) ||
      !integer_argument(argv[4], params.two_option_positions) ||
      !integer_argument(argv[5], params.blocks) || !integer_argument(argv[6], params.mu) ||
      !integer_argument(argv[7], generations) || params.blocks < 1 || params.lambda < 1) {
    std::fprintf(stderr, "%s: invalid argument\n", argv[0]);
    return 2;
  }
  blocklevels::LevelModel model;
  blocklevels::build_model(params, 0.0L, params.Pmut, model);
  blocklevels::GenerationStep step(model, params.mu, params.lambda);
  std::int32_t changed = 0;
  std::int64_t active = 0;
  std::int32_t computed = 0;
  while (computed < generations) {
    for (std::int32_t i = 1; i <= params.blocks; ++i) {
      if (blocklevels::selection_shortfall(params.mu, params.lambda, model.A.get(i)) != 0) {
        ++active;
      }
    }
    ++computed;
    if (step.advance(model)) break;
    ++changed;
  }
  const double mean_active =
      computed > 0 ? static_cast<double>(active) / static_cast<double>(computed) : 0.0;
  std::printf("%d %.1f\n", static_cast<int>(changed), mean_active);
  return 0;
}
