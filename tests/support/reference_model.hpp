// The slow, literal evaluation of the level model: plain
// loops exactly as the model is defined, nothing cached, every power and
// binomial recomputed where it is used. The program's fast code must agree
// with it bit for bit.
#pragma once

#include <cstdint>
#include <vector>

namespace blocklevels::reference {

struct Shape {
  std::int32_t b = 1;    // block length
  std::int32_t acc = 0;  // two-option positions
  std::int32_t l = 1;    // blocks
};

long double factorial(std::int32_t n);
long double binomial(std::int32_t n, std::int32_t k);
long double int_power(std::uint16_t n, long double x);

long double transition_down(const Shape& shape, std::int32_t i, std::int32_t j, long double x);
long double transition_up(const Shape& shape, std::int32_t i, std::int32_t j, long double x);
long double selection_shortfall(std::int32_t mu, std::int32_t lambda, long double y);

// M as (l + 1) x (l + 1) doubles, row-major; column 0 stays 0.
std::vector<double> matrix(const Shape& shape, long double x);

// One generation of A (l doubles, A[j] at index j - 1) under M, by the
// literal double loop with the shortfall evaluated for every term.
std::vector<double> generation(const std::vector<double>& m, std::int32_t l, std::int32_t mu,
                               std::int32_t lambda, const std::vector<double>& a);

}  // namespace blocklevels::reference
