#include "support/reference_model.hpp"

namespace blocklevels::reference {
namespace {

std::uint16_t low16(std::int32_t v) {
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(v));
}

std::int32_t wrap_sub(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

struct Constants {
  long double q, a, na, pkeep, pbreak;
};

Constants constants(const Shape& s, long double x, bool down) {
  Constants c{};
  c.q = 1 - x;
  if (s.acc > 0) {
    c.a = (x * 2) / 3;
  } else {
    c.a = x / 3;
  }
  c.na = 1 - c.a;
  if (s.acc <= 0) {
    c.pkeep = int_power(low16(s.b), c.q);
  } else if (down) {
    c.pkeep = int_power(low16(s.acc), x / 3 + c.q) * int_power(low16(wrap_sub(s.b, s.acc)), c.q);
  } else {
    c.pkeep = int_power(low16(s.b), x / 3 + c.q);
  }
  c.pbreak = 1 - c.pkeep;
  return c;
}

}  // namespace

long double factorial(std::int32_t n) {
  long double result = 1.0L;
  for (std::int32_t i = 1; i <= n; ++i) result = result * static_cast<long double>(i);
  return result;
}

long double binomial(std::int32_t n, std::int32_t k) {
  const long double f1 = factorial(n);
  const long double f2 = factorial(k);
  const long double f3 = factorial(wrap_sub(n, k));
  return f1 / (f3 * f2);
}

long double int_power(std::uint16_t n, long double x) {
  long double result = 1.0L;
  for (std::uint32_t i = 0; i < n; ++i) result = result * x;
  return result;
}

long double transition_down(const Shape& s, std::int32_t i, std::int32_t j, long double x) {
  const Constants c = constants(s, x, true);
  if (s.l - i < 0) return 0;
  long double sum = 0;
  for (std::int32_t k = 0; k <= s.l - i; ++k) {
    const long double t =
        (int_power(low16(k), c.a) * binomial(s.l - i, k)) * int_power(low16(s.l - i - k), c.na);
    std::int32_t m = i - j + k;
    if (m > i) m = i;
    long double inner = 0;
    for (std::int32_t r = 0; r <= m; ++r) {
      inner = inner +
              (int_power(low16(r), c.pbreak) * binomial(i, r)) * int_power(low16(i - r), c.pkeep);
    }
    sum = sum + t * inner;
  }
  return sum;
}

long double transition_up(const Shape& s, std::int32_t i, std::int32_t j, long double x) {
  const Constants c = constants(s, x, false);
  if (i < 0) return 0;
  long double sum = 0;
  for (std::int32_t r = 0; r <= i; ++r) {
    const long double t =
        (int_power(low16(r), c.pbreak) * binomial(i, r)) * int_power(low16(i - r), c.pkeep);
    long double inner = 0;
    for (std::int32_t k = j - i + r; k <= s.l - i; ++k) {
      inner = inner + (int_power(low16(k), c.a) * binomial(s.l - i, k)) *
                          int_power(low16(s.l - i - k), c.na);
    }
    sum = sum + t * inner;
  }
  return sum;
}

long double selection_shortfall(std::int32_t mu, std::int32_t lambda, long double y) {
  const long double c = static_cast<long double>(mu) / static_cast<long double>(lambda);
  if (y >= c) return 0;
  return 1 - (static_cast<long double>(lambda) * y) / static_cast<long double>(mu);
}

std::vector<double> matrix(const Shape& s, long double x) {
  const auto side = static_cast<std::size_t>(s.l) + 1;
  std::vector<double> m(side * side, 0.0);
  for (std::int32_t i = 0; i <= s.l; ++i) {
    for (std::int32_t j = 1; j <= i; ++j) {
      m[static_cast<std::size_t>(i) * side + static_cast<std::size_t>(j)] =
          static_cast<double>(transition_down(s, i, j, x));
    }
    for (std::int32_t j = i + 1; j <= s.l; ++j) {
      m[static_cast<std::size_t>(i) * side + static_cast<std::size_t>(j)] =
          static_cast<double>(transition_up(s, i, j, x));
    }
  }
  return m;
}

std::vector<double> generation(const std::vector<double>& m, std::int32_t l, std::int32_t mu,
                               std::int32_t lambda, const std::vector<double>& a) {
  const auto side = static_cast<std::size_t>(l) + 1;
  auto at = [&](std::int32_t i, std::int32_t j) -> long double {
    return m[static_cast<std::size_t>(i) * side + static_cast<std::size_t>(j)];
  };
  std::vector<double> c(static_cast<std::size_t>(l));
  for (std::int32_t j = 1; j <= l; ++j) {
    long double sum = 0;
    for (std::int32_t i = 1; i <= l; ++i) {
      const long double d = at(i - 1, j) - at(i, j);
      const long double s = selection_shortfall(mu, lambda, a[static_cast<std::size_t>(i - 1)]);
      sum = sum + d * s;
    }
    sum = sum + at(l, j);
    c[static_cast<std::size_t>(j - 1)] = static_cast<double>(sum);
  }
  return c;
}

}  // namespace blocklevels::reference
