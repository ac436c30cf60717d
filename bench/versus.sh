#!/usr/bin/env bash
# Google benchmarks of this tree timed side by side against the same
# benchmarks built from another commit: the base's sources with this
# tree's bench/ laid over them, so that a benchmark added since is timed
# on the old code too (it must use only what the base's code offers).
#
#   bench/versus.sh BENCH FILTER [BUILD_DIR [BASE]]
#       BENCH: the name in blocklevels_BENCH_bench; FILTER: a
#       --benchmark_filter regular expression; default build-bench and
#       b08031a (the commit before the banded generations and the fast
#       gaps); ROUNDS=5; NO_BUILD=1 to take BUILD_DIR's binary as built.
#
# Runs ROUNDS rounds of four invocations in the order base, new, new, base,
# one timing of each benchmark each, so that a drift in the machine's load
# weighs on both alike. Prints, and appends to
# BUILD_DIR/bench-results/versus-BENCH.txt as "key median min max" lines, for
# each benchmark each side's wall-clock and CPU time (in its unit) and the
# ratio new / base of each round's sums.
set -euo pipefail

bench=$1
filter=$2
root=$(cd "$(dirname "$0")/.." && pwd)
build=${3:-$root/build-bench}
base=${4:-b08031a}
rounds=${ROUNDS:-5}
baseline=$build/baseline-$base-overlay
results=$build/bench-results
mkdir -p "$results" "$baseline"

target=blocklevels_${bench}_bench
rm -rf "$baseline/src"
mkdir -p "$baseline/src"
git -C "$root" archive "$base" | tar -x -C "$baseline/src"
rm -rf "$baseline/src/bench"
cp -r "$root/bench" "$baseline/src/bench"
{ cmake -S "$baseline/src" -B "$baseline/build" -DCMAKE_BUILD_TYPE=Release \
  -DBLOCKLEVELS_BENCH=ON -DBLOCKLEVELS_TESTS=OFF -DBLOCKLEVELS_PYTHON=OFF &&
  cmake --build "$baseline/build" -j2 --target "$target"; } >"$baseline/build.log" 2>&1 || {
  cat "$baseline/build.log"
  exit 1
}
if [ -z "${NO_BUILD:-}" ]; then
  { cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBLOCKLEVELS_BENCH=ON \
    -DBLOCKLEVELS_TESTS=OFF && cmake --build "$build" -j2 --target "$target"; } \
    >"$build.versus.log" 2>&1 || {
    cat "$build.versus.log"
    exit 1
  }
fi
old=$baseline/build/bench/$target
new=$build/bench/$target

# One timing of every benchmark FILTER selects: "name wall cpu" lines.
time_all() {
  "$1" --benchmark_filter="$filter" --benchmark_format=csv 2>/dev/null |
    awk -F, 'NR > 1 { name = $1; gsub(/"/, "", name); sub(/\/iterations:[0-9]+/, "", name)
                      print name, $3, $4 }'
}

timings=$results/versus-$bench-timings.txt
: >"$timings"
for ((r = 1; r <= rounds; ++r)); do
  time_all "$old" | sed "s/^/$r base /" >>"$timings"
  time_all "$new" | sed "s/^/$r new /" >>"$timings"
  time_all "$new" | sed "s/^/$r new /" >>"$timings"
  time_all "$old" | sed "s/^/$r base /" >>"$timings"
done

summary=$results/versus-$bench.txt
awk '
  function stats(key, list,   n, v, i, j, t, median) {
    n = split(list, v, " ")
    for (i = 1; i <= n; ++i)
      for (j = i + 1; j <= n; ++j)
        if (v[j] + 0 < v[i] + 0) { t = v[i]; v[i] = v[j]; v[j] = t }
    median = n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    printf "%s %.4g %.4g %.4g\n", key, median, v[1], v[n]
  }
  {
    r = $1; side = $2; name = $3
    if (!(name in seen)) { seen[name] = 1; order[++count] = name }
    wall[side, name] = wall[side, name] " " $4; cpu[side, name] = cpu[side, name] " " $5
    sum_wall[r, side, name] += $4; sum_cpu[r, side, name] += $5
    if (r > rounds_seen) rounds_seen = r
  }
  END {
    for (k = 1; k <= count; ++k) {
      name = order[k]; ratio_wall = ""; ratio_cpu = ""
      for (r = 1; r <= rounds_seen; ++r) {
        ratio_wall = ratio_wall " " sum_wall[r, "new", name] / sum_wall[r, "base", name]
        ratio_cpu = ratio_cpu " " sum_cpu[r, "new", name] / sum_cpu[r, "base", name]
      }
      stats(name ".base_wall", wall["base", name]); stats(name ".base_cpu", cpu["base", name])
      stats(name ".new_wall", wall["new", name]); stats(name ".new_cpu", cpu["new", name])
      stats(name ".ratio_wall", ratio_wall); stats(name ".ratio_cpu", ratio_cpu)
    }
  }' "$timings" >"$summary"
echo "$bench ($filter): $base (base) against this tree, $rounds rounds base new new base"
cat "$summary"
