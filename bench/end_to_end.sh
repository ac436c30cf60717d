#!/usr/bin/env bash
# Times the real program end to end. Every case runs REPS times (default 5);
# the cases take turns, so that a change in the machine's load hits all of
# them alike. Prints medians with the spread (min..max) of the repetitions.
#
#   bench/end_to_end.sh [BUILD_DIR]      (default: build-bench)
#
# (a) l = 300, b = 1, lambda 100, Pmut 0.01, mu 10, 1000 generations: one
#     report (final 1000, step 1000) and 1000 reports (step 1), console to
#     /dev/null. The program stops computing generations once the level
#     vector no longer changes bit for bit; the number of generations it
#     really computes is printed (blocklevels_steady_count), with the mean
#     number of levels a generation sums over.
# (b) l = 5, the same parameters, 200000 reports at step 1 (final 200000),
#     the output file in a temporary directory and the console to /dev/null
#     or to a file there; next to it, writing the same console bytes and file
#     bytes to the same kinds of targets in 128-byte write() calls
#     (blocklevels_block_writer). Both sides are timed the same way, process
#     start included.
# (c) Peak resident memory of a run at l = 1000 (final 1, step 1, output
#     file /dev/null), from /usr/bin/time -f %M.
# (d) A run that settles into a cycle of period 2 at generation 28: l = 60,
#     lambda 10, mu 3, Pmut 0.9, 20000 generations reported at every step,
#     console to /dev/null.
# (e) A sweep of 8 points at l = 300 (lambda = mu = 1000, Pmut 0.0001 to
#     0.0008, 3000 generations, a report every 100) with --jobs 1 and --jobs 2.
# (f) 4 simulated runs (lambda 1000, mu 100, 300 blocks of 4, Pmut 0.001,
#     1000 generations) next to the model, with --jobs 1 and --jobs 2.
# (g) A 64 x 64 phase diagram: Xtop at the final generation over mu (1 to
#     100) and pmut (1e-4 to 0.1, log-spaced), lambda 100, 50 blocks of 4,
#     500 generations, drawn as a heat map (--plot-map), --jobs 2.
#
# Wall-clock time is the measure; the CPU time (user + system) is shown next
# to it, since on a shared machine it depends less on the other processes. With RESULTS=FILE the medians are also written to FILE as
# "key value" lines (used by bench/run.sh).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
reps=${REPS:-5}

# bench/run.sh has built everything already (and sets NO_BUILD=1), so that
# all its figures come from the same build.
if [ -z "${NO_BUILD:-}" ]; then
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBLOCKLEVELS_BENCH=ON \
      -DBLOCKLEVELS_TESTS=OFF >/dev/null
  fi
  cmake --build "$build" -j2 --target blocklevels blocklevels_timed_run \
    blocklevels_block_writer blocklevels_steady_count >/dev/null
fi

program=$build/blocklevels
timer=$build/bench/blocklevels_timed_run
writer=$build/bench/blocklevels_block_writer
steady=$build/bench/blocklevels_steady_count

