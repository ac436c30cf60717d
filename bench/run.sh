#!/usr/bin/env bash
# Runs every benchmark and prints a summary against the team's targets.
#
#   bench/run.sh [BUILD_DIR]     (default: build-bench; REPS=5 repetitions)
#
# Configures a Release build with the benchmarks in BUILD_DIR, builds it with
# two jobs, runs the Google benchmarks (model build, one generation, number
# formatting) with REPS repetitions each, then bench/end_to_end.sh, and
# prints the summary table. The raw results (CSV and the end-to-end medians)
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
# The sources as they are when the build starts.
commit=unknown
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  commit=$(git -C "$root" rev-parse --short HEAD)
  if [ -n "$(git -C "$root" status --porcelain -- src CMakeLists.txt)" ]; then
    commit="$commit, with uncommitted changes in src/"
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

for bench in model generation format; do
  echo "== $bench"
  "$build/bench/blocklevels_${bench}_bench" --benchmark_repetitions="$reps" \
    --benchmark_display_aggregates_only=true \
    --benchmark_out="$results/$bench.csv" --benchmark_out_format=csv
done
echo "== end to end"
NO_BUILD=1 RESULTS="$results/end_to_end.txt" "$root/bench/end_to_end.sh" "$build"

# value FILE NAME_PREFIX STATISTIC COLUMN: a column of the row whose name
# starts with NAME_PREFIX and ends with _STATISTIC (columns: 3 real time,
# 7 items per second).
value() {
  awk -F, -v prefix="$2" -v suffix="_$3" -v column="$4" '
    { name = $1; gsub(/"/, "", name) }
    index(name, prefix) == 1 && substr(name, length(name) - length(suffix) + 1) == suffix {
      print $column; exit
    }' "$1"
}
# spread FILE NAME_PREFIX COLUMN: "median min max".
spread() {
  echo "$(value "$1" "$2" median "$3") $(value "$1" "$2" min "$3") $(value "$1" "$2" max "$3")"
}
e2e() { awk -v key="$1" '$1 == key { $1 = ""; print substr($0, 2) }' "$results/end_to_end.txt"; }

read -r m50 _ _ < <(spread "$results/model.csv" BM_BuildModel/50/ 3)
read -r m100 _ _ < <(spread "$results/model.csv" BM_BuildModel/100/ 3)
read -r m300 m300lo m300hi < <(spread "$results/model.csv" BM_BuildModel/300/ 3)
read -r m1000 m1000lo m1000hi < <(spread "$results/model.csv" BM_BuildModel/1000/ 3)
read -r lit50 lit50lo lit50hi < <(spread "$results/model.csv" BM_LiteralMatrix/50/ 3)
read -r lit100 lit100lo lit100hi < <(spread "$results/model.csv" BM_LiteralMatrix/100/ 3)
read -r gen genlo genhi < <(spread "$results/generation.csv" BM_Generation 3)
read -r f106 f106lo f106hi < <(spread "$results/format.csv" BM_FormatFixed/width:10/decimals:6 7)
read -r f33 f33lo f33hi < <(spread "$results/format.csv" BM_FormatFixed/width:3/decimals:3 7)
read -r s6 _ _ < <(spread "$results/format.csv" BM_Snprintf/decimals:6 7)
read -r s3 _ _ < <(spread "$results/format.csv" BM_Snprintf/decimals:3 7)
read -r rss rsslo rsshi < <(e2e rss_kib)
read -r rn rnlo rnhi < <(e2e ratio_null)
read -r rf rflo rfhi < <(e2e ratio_file)
read -r cn cnlo cnhi < <(e2e cpu_ratio_null)
read -r cf cflo cfhi < <(e2e cpu_ratio_file)
read -r m300cpu _ _ < <(spread "$results/model.csv" BM_BuildModel/300/ 4)
read -r m1000cpu _ _ < <(spread "$results/model.csv" BM_BuildModel/1000/ 4)
read -r gencpu _ _ < <(spread "$results/generation.csv" BM_Generation 4)

summary=$results/summary.txt
awk -v started="$started" -v commit="$commit" -v reps="$reps" -v cores="$(nproc)" \
  -v load="$(cut -d' ' -f1-3 /proc/loadavg)" \
  -v m50="$m50" -v m100="$m100" -v m300="$m300" -v m300lo="$m300lo" -v m300hi="$m300hi" \
  -v m1000="$m1000" -v m1000lo="$m1000lo" -v m1000hi="$m1000hi" \
  -v lit50="$lit50" -v lit50lo="$lit50lo" -v lit50hi="$lit50hi" \
  -v lit100="$lit100" -v lit100lo="$lit100lo" -v lit100hi="$lit100hi" \
  -v gen="$gen" -v genlo="$genlo" -v genhi="$genhi" \
  -v f106="$f106" -v f106lo="$f106lo" -v f106hi="$f106hi" \
  -v f33="$f33" -v f33lo="$f33lo" -v f33hi="$f33hi" -v s6="$s6" -v s3="$s3" \
  -v rss="$rss" -v rsslo="$rsslo" -v rsshi="$rsshi" \
  -v rn="$rn" -v rnlo="$rnlo" -v rnhi="$rnhi" -v rf="$rf" -v rflo="$rflo" -v rfhi="$rfhi" \
  -v cn="$cn" -v cnlo="$cnlo" -v cnhi="$cnhi" -v cf="$cf" -v cflo="$cflo" -v cfhi="$cfhi" \
  -v m300cpu="$m300cpu" -v m1000cpu="$m1000cpu" -v gencpu="$gencpu" '
  function row(target, measured, pass) {
    printf "%-44s %-40s %s\n", target, measured, pass ? "pass" : "FAIL"
  }
  BEGIN {
    printf "blocklevels benchmarks, started %s\n", started
    printf "commit %s; %d cores; load average at the end %s\n", commit, cores, load
    printf "medians of %d repetitions (min..max)\n\n", reps
    printf "%-44s %-40s %s\n", "target", "measured", "result"
    row("model build l=300 <= 15 ms",
        sprintf("%.2f ms (%.2f..%.2f)", m300, m300lo, m300hi), m300 <= 15)
    # The literal evaluation grows as l^5: l = 300 is 3^5 times l = 100.
    est = lit100 * 243
    row("literal / model build l=300 >= 30000",
        sprintf("%.0f (%.0f..%.0f)", est / m300, lit100lo * 243 / m300hi,
                lit100hi * 243 / m300lo), est / m300 >= 30000)
    row("model build l=1000 <= 1 s",
        sprintf("%.0f ms (%.0f..%.0f)", m1000, m1000lo, m1000hi), m1000 <= 1000)
    row("peak resident l=1000 <= 40 MB",
        sprintf("%.1f MB (%.1f..%.1f)", rss * 1024 / 1e6, rsslo * 1024 / 1e6,
                rsshi * 1024 / 1e6), rss * 1024 <= 40e6)
    row("one generation l=300, all active <= 0.3 ms",
        sprintf("%.3f ms (%.3f..%.3f)", gen / 1000, genlo / 1000, genhi / 1000), gen <= 300)
    row("format_fixed (10,6) >= 20 M numbers/s",
        sprintf("%.1f M/s (%.1f..%.1f)", f106 / 1e6, f106lo / 1e6, f106hi / 1e6), f106 >= 20e6)
    row("format_fixed (3,3) >= 20 M numbers/s",
        sprintf("%.1f M/s (%.1f..%.1f)", f33 / 1e6, f33lo / 1e6, f33hi / 1e6), f33 >= 20e6)
    row("l=5 200000 reports <= 1.3 x writes, null",
        sprintf("%.3f x (%.3f..%.3f)", rn, rnlo, rnhi), rn <= 1.3)
    row("l=5 200000 reports <= 1.3 x writes, file",
        sprintf("%.3f x (%.3f..%.3f)", rf, rflo, rfhi), rf <= 1.3)
    row("  the same in CPU time, null",
        sprintf("%.3f x (%.3f..%.3f)", cn, cnlo, cnhi), cn <= 1.3)
    row("  the same in CPU time, file",
        sprintf("%.3f x (%.3f..%.3f)", cf, cflo, cfhi), cf <= 1.3)
    printf "\n"
    printf "model build: l=50 %.3f ms, l=100 %.3f ms, l=300 %.2f ms, l=1000 %.0f ms\n",
           m50, m100, m300, m1000
    printf "CPU time medians: model build l=300 %.2f ms, l=1000 %.0f ms; generation %.3f ms\n",
           m300cpu, m1000cpu, gencpu / 1000
    printf "literal evaluation: l=50 %.1f ms (%.1f..%.1f), l=100 %.0f ms (%.0f..%.0f)\n",
           lit50, lit50lo, lit50hi, lit100, lit100lo, lit100hi
    printf "literal at l=300, not run, extrapolated as l^5: from l=100 %.0f s, from l=50 %.0f s\n",
           lit100 * 243 / 1000, lit50 * 7776 / 1000
    printf "  (speed-up from the l=50 figure: %.0f); measured growth l=50 -> 100: x%.1f (l^5: x32)\n",
           lit50 * 7776 / m300, lit100 / lit50
    printf "snprintf: %%.6Lf %.1f M/s, %%.3Lf %.1f M/s; format_fixed (10,6) is x%.1f of %%.6Lf\n",
           s6 / 1e6, s3 / 1e6, f106 / s6
    printf "times are wall-clock unless marked CPU; ratios: program / 128-byte writes of the\n"
    printf "same bytes, paired by repetition, wall-clock unless marked CPU; null: console to\n"
    printf "/dev/null, file: console to a file; the output file is on disk in both\n"
  }' | tee "$summary"
