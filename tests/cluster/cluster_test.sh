#!/usr/bin/env bash
# A study run on a real engine, its shards merged, compared byte for byte
# with one machine's table:
#
#   tests/cluster/cluster_test.sh slurm|parallel BLOCKLEVELS SOURCE_DIR
#
# slurm: as root with Debian's slurm-wlm and munge, starts a cluster of three
# nodes in a temporary directory (slurm_cluster.sh), submits
# examples/slurm/sweep.sbatch as a job array of 4 into a directory that does
# not exist yet, checks that the tasks ran on more than one node, and stops
# only the daemons it started. parallel: examples/parallel.sh with GNU
# parallel. Exits 77 (skipped) with the reason when the engine cannot run here.
set -uo pipefail
engine=$1 program=$2 source=$3
# The tasks run elsewhere: both paths absolute.
program=$(realpath "$program") source=$(realpath "$source")
skip() { echo "skipped: Cluster.$engine: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/blocklevels-$engine.XXXXXX")
source "$(dirname "$0")/slurm_cluster.sh"
cleanup() {
  cluster_stop
  rm -rf "$work"
}
trap cleanup EXIT

# A sweep of 6 points and a simulation of 8 runs: both kinds of shard.
study=(--lambda 20,40 --mu 5 --pmut 0.05:0.2:3 --block-length 2 --blocks 4 --final 12 --step 3
       --simulate 8 --seed 7)
"$program" "${study[@]}" --csv "$work/one-machine.csv" --quiet || fail "one machine's run"

case $engine in
  parallel)
    command -v parallel >/dev/null || skip "GNU parallel is not installed (Debian: parallel)"
    # A model sweep's shards too: each holds every fourth point.
    sweep=(--lambda 10,20,30 --mu 5 --pmut 0.1,0.3 --block-length 2 --blocks 3 --final 6)
    "$program" "${sweep[@]}" --csv "$work/sweep.csv" --quiet || fail "one machine's sweep"
    BLOCKLEVELS=$program "$source/examples/parallel.sh" "$work/sweep-shards" 4 "${sweep[@]}" ||
      fail "examples/parallel.sh, the sweep"
    "$program" merge "$work"/sweep-shards/shard-*.csv | cmp - "$work/sweep.csv" ||
      fail "the merged sweep is not one machine's"
    BLOCKLEVELS=$program "$source/examples/parallel.sh" "$work/shards" 4 "${study[@]}" ||
      fail "examples/parallel.sh"
    # A directory that cannot be made is said, with a failing status.
    touch "$work/plain"
    BLOCKLEVELS=$program "$source/examples/parallel.sh" "$work/plain/shards" 2 "${sweep[@]}" \
      >"$work/refused.out" 2>&1
    status=$?
    [ $status != 0 ] && grep -q "cannot make the directory '$work/plain/shards'" "$work/refused.out" ||
      fail "examples/parallel.sh into a directory below a file: status $status, $(cat "$work/refused.out")"
    ;;
  slurm)
    why=$(cluster_skip_reason)
    [ -n "$why" ] && skip "$why"
    cluster_start "$work/cluster" 3 || fail "the cluster did not start"
    # The logs go where sbatch is called from: the shards' directory is
    # made by the tasks.
    cd "$work" || fail "no $work"
    sbatch --wait --array=0-3 --export=ALL,BLOCKLEVELS="$program" \
      "$source/examples/slurm/sweep.sbatch" "$work/shards" "${study[@]}" >/dev/null ||
      fail "the job array: $(tail -n 3 "$work"/blocklevels-*.log)"
    nodes=$(sed -n 's/^shard [0-9]* of 4 on \(n[0-9]*\) .*/\1/p' "$work"/blocklevels-*.log | sort -u)
    [ "$(wc -l <<<"$nodes")" -ge 2 ] || fail "the tasks ran on one node only: $nodes"
    # A task of one CPU runs one point at a time.
    grep -q -- "--jobs 1 --shard 0/4 " "$work"/blocklevels-*_0.log ||
      fail "task 0 did not run with --jobs 1: $(cat "$work"/blocklevels-*_0.log)"
    echo "slurm: the 4 tasks ran on $(echo $nodes)"
    # A directory that cannot be made is said in the task's log, and the
    # array fails.
    touch "$work/plain"
    mkdir "$work/refused" && cd "$work/refused" || fail "no $work/refused"
    sbatch --wait --array=0-1 --export=ALL,BLOCKLEVELS="$program" \
      "$source/examples/slurm/sweep.sbatch" "$work/plain/shards" "${study[@]}" >/dev/null 2>&1 &&
      fail "a job array writing below a plain file succeeded"
    grep -q "cannot make the directory '$work/plain/shards'" "$work"/refused/blocklevels-*_0.log ||
      fail "the task's log does not say why: $(cat "$work"/refused/*)"
    ;;
  *) fail "no engine '$engine'" ;;
esac

[ "$(ls "$work/shards" | wc -l)" = 4 ] || fail "4 shards expected, found: $(ls "$work/shards")"
"$program" merge "$work"/shards/shard-*.csv >"$work/merged.csv" || fail "merge"
cmp "$work/merged.csv" "$work/one-machine.csv" || fail "the merged table is not one machine's"
echo "$engine: 4 shards merged into one machine's table ($(wc -l <"$work/merged.csv") lines)"
