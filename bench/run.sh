#!/usr/bin/env bash
# Runs every benchmark and prints a summary against the team's targets.
#
#   bench/run.sh [BUILD_DIR]     (default: build-bench; REPS=5 repetitions)
#
# Configures a Release build with the benchmarks in BUILD_DIR, builds it with
# two jobs, runs the Google benchmarks (model build, one generation, number
# formatting, geometric gaps, time to cancel, memory estimate) with REPS
# repetitions each, bench/simulation_versus.sh (the simulated run next to
# commit BASE's, default 0478bb3, in ROUNDS rounds), bench/versus.sh for
# 1000 generations at l = 300 and the simulated run next to commit SPEED_BASE's
# (default b08031a), then bench/end_to_end.sh, and prints the summary table. The raw results (CSV and the end-to-end medians)
# and the summary stay in BUILD_DIR/bench-results/.
#
# Every figure is the median of the repetitions, with their min..max. The
# machine may be shared: compare ratios measured in the same run, and read
# the spread before trusting a difference.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
reps=${REPS:-5}
export REPS=$reps
results=$build/bench-results

started=$(date '+%Y-%m-%d %H:%M:%S %Z')
load_start=$(cut -d' ' -f1-3 /proc/loadavg)
# The sources as they are when the build starts.
commit=unknown
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  commit=$(git -C "$root" rev-parse --short HEAD)
  if [ -n "$(git -C "$root" status --porcelain -- src CMakeLists.txt)" ]; then
    commit="$commit, with uncommitted changes in src/ or CMakeLists.txt"
  fi
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBLOCKLEVELS_BENCH=ON \
  -DBLOCKLEVELS_TESTS=OFF >"$build.configure.log" 2>&1 || {
  cat "$build.configure.log"
  exit 1
}
cmake --build "$build" -j2 >"$build.build.log" 2>&1 || {
  cat "$build.build.log"
  exit 1
}
rm -rf "$results"
mkdir -p "$results"

for bench in model generation format trajectory simulation threshold gap cancel memory; do
  echo "== $bench"
  "$build/bench/blocklevels_${bench}_bench" --benchmark_repetitions="$reps" \
    --benchmark_display_aggregates_only=true \
    --benchmark_out="$results/$bench.csv" --benchmark_out_format=csv
done
echo "== simulated run against ${BASE:-0478bb3}"
NO_BUILD=1 "$root/bench/simulation_versus.sh" "$build" ${BASE:+"$BASE"}
speed_base=${SPEED_BASE:-b08031a}
echo "== 1000 generations and the simulated run against $speed_base"
rm -f "$results/versus-generation.txt" "$results/versus-simulation.txt"
NO_BUILD=1 "$root/bench/versus.sh" generation '^BM_Generations1000' "$build" "$speed_base"
NO_BUILD=1 "$root/bench/versus.sh" simulation '^BM_Runs/1/1/' "$build" "$speed_base"
echo "== end to end"
NO_BUILD=1 RESULTS="$results/end_to_end.txt" "$root/bench/end_to_end.sh" "$build"

# One "key median min max" line per figure. From the benchmarks' CSV: KEY.wall
# and KEY.cpu for every benchmark (real and CPU time per iteration, in its
# unit), KEY being the name without "/iterations:N"; then the end-to-end
# medians as end_to_end.sh wrote them.
facts=$results/facts.txt
awk -F, '
  { name = $1; gsub(/"/, "", name) }
  match(name, /_(median|min|max)$/) {
    base = substr(name, 1, RSTART - 1)
    stat = substr(name, RSTART + 1)
    sub(/\/iterations:[0-9]+/, "", base)
    if (!(base in seen)) { seen[base] = 1; order[++count] = base }
    wall[base, stat] = $3
    cpu[base, stat] = $4
  }
  END {
    for (n = 1; n <= count; ++n) {
      b = order[n]
      print b ".wall", wall[b, "median"], wall[b, "min"], wall[b, "max"]
      print b ".cpu", cpu[b, "median"], cpu[b, "min"], cpu[b, "max"]
    }
  }' "$results/model.csv" "$results/generation.csv" "$results/format.csv" \
  "$results/trajectory.csv" "$results/simulation.csv" "$results/threshold.csv" \
  "$results/gap.csv" "$results/cancel.csv" >"$facts"
# The searches' model runs, a counter column of their CSV.
awk -F, '$1 == "name" { for (i = 1; i <= NF; ++i) if ($i ~ /model_runs/) c = i }
  c && /_median"/ { name = $1; gsub(/"/, "", name); sub(/\/iterations:[0-9]+_median/, "", name)
    print name ".runs", $c, $c, $c }' "$results/threshold.csv" >>"$facts"