work=$(mktemp -d "${TMPDIR:-/tmp}/blocklevels-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

lambda=100 pmut=0.01 mu=10
# answers NAME L FINAL STEP FILE: the dialogue's answers, b = 1, acc = 0.
answers() {
  printf '%s\n' $lambda $pmut 1 0 "$2" "$3" "$4" $mu "$5" >"$work/$1.in"
}
answers a_one 300 1000 1000 "$work/a_one.out"
answers a_each 300 1000 1 "$work/a_each.out"
answers b_null 5 200000 1 "$work/b_null.out"
answers b_file 5 200000 1 "$work/b_file.out"
answers c_rss 1000 1 1 /dev/null
printf '%s\n' 10 0.9 1 0 60 20000 1 3 "$work/d_cycle.out" >"$work/d_cycle.in"
: >"$work/none.in"
sweep=(--lambda 1000 --mu 1000 --pmut 0.0001:0.0008:8 --block-length 1 --blocks 300
  --final 3000 --step 100 --quiet)
phase=(--lambda 100 --mu 1:100:64 --pmut 0.0001:0.1:64:log --block-length 4 --blocks 50
  --final 500 --step 500 --plot-map Xtop --plot "$work/g.png" --force --quiet --jobs 2)
# The simulation's rows go to a CSV file: runs whose results go nowhere are
# not run.
simulated=(--lambda 1000 --mu 100 --pmut 0.001 --block-length 4 --blocks 300 --final 1000
  --simulate 4 --quiet --csv "$work/f.csv" --force)

# measure NAME INPUT CONSOLE COMMAND...: one timed run; appends
# "wall_ms cpu_ms peak_rss_kib" to NAME.times.
measure() {
  local name=$1 input=$2 console=$3
  shift 3
  local wall='' user='' sys='' rss='' code=''
  read -r wall user sys rss code < <("$timer" "$input" "$console" "$@") || true
  if [ "$code" != 0 ]; then
    echo "end_to_end: $name failed (exit status '${code}')" >&2
    exit 1
  fi
  awk -v w="$wall" -v u="$user" -v s="$sys" -v r="$rss" \
    'BEGIN { printf "%.3f %.3f %d\n", w, u + s, r }' >>"$work/$name.times"
}

# stats FILE COLUMN: "median min max" of a column.
stats() {
  awk -v c="$2" '{ print $c }' "$1" | sort -g | awk '
    { v[NR] = $1 }
    END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "%.3f %.3f %.3f\n", m, v[1], v[NR] }'
}

# paired_ratios A B COLUMN: "median min max" of the ratio A/B of each
# repetition's wall times (COLUMN 1) or CPU times (COLUMN 2).
paired_ratios() {
  paste -d' ' "$work/$1.times" "$work/$2.times" |
    awk -v c="$3" '{ printf "%.4f\n", $c / $(c + 3) }' >"$work/$1.ratios"
  stats "$work/$1.ratios" 1
}

# The byte counts the writer must match, from one run that writes them.
"$program" <"$work/b_file.in" >"$work/b_console.txt"
console_bytes=$(stat -c %s "$work/b_console.txt")
file_bytes=$(stat -c %s "$work/b_file.out")
b_reports=$(grep -c '^Xl(' "$work/b_console.txt" || true)
"$program" <"$work/a_each.in" >/dev/null
a_reports=$(grep -c '^Xl(' "$work/a_each.out" || true)
read -r a_generations a_period a_active < <("$steady" $lambda $pmut 1 0 300 $mu 1000)

for ((n = 1; n <= reps; ++n)); do
  measure a_one "$work/a_one.in" /dev/null "$program"
  measure a_each "$work/a_each.in" /dev/null "$program"
  measure b_null "$work/b_null.in" /dev/null "$program"
  measure w_null "$work/none.in" /dev/null "$writer" "$console_bytes" "$file_bytes" \
    "$work/w_null.out"
  measure b_file "$work/b_file.in" "$work/b_console.txt" "$program"
  measure w_file "$work/none.in" "$work/w_console.txt" "$writer" "$console_bytes" \
    "$file_bytes" "$work/w_file.out"
  measure c_rss "$work/c_rss.in" /dev/null "$program"
  /usr/bin/time -f %M -a -o "$work/c_rss.kib" "$program" <"$work/c_rss.in" >/dev/null
  measure d_cycle "$work/d_cycle.in" /dev/null "$program"
  measure e_jobs1 "$work/none.in" /dev/null "$program" "${sweep[@]}" --jobs 1
  measure e_jobs2 "$work/none.in" /dev/null "$program" "${sweep[@]}" --jobs 2
  measure f_jobs1 "$work/none.in" /dev/null "$program" "${simulated[@]}" --jobs 1
  measure f_jobs2 "$work/none.in" /dev/null "$program" "${simulated[@]}" --jobs 2
  measure g_phase "$work/none.in" /dev/null "$program" "${phase[@]}"
done

for f in w_null.out w_file.out; do
  if [ "$(stat -c %s "$work/$f")" != "$file_bytes" ]; then
    echo "end_to_end: the writer wrote the wrong number of bytes" >&2
    exit 1
  fi
done
if [ "$(stat -c %s "$work/w_console.txt")" != "$console_bytes" ] ||
  [ "$(stat -c %s "$work/b_console.txt")" != "$console_bytes" ]; then
  echo "end_to_end: console byte counts differ" >&2
  exit 1
