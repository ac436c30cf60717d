#!/usr/bin/python3
"""The level model's exact values: its formulas evaluated with 50 significant
digits (mpmath), nothing rounded to double anywhere.

Reads one setting per line from standard input,

    lambda mu pmut b acc l final step

(pmut as C's "%La" hexadecimal text of the extended value, so that it is the
very number the program computes with, or as decimal text), and writes for
each

    setting lambda mu pmut b acc l final step
    t X_1 X_2 ... X_l        (one line per report, 30 significant digits)
    end

The formulas are the dialogue's:

- the matrix M[i][j] = P(offspring level >= j | parent level i) by the
  literal double sums, transition_down for j <= i and transition_up for
  j > i, each with its own survival probability pkeep; the inner sum over
  r (down) or over k (up) of each is computed once per parent level and
  reused for every j, which adds the same terms;
- one generation A'[j] = M[l][j] - sum over i = 1..l of
  (M[i][j] - M[i-1][j]) * shortfall(A[i]), with shortfall(y) = 0 when
  y >= mu/lambda, else 1 - lambda*y/mu; it is evaluated summed by parts,
  A'[j] = sum over i = 0..l of (G[i] - G[i+1]) * M[i][j], where
  G[i] = 1 - shortfall(A[i]), G[0] = 1 and G[l+1] = 0: the same sum
  regrouped, in which M enters undifferenced, so that a tail far below the
  values near 1 keeps its significant digits (the literal order subtracts
  numbers near 1 from each other and would keep only 50 digits absolute);
- reports at t = step, 2 step, ..., the last multiple of step not above
  final, and at least at t = step.

With --digits N the working precision is N digits instead of 50: running
again with more digits shows how many of the printed ones are exact.

With --transitions it writes instead, for each setting, the point
transitions T[i][k] = M[i][k] - M[i][k+1] (M[i][l+1] = 0), the differences
of the matrix above, 30 significant digits of each:

    transitions lambda mu pmut b acc l final step
    i T[i][1] ... T[i][l]    (one line per parent level i = 0..l)
    end

A difference of two entries near 1 keeps about N digits absolute, so a
small Pmut needs --digits well above 50 for the lower triangle.
"""

import sys

try:
    import mpmath
except ImportError:
    print("level_model_reference.py: needs mpmath (Debian: python3-mpmath)", file=sys.stderr)
    sys.exit(77)

from mpmath import mpf, mp


def extended_value(text):
    """The exact value of C's "%La" text ("0xc.49ba5e353f7ced9p-13"), or of
    decimal text rounded to the working precision."""
    t = text.strip().lower()
    sign = 1
    if t.startswith("-"):
        sign, t = -1, t[1:]
    if not t.startswith("0x"):
        return sign * mpf(text)
    digits, _, exponent = t[2:].partition("p")
    whole, _, fraction = digits.partition(".")
    mantissa = int((whole + fraction) or "0", 16)
    # Exact: a 64-bit mantissa times a power of two.
    return sign * mpmath.ldexp(mpf(mantissa), int(exponent or "0") - 4 * len(fraction))


def low_16_bits(n):
    """How an exponent reaches int_power: 32-bit wrapped, then its low 16 bits."""
    return (n % 2**32) & 0xFFFF


def constants(x, b, acc):
    q = 1 - x
    a = 2 * x / 3 if acc > 0 else x / 3
    if acc <= 0:
        keep_down = q ** low_16_bits(b)
        keep_up = keep_down
    else:
        two_option = x / 3 + q
        keep_down = two_option ** low_16_bits(acc) * q ** low_16_bits(b - acc)
        keep_up = two_option ** low_16_bits(b)
    return a, 1 - a, keep_down, keep_up


def matrix(x, b, acc, l):
    """M as a list of rows 0..l, columns 0..l (column 0 unused, 0)."""
    a, na, keep_down, keep_up = constants(x, b, acc)
    binomial = mpmath.binomial
    m = [[mpf(0)] * (l + 1) for _ in range(l + 1)]
    for i in range(l + 1):
        free = l - i
        # t(k): k of the l - i incomplete blocks complete.
        t = [a**k * binomial(free, k) * na ** (free - k) for k in range(free + 1)]
        # transition_down's inner sums over r = 0..m of (1-keep)^r C(i,r) keep^(i-r).
        down_prefix, total = [], mpf(0)
        for r in range(i + 1):
            total += (1 - keep_down) ** r * binomial(i, r) * keep_down ** (i - r)
            down_prefix.append(total)
        for j in range(1, i + 1):
            m[i][j] = sum(t[k] * down_prefix[min(i - j + k, i)] for k in range(free + 1))
        if i == l:
            continue
        # transition_up's inner sums over k = k0..l-i of t(k), 0 past l - i.
        up_suffix = [mpf(0)] * (free + 2)
        for k in range(free, -1, -1):
            up_suffix[k] = up_suffix[k + 1] + t[k]
        breaking = [(1 - keep_up) ** r * binomial(i, r) * keep_up ** (i - r) for r in range(i + 1)]
        for j in range(i + 1, l + 1):
            m[i][j] = sum(breaking[r] * up_suffix[min(j - i + r, free + 1)] for r in range(i + 1))
    return m


def generation(m, l, mu, lam, tail):
    """One generation of the tails A[1..l] (tail[j - 1] = A[j])."""
    cut = mpf(mu) / lam
    g = [mpf(1)] + [mpf(1) if y >= cut else lam * y / mu for y in tail] + [mpf(0)]
    new = [mpf(0)] * l
    for i in range(l + 1):
        share = g[i] - g[i + 1]
        if share == 0:
            continue
        row = m[i]
        for j in range(1, l + 1):
            new[j - 1] += share * row[j]
    return new


def run(setting, out):
    lam, mu, pmut, b, acc, l, final, step = setting.split()
    lam, mu, b, acc, l, final, step = (int(v) for v in (lam, mu, b, acc, l, final, step))
    m = matrix(extended_value(pmut), b, acc, l)
    reports = max(1, final // step)
    tail = [mpf(0)] * l
    out.write("setting %s\n" % setting.strip())
    t = 0
    for report in range(1, reports + 1):
        while t < report * step:
            tail = generation(m, l, mu, lam, tail)
            t += 1
        out.write("%d %s\n" % (t, " ".join(mpmath.nstr(v, 30, min_fixed=1, max_fixed=0)
                                           for v in tail)))
    out.write("end\n")
    out.flush()


def transitions(setting, out):
    _, _, pmut, b, acc, l, _, _ = setting.split()
    b, acc, l = int(b), int(acc), int(l)
    m = matrix(extended_value(pmut), b, acc, l)
    out.write("transitions %s\n" % setting.strip())
    for i in range(l + 1):
        row = m[i] + [mpf(0)]
        out.write("%d %s\n" % (i, " ".join(mpmath.nstr(row[k] - row[k + 1], 30, min_fixed=1,
                                                       max_fixed=0) for k in range(1, l + 1))))
    out.write("end\n")
    out.flush()


def main():
    mp.dps = 50
    args = sys.argv[1:]
    each = run
    if args and args[0] == "--transitions":
        each, args = transitions, args[1:]
    if len(args) == 2 and args[0] == "--digits":
        mp.dps = int(args[1])
    elif args:
        print("usage: level_model_reference.py [--transitions] [--digits N] < settings",
              file=sys.stderr)
        return 2
    for line in sys.stdin:
        if line.strip() and not line.startswith("#"):
            each(line, sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
