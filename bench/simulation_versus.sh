#!/usr/bin/env bash
# The benchmark's simulated run (BM_Runs/1/1: lambda 1000, mu 100, 300 blocks
# of 4, pmut 0.001, 1000 generations, one thread) timed side by side against
# the same benchmark built from another commit.
#
#   bench/simulation_versus.sh [BUILD_DIR [BASE]]
#       (default build-bench and 0478bb3, the last commit that copied every
#       offspring; ROUNDS=5; CALLGRIND=1 also counts instructions)
#
# Builds BASE's benchmark from `git archive` in BUILD_DIR/baseline-BASE (kept
# for the next time) and this tree's in BUILD_DIR, then runs ROUNDS rounds of
# four invocations in the order base, new, new, base, one timing each, so that
# a drift in the machine's load weighs on both alike. Prints, and writes to
# BUILD_DIR/bench-results/versus.txt as "key median min max" lines: each
# binary's wall-clock and CPU time in ms, and the ratio new / base of each
# round's sums. With CALLGRIND=1, each binary's instruction count under
# valgrind's callgrind too, which no load changes.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
base=${2:-0478bb3}
rounds=${ROUNDS:-5}
baseline=$build/baseline-$base
results=$build/bench-results
mkdir -p "$results" "$baseline"

if [ ! -x "$baseline/build/bench/blocklevels_simulation_bench" ]; then
  rm -rf "$baseline/src"
  mkdir -p "$baseline/src"
  git -C "$root" archive "$base" | tar -x -C "$baseline/src"
  cmake -S "$baseline/src" -B "$baseline/build" -DCMAKE_BUILD_TYPE=Release \
    -DBLOCKLEVELS_BENCH=ON -DBLOCKLEVELS_TESTS=OFF >"$baseline/build.log" 2>&1 &&
    cmake --build "$baseline/build" -j2 --target blocklevels_simulation_bench \
      >>"$baseline/build.log" 2>&1 || {
    cat "$baseline/build.log"
    exit 1
  }
fi
if [ -z "${NO_BUILD:-}" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBLOCKLEVELS_BENCH=ON \
    -DBLOCKLEVELS_TESTS=OFF >"$build.configure.log" 2>&1 &&
    cmake --build "$build" -j2 --target blocklevels_simulation_bench \
      >"$build.build.log" 2>&1 || {
    cat "$build.configure.log" "$build.build.log"
    exit 1
  }
fi
old=$baseline/build/bench/blocklevels_simulation_bench
new=$build/bench/blocklevels_simulation_bench

# One timing: "wall cpu" in ms.
time_one() {
  "$1" --benchmark_filter='^BM_Runs/1/1/' --benchmark_format=csv 2>/dev/null |
    awk -F, '/^"BM_Runs\/1\/1\// { print $3, $4 }'
}

timings=$results/versus_timings.txt
: >"$timings"
for ((r = 1; r <= rounds; ++r)); do
  a1=$(time_one "$old")
  b1=$(time_one "$new")
  b2=$(time_one "$new")
  a2=$(time_one "$old")
  echo "$r $a1 $b1 $b2 $a2" >>"$timings"
done

# Columns of a round: r, then wall cpu of base, new, new, base.
summary=$results/versus.txt
awk '
  function stats(key, values, n,   i, j, t, median) {
    for (i = 1; i <= n; ++i)
      for (j = i + 1; j <= n; ++j)
        if (values[j] < values[i]) { t = values[i]; values[i] = values[j]; values[j] = t }
    median = n % 2 ? values[(n + 1) / 2] : (values[n / 2] + values[n / 2 + 1]) / 2
    printf "%s %.4g %.4g %.4g\n", key, median, values[1], values[n]
  }
  {
    ++n
    old_wall[2 * n - 1] = $2; old_wall[2 * n] = $8; old_cpu[2 * n - 1] = $3; old_cpu[2 * n] = $9
    new_wall[2 * n - 1] = $4; new_wall[2 * n] = $6; new_cpu[2 * n - 1] = $5; new_cpu[2 * n] = $7
    ratio_wall[n] = ($4 + $6) / ($2 + $8)
    ratio_cpu[n] = ($5 + $7) / ($3 + $9)
  }
  END {
    stats("versus_base_wall_ms", old_wall, 2 * n); stats("versus_base_cpu_ms", old_cpu, 2 * n)
    stats("versus_new_wall_ms", new_wall, 2 * n); stats("versus_new_cpu_ms", new_cpu, 2 * n)
    stats("versus_ratio_wall", ratio_wall, n); stats("versus_ratio_cpu", ratio_cpu, n)
  }' "$timings" >"$summary"

if [ -n "${CALLGRIND:-}" ]; then
  for pair in "base:$old" "new:$new"; do
    count=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null "${pair#*:}" \
      --benchmark_filter='^BM_Runs/1/1/' 2>&1 >/dev/null | awk '/Collected :/ { print $NF }')
    echo "versus_${pair%%:*}_instructions $count $count $count" >>"$summary"
  done
fi
echo "simulated run, $base (base) against this tree, $rounds rounds base new new base"
cat "$summary"