# The memory estimate over the measured peak, a counter column.
awk -F, '$1 == "name" { for (i = 1; i <= NF; ++i) if ($i ~ /estimate_over_peak/) c = i }
  c && /^"BM_MemoryEstimate.*_median"/ { name = $1; gsub(/"/, "", name)
    sub(/\/iterations:[0-9]+_median/, "", name); print name ".ratio", $c, $c, $c }' \
  "$results/memory.csv" >>"$facts"
cat "$results/end_to_end.txt" "$results/versus.txt" "$results/versus-generation.txt" \
  "$results/versus-simulation.txt" >>"$facts"

awk -v started="$started" -v commit="$commit" -v reps="$reps" -v cores="$(nproc)" \
  -v speed_base="$speed_base" \
  -v base="${BASE:-0478bb3}" -v rounds="${ROUNDS:-5}" \
  -v load_start="$load_start" -v load_end="$(cut -d' ' -f1-3 /proc/loadavg)" '
  { med[$1] = $2; lo[$1] = $3; hi[$1] = $4 }
  # A figure a run did not give makes its row "missing" and FAIL, never 0.
  function need(key) {
    if (!(key in med)) { print "run.sh: no figure " key > "/dev/stderr"; failed = 1; absent = 1 }
  }
  # Sets v, vlo, vhi to a time figure times `scale`.
  function time_of(key, scale) {
    absent = 0; need(key)
    v = med[key] * scale; vlo = lo[key] * scale; vhi = hi[key] * scale
  }
  # Sets v, vlo, vhi to a rate: `items` per iteration over a time in us.
  function rate_of(key, items) {
    absent = 0; need(key)
    v = items * 1e6 / med[key]; vlo = items * 1e6 / hi[key]; vhi = items * 1e6 / lo[key]
  }
  # Sets v, vlo, vhi to the literal time at l = 300 (from l = 100, grown as
  # l^5, that is times 3^5) over the model build at l = 300.
  function speedup_of(kind) {
    absent = 0; need("BM_LiteralMatrix/100." kind); need("BM_BuildModel/300." kind)
    v = med["BM_LiteralMatrix/100." kind] * 243 / med["BM_BuildModel/300." kind]
    vlo = lo["BM_LiteralMatrix/100." kind] * 243 / hi["BM_BuildModel/300." kind]
    vhi = hi["BM_LiteralMatrix/100." kind] * 243 / lo["BM_BuildModel/300." kind]
  }
  function cell(format) {
    return absent ? "missing" : sprintf(format " (" format ".." format ")", v, vlo, vhi)
  }
  function verdict(limit, at_most) {
    return !absent && (at_most ? v <= limit : v >= limit) ? "pass" : "FAIL"
  }
  function line(target, wall_cell, wall_verdict, cpu_cell, cpu_verdict) {
    printf "%-42s %-26s %-26s %s/%s\n", target, wall_cell, cpu_cell, wall_verdict, cpu_verdict
  }
  function time_row(target, key, scale, format, limit) {
    time_of(key ".wall", scale); wc = cell(format); wv = verdict(limit, 1)
    time_of(key ".cpu", scale); line(target, wc, wv, cell(format), verdict(limit, 1))
  }
  function rate_row(target, key, format, limit) {
    rate_of(key ".wall", 4096 / 1e6); wc = cell(format); wv = verdict(limit, 0)
    rate_of(key ".cpu", 4096 / 1e6); line(target, wc, wv, cell(format), verdict(limit, 0))
  }
  END {
    printf "blocklevels benchmarks, started %s\n", started
    printf "commit %s; %d cores\n", commit, cores
    printf "load average at the start %s, at the end %s\n", load_start, load_end
    printf "medians of %d repetitions (min..max); result: wall/CPU\n\n", reps
    printf "%-42s %-26s %-26s %s\n", "target", "wall-clock", "CPU time", "result"
    time_row("model build l=300 <= 15 ms", "BM_BuildModel/300", 1, "%.2f", 15)
    speedup_of("wall"); wc = cell("%.0f"); wv = verdict(30000, 0)
    speedup_of("cpu")
    line("literal/build l=300 >= 30000 (l^5 est.)", wc, wv, cell("%.0f"), verdict(30000, 0))
    time_row("model build l=1000 <= 1 s (ms)", "BM_BuildModel/1000", 1, "%.0f", 1000)
    time_of("rss_kib", 1024 / 1e6)
    line("peak resident l=1000 <= 40 MB", cell("%.1f"), verdict(40, 1), "", "-")
    time_row("one generation l=300 <= 0.3 ms", "BM_Generation", 1 / 1000, "%.3f", 0.3)
    rate_row("format_fixed (10,6) >= 20 M/s", "BM_FormatFixed/width:10/decimals:6", "%.1f", 20)
    rate_row("format_fixed (3,3) >= 20 M/s", "BM_FormatFixed/width:3/decimals:3", "%.1f", 20)
    time_of("ratio_null", 1); wc = cell("%.2f"); wv = verdict(1.2, 1)
    time_of("cpu_ratio_null", 1)
    line("l=5 reports <= 1.2 x writes, null", wc, wv, cell("%.2f"), verdict(1.2, 1))
    time_of("ratio_file", 1); wc = cell("%.2f"); wv = verdict(1.2, 1)
    time_of("cpu_ratio_file", 1)
    line("l=5 reports <= 1.2 x writes, file", wc, wv, cell("%.2f"), verdict(1.2, 1))
    for (n = 0; n < 2; ++n) {
      kind = n ? "cpu" : "wall"
      need("BM_RecurringStatesSkipped." kind); need("BM_FixedPointOnlySkipped." kind)
      v = med["BM_RecurringStatesSkipped." kind] / med["BM_FixedPointOnlySkipped." kind]
      vlo = lo["BM_RecurringStatesSkipped." kind] / hi["BM_FixedPointOnlySkipped." kind]
      vhi = hi["BM_RecurringStatesSkipped." kind] / lo["BM_FixedPointOnlySkipped." kind]
      if (n == 0) { wc = cell("%.3f"); wv = verdict(0.1, 1) }
    }
    line("l=60 cycle: skipped / computed <= 0.10", wc, wv, cell("%.3f"), verdict(0.1, 1))
    time_of("BM_Runs/1/1/real_time.wall", 1); wc = cell("%.0f"); wv = verdict(1000, 1)
    time_of("BM_Runs/1/1/real_time.cpu", 1)
    line("one simulated run <= 1 s (ms)", wc, wv, cell("%.0f"), verdict(1000, 1))
    time_of("versus_ratio_wall", 1); wc = cell("%.2f"); wv = verdict(0.7, 1)
    time_of("versus_ratio_cpu", 1)
    line("one simulated run <= 0.7 x " base " (ABBA)", wc, wv, cell("%.2f"), verdict(0.7, 1))
    absent = 0; need("BM_Runs/4/2/real_time.wall"); need("BM_Runs/4/1/real_time.wall")
    v = med["BM_Runs/4/2/real_time.wall"] / med["BM_Runs/4/1/real_time.wall"]
    vlo = lo["BM_Runs/4/2/real_time.wall"] / hi["BM_Runs/4/1/real_time.wall"]
    vhi = hi["BM_Runs/4/2/real_time.wall"] / lo["BM_Runs/4/1/real_time.wall"]
    line("4 runs, 2 threads / 1 thread <= 0.65", cell("%.2f"), verdict(0.65, 1), "", "-")
    time_of("simulation_jobs_ratio", 1)
    line("program: 4 runs --jobs 2 / 1 <= 0.65", cell("%.2f"), verdict(0.65, 1), "", "-")
    time_of("sweep_jobs_ratio", 1)
    line("sweep of 8 at l=300 --jobs 2 / 1 <= 0.65", cell("%.2f"), verdict(0.65, 1), "", "-")
    time_row("threshold l=300, grid 64 <= 5 s (ms)", "BM_Threshold/64", 1, "%.0f", 5000)
    time_row("threshold l=300, grid 16 <= 5 s (ms)", "BM_Threshold/16", 1, "%.0f", 5000)
    time_of("BM_Threshold/64.runs", 1)
    line("threshold, grid 64: model runs <= 40", cell("%.0f"), verdict(40, 1), "", "-")
    time_of("BM_Threshold/16.runs", 1)
    line("threshold, grid 16: model runs <= 40", cell("%.0f"), verdict(40, 1), "", "-")
    time_of("g_phase_wall", 1 / 1000)
    line("64 x 64 phase diagram l=50 <= 60 s (s)", cell("%.1f"), verdict(60, 1), "", "-")
    time_of("BM_Generations1000.ratio_wall", 1); wc = cell("%.2f"); wv = verdict(0.6, 1)
    time_of("BM_Generations1000.ratio_cpu", 1)
    line("1000 gens l=300 <= 0.6 x " speed_base, wc, wv, cell("%.2f"), verdict(0.6, 1))
    time_of("BM_Runs/1/1/real_time.ratio_wall", 1); wc = cell("%.2f"); wv = verdict(0.6, 1)
    time_of("BM_Runs/1/1/real_time.ratio_cpu", 1)
    line("one simulated run <= 0.6 x " speed_base, wc, wv, cell("%.2f"), verdict(0.6, 1))
    for (n = 0; n < 2; ++n) {
      lambda = n ? "3000000" : "1000000"
      for (d = 0; d < 2; ++d) {
        delay = d ? "1000" : "50"
        time_row("cancel lambda " lambda " at " delay " ms <= 200 ms",
                 "BM_TimeToCancel/" lambda "/" delay "/manual_time", 1, "%.1f", 200)
      }
    }
    for (n = 0; n < 3; ++n) {
      time_of("BM_MemoryEstimate/" n ".ratio", 1)
      line("memory estimate / peak, case " n " in 0.9..1.5", cell("%.2f"),
           !absent && v >= 0.9 && v <= 1.5 ? "pass" : "FAIL", "", "-")
    }

    printf "\ngeometric gap (ns per draw, CPU), double logarithm / literal: pmut 0.001 %.1f / %.1f," \
      " 1e-6 %.1f / %.1f, 0.3 %.1f / %.1f\n", med["BM_GapDraw/0/1.cpu"] * 1e6 / 1048576,
      med["BM_GapDraw/0/0.cpu"] * 1e6 / 1048576, med["BM_GapDraw/1/1.cpu"] * 1e6 / 1048576,
      med["BM_GapDraw/1/0.cpu"] * 1e6 / 1048576, med["BM_GapDraw/2/1.cpu"] * 1e6 / 1048576,
      med["BM_GapDraw/2/0.cpu"] * 1e6 / 1048576
    printf "1000 generations l=300 (ms, CPU): %s %.1f, this tree %.1f; simulated run: %.0f, %.0f\n",
      speed_base, med["BM_Generations1000.base_cpu"], med["BM_Generations1000.new_cpu"],
      med["BM_Runs/1/1/real_time.base_cpu"], med["BM_Runs/1/1/real_time.new_cpu"]
    printf "model build (ms, wall): l=50 %.3f, l=100 %.3f, l=300 %.2f, l=1000 %.0f\n",
      med["BM_BuildModel/50.wall"], med["BM_BuildModel/100.wall"],
      med["BM_BuildModel/300.wall"], med["BM_BuildModel/1000.wall"]
    for (n = 0; n < 2; ++n) {
      kind = n ? "cpu" : "wall"
      l50 = med["BM_LiteralMatrix/50." kind]; l100 = med["BM_LiteralMatrix/100." kind]
      printf "literal evaluation (ms, %s): l=50 %.1f (%.1f..%.1f), l=100 %.0f (%.0f..%.0f)\n",
        kind, l50, lo["BM_LiteralMatrix/50." kind], hi["BM_LiteralMatrix/50." kind], l100,
        lo["BM_LiteralMatrix/100." kind], hi["BM_LiteralMatrix/100." kind]
      printf "  l=300 not run; as l^5 from l=100 %.0f s, from l=50 %.0f s (speed-up from that %.0f);" \
        " growth l=50 to 100 x%.1f (l^5: x32)\n", l100 * 243 / 1000, l50 * 7776 / 1000,
        l50 * 7776 / med["BM_BuildModel/300." kind], l100 / l50
    }
    printf "snprintf (M/s, CPU): %%.6Lf %.1f, %%.3Lf %.1f; format_fixed (10,6) / %%.6Lf: x%.1f\n",
      4096 / med["BM_Snprintf/decimals:6.cpu"], 4096 / med["BM_Snprintf/decimals:3.cpu"],
      med["BM_Snprintf/decimals:6.cpu"] / med["BM_FormatFixed/width:10/decimals:6.cpu"]
    printf "simulated run (ms, wall / CPU): %s %.0f / %.0f, this tree %.0f / %.0f;" \
      " %d timings each, in rounds base new new base\n", base, med["versus_base_wall_ms"],
      med["versus_base_cpu_ms"], med["versus_new_wall_ms"], med["versus_new_cpu_ms"], 2 * rounds
    printf "end to end (ms, wall): l=300 1000 generations: 1 report %.1f, 1000 reports %.1f" \
      " (%s changed generations, %s of 300 levels active on average)\n",
      med["a_one_wall"], med["a_each_wall"], med["a_generations"], med["a_active"]
    printf "  l=60 cycle 20000 reports %.1f; sweep of 8 at l=300 --jobs 1 %.0f, --jobs 2 %.0f;" \
      " model and 4 simulated runs --jobs 1 %.0f, --jobs 2 %.0f\n", med["d_cycle_wall"],
      med["e_jobs1_wall"], med["e_jobs2_wall"], med["f_jobs1_wall"], med["f_jobs2_wall"]
    printf "  l=5 200000 reports: console /dev/null %.1f vs writes %.1f;" \
      " console file %.1f vs writes %.1f\n",
      med["b_null_wall"], med["w_null_wall"], med["b_file_wall"], med["w_file_wall"]
    printf "ratios: program / 128-byte writes of the same bytes, median of the ratios of\n"
    printf "repetitions run side by side; null: console to /dev/null, file: console to a\n"
    printf "file; the output file on disk in both. Rates count CPU or wall time as marked.\n"
    exit failed
  }' "$facts" | tee "$results/summary.txt"