fi

print_row() {  # print_row LABEL NAME
  read -r wm wlo whi < <(stats "$work/$2.times" 1)
  read -r cm _ _ < <(stats "$work/$2.times" 2)
  printf '%-50s %10.1f %10.1f %10.1f %10.1f\n' "$1" "$wm" "$wlo" "$whi" "$cm"
}

echo "end to end, $reps repetitions each (milliseconds; wall median, min, max; CPU median)"
printf '%-50s %10s %10s %10s %10s\n' case wall min max cpu
print_row "(a) l=300, 1000 generations, 1 report" a_one
print_row "(a) l=300, 1000 generations, 1000 reports" a_each
print_row "(b) l=5, 200000 reports, console /dev/null" b_null
print_row "    the same bytes in 128-byte writes" w_null
print_row "(b) l=5, 200000 reports, console to a file" b_file
print_row "    the same bytes in 128-byte writes" w_file
print_row "(c) l=1000, model build and 1 generation" c_rss
print_row "(d) l=60, cycle of period 2, 20000 reports" d_cycle
print_row "(e) sweep of 8 points at l=300, --jobs 1" e_jobs1
print_row "    the same, --jobs 2" e_jobs2
print_row "(f) model and 4 simulated runs, --jobs 1" f_jobs1
print_row "    the same, --jobs 2" f_jobs2
print_row "(g) 64 x 64 phase diagram at l=50, --jobs 2" g_phase
echo "(a) generations computed: $a_generations of 1000 (period found: $a_period), on average" \
  "$a_active of 300 levels with a non-zero shortfall; reports at step 1: $a_reports"
echo "(b) reports: $b_reports; console bytes: $console_bytes; file bytes: $file_bytes"
read -r rn rnlo rnhi < <(paired_ratios b_null w_null 1)
read -r rf rflo rfhi < <(paired_ratios b_file w_file 1)
read -r cn cnlo cnhi < <(paired_ratios b_null w_null 2)
read -r cf cflo cfhi < <(paired_ratios b_file w_file 2)
echo "(b) program / writer, paired by repetition (median, min..max):"
echo "    console /dev/null: wall $rn ($rnlo..$rnhi), CPU $cn ($cnlo..$cnhi)"
echo "    console file:      wall $rf ($rflo..$rfhi), CPU $cf ($cflo..$cfhi)"
read -r ej ejlo ejhi < <(paired_ratios e_jobs2 e_jobs1 1)
read -r fj fjlo fjhi < <(paired_ratios f_jobs2 f_jobs1 1)
echo "(e) --jobs 2 / --jobs 1, wall: $ej ($ejlo..$ejhi)"
echo "(f) --jobs 2 / --jobs 1, wall: $fj ($fjlo..$fjhi)"
read -r kib kiblo kibhi < <(stats "$work/c_rss.kib" 1)
read -r kib2 _ _ < <(stats "$work/c_rss.times" 3)
echo "(c) peak resident memory, /usr/bin/time -f %M: median $kib KiB ($kiblo..$kibhi);" \
  "wait4 ru_maxrss: median $kib2 KiB"

if [ -n "${RESULTS:-}" ]; then
  {
    echo "reps $reps"
    for name in a_one a_each b_null w_null b_file w_file c_rss d_cycle e_jobs1 e_jobs2 \
      f_jobs1 f_jobs2 g_phase; do
      read -r m lo hi < <(stats "$work/$name.times" 1)
      echo "${name}_wall $m $lo $hi"
    done
    echo "a_generations $a_generations"
    echo "a_active $a_active"
    echo "a_reports $a_reports"
    echo "b_reports $b_reports"
    echo "console_bytes $console_bytes"
    echo "file_bytes $file_bytes"
    echo "ratio_null $rn $rnlo $rnhi"
    echo "ratio_file $rf $rflo $rfhi"
    echo "cpu_ratio_null $cn $cnlo $cnhi"
    echo "cpu_ratio_file $cf $cflo $cfhi"
    echo "rss_kib $kib $kiblo $kibhi"
    echo "sweep_jobs_ratio $ej $ejlo $ejhi"
    echo "simulation_jobs_ratio $fj $fjlo $fjhi"
  } >"$RESULTS"
fi
