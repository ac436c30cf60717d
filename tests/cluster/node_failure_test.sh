#!/usr/bin/env bash
# A sharded sweep on a Slurm cluster of three nodes, one of which fails in
# the middle, compared byte for byte with one machine's table:
#
#   tests/cluster/node_failure_test.sh BLOCKLEVELS SOURCE_DIR [POINTS [SHARDS]]
#
# The sweep is POINTS values of pmut (default 96000; the full size is 100000)
# at lambda 10, mu 5, 10 blocks of one position, 100 generations. It runs as
# a job array of SHARDS tasks (default 4) of examples/slurm/sweep.sbatch on
# nodes n1, n2 and n3 (one CPU each). Once a shard running on n2 has written
# complete points, n2 fails: its slurmd, its step daemons and its tasks are
# killed (SIGKILL). Slurm marks n2 down and requeues its task, which
# continues the shard with --resume on another node; the merged shards must
# be the one machine's table. As root, with Debian's slurm-wlm and munge;
# exits 77 (skipped) with the reason where it cannot run. Prints the times.
set -uo pipefail
program=$1 source=$2 points=${3:-96000} shards=${4:-4}
# The tasks run elsewhere: both paths absolute.
program=$(realpath "$program") source=$(realpath "$source")
here=$(dirname "$0")
skip() { echo "skipped: Cluster.node_failure: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }
seconds() { date +%s.%N; }
since() { awk -v now="$(seconds)" -v then="$1" 'BEGIN { printf "%.1f", now - then }'; }

source "$here/slurm_cluster.sh"
why=$(cluster_skip_reason)
[ -n "$why" ] && skip "$why"

work=$(mktemp -d "${TMPDIR:-/tmp}/blocklevels-node-failure.XXXXXX")
cleanup() {
  cluster_stop
  rm -rf "$work"
}
trap cleanup EXIT

study=(--lambda 10 --mu 5 --pmut "0.001:0.1:$points" --block-length 1 --blocks 10 --final 100
       --step 100)
start=$(seconds)
"$program" "${study[@]}" --jobs 2 --csv "$work/one-machine.csv" --quiet || fail "one machine's run"
echo "one machine, --jobs 2: $points points in $(since "$start") s"

start=$(seconds)
cluster_start "$work/cluster" 3 || fail "the cluster did not start"
echo "three nodes idle after $(since "$start") s"

cd "$work" || fail "no $work"
start=$(seconds)
sbatch --wait --array="0-$((shards - 1))" --export=ALL,BLOCKLEVELS="$program" \
  "$source/examples/slurm/sweep.sbatch" "$work/shards" "${study[@]}" \
  >"$work/sbatch.out" 2>&1 &
submitted=$!

# A shard n2 runs, caught with complete points written and its end not yet
# (a complete point is a row after the header and the shard row). The node's
# processes are found before the table is looked at, so that the kill
# follows the look at once.
victim=
while [ -z "$victim" ]; do
  kill -0 $submitted 2>/dev/null || fail "the job array ended before n2 was caught in a shard"
  # The shards n2 runs or ran, by the line each task logs as it starts.
  for k in $(sed -n "s/^shard \([0-9]*\) of $shards on n2 .*/\1/p" "$work"/blocklevels-*.log \
    2>/dev/null); do
    table=$work/shards/shard-$k.csv
    [ -f "$table" ] && ! grep -q '^shard_end,' "$table" || continue
    pids=$(cluster_node_processes n2)
    listing=$(ps -o pid=,args= -p "$(echo $pids | tr ' ' ,)")
    if [ "$(head -c 1M "$table" | tr -cd '\n' | wc -c)" -ge 3 ] &&
      ! grep -q '^shard_end,' "$table"; then
      kill -KILL $pids
      victim=$k
      break
    fi
  done
  [ -n "$victim" ] || sleep 0.02
done
killed=$(seconds)
sed 's/^ */killed on n2: /' <<<"$listing"
cluster_kill_node n2 || fail "node n2 could not be killed"
table=$work/shards/shard-$victim.csv
# What survived: every row up to the last line end (a cut row may follow).
whole=$(wc -c <"$table")
[ -n "$(tail -c 1 "$table")" ] && whole=$((whole - $(tail -n 1 "$table" | wc -c)))
head -c "$whole" "$table" >"$work/survived.csv"
grep -q '^shard_end,' "$work/survived.csv" && fail "shard $victim ended before n2 was killed"
kept=$(($(wc -l <"$work/survived.csv") - 2))
cut=$(($(wc -c <"$table") - $(wc -c <"$work/survived.csv")))
echo "n2 killed $(since "$start") s after submission, in shard $victim of $shards:" \
  "$kept rows written, then $cut bytes of a cut row"

wait $submitted
status=$?
echo "the job array ended $(since "$killed") s after the kill, $(since "$start") s after submission"
# What the controller did: n2 down, its job requeued.
grep -i -E 'n2|requeue' "$work/cluster/slurmctld.log" | grep -v -i 'registration' | sed 's/^/slurmctld: /'
echo "killed at $(date -d "@$killed" +%H:%M:%S.%3N)"
[ $status = 0 ] || fail "sbatch --wait: status $status: $(cat "$work/sbatch.out")" \
  "$(tail -n 3 "$work"/blocklevels-*.log)"

# The shard ran twice, first on n2, then requeued on another node, and kept
# what survived on n2.
log=$(ls "$work"/blocklevels-*_"$victim".log)
runs=$(grep -c "^shard $victim of $shards on " "$log")
grep -q "^shard $victim of $shards on n2 .*restart 0" "$log" &&
  grep -q "^shard $victim of $shards on n[13] .*restart 1" "$log" ||
  fail "shard $victim did not run on n2 and then again elsewhere: $(cat "$log")"
[ "$runs" = 2 ] || fail "shard $victim ran $runs times: $(cat "$log")"
cmp -n "$(wc -c <"$work/survived.csv")" "$work/survived.csv" "$table" ||
  fail "the resumed shard does not begin with the rows that survived"
grep -q '^shard_end,' "$table" || fail "the resumed shard has no shard_end row"

"$program" merge "$work"/shards/shard-*.csv >"$work/merged.csv" || fail "merge"
cmp "$work/merged.csv" "$work/one-machine.csv" || fail "the merged table is not one machine's"
echo "node failure: $shards shards on n1-n3, n2 killed in shard $victim, resumed on" \
  "$(sed -n 's/^shard [0-9]* of [0-9]* on \(n[0-9]*\) .*restart 1).*/\1/p' "$log"), merged into one machine's" \
  "table ($(wc -l <"$work/merged.csv") lines, $(wc -c <"$work/merged.csv") bytes)"
