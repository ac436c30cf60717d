#!/usr/bin/env bash
# A study run on a real engine, its shards merged, compared byte for byte
# with one machine's table:
#
#   tests/cluster/cluster_test.sh slurm|parallel BLOCKLEVELS SOURCE_DIR
#
# slurm: as root with Debian's slurm-wlm and munge, starts munged, slurmctld
# and slurmd with a one-node configuration in a temporary directory, submits
# examples/slurm/sweep.sbatch as a job array of 4, and stops only the
# daemons it started. parallel: examples/parallel.sh with GNU parallel.
# Exits 77 (skipped) with the reason when the engine cannot run here.
set -uo pipefail
engine=$1 program=$2 source=$3
skip() { echo "skipped: Cluster.$engine: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/blocklevels-$engine.XXXXXX")
started=()
cleanup() {
  for pidfile in "${started[@]}"; do
    [ -f "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null
  done
  sleep 1
  rm -rf "$work"
}
trap cleanup EXIT

# A sweep of 6 points and a simulation of 8 runs: both kinds of shard.
study=(--lambda 20,40 --mu 5 --pmut 0.05:0.2:3 --block-length 2 --blocks 4 --final 12 --step 3
       --simulate 8 --seed 7)
"$program" "${study[@]}" --csv "$work/one-machine.csv" --quiet || fail "one machine's run"
mkdir "$work/shards"

case $engine in
  parallel)
    command -v parallel >/dev/null || skip "GNU parallel is not installed (Debian: parallel)"
    # A model sweep's shards too: each holds every fourth point.
    sweep=(--lambda 10,20,30 --mu 5 --pmut 0.1,0.3 --block-length 2 --blocks 3 --final 6)
    "$program" "${sweep[@]}" --csv "$work/sweep.csv" --quiet || fail "one machine's sweep"
    mkdir "$work/sweep-shards"
    BLOCKLEVELS=$program "$source/examples/parallel.sh" "$work/sweep-shards" 4 "${sweep[@]}" ||
      fail "examples/parallel.sh, the sweep"
    "$program" merge "$work"/sweep-shards/shard-*.csv | cmp - "$work/sweep.csv" ||
      fail "the merged sweep is not one machine's"
    BLOCKLEVELS=$program "$source/examples/parallel.sh" "$work/shards" 4 "${study[@]}" ||
      fail "examples/parallel.sh"
    ;;
  slurm)
    [ "$(id -u)" = 0 ] || skip "a one-node Slurm is started as root"
    for daemon in munged slurmctld slurmd sbatch; do
      command -v $daemon >/dev/null || skip "$daemon is not installed (Debian: slurm-wlm, munge)"
    done
    [ -f /etc/munge/munge.key ] || skip "munge has no key (/etc/munge/munge.key)"
    host=$(hostname -s)
    conf=$work/slurm.conf
    cat >"$conf" <<CONF
ClusterName=blocklevels-test
SlurmctldHost=$host
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
MpiDefault=none
JobAcctGatherType=jobacct_gather/none
NodeName=$host CPUs=$(nproc) State=UNKNOWN
PartitionName=test Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
    mkdir -p "$work/state" "$work/spool"
    export SLURM_CONF=$conf
    if ! pgrep -x munged >/dev/null; then
      mkdir -p /run/munge
      munged --force --pid-file="$work/munged.pid" 2>/dev/null || fail "munged did not start"
      started+=("$work/munged.pid")
    fi
    slurmctld -f "$conf" || fail "slurmctld did not start"
    started+=("$work/slurmctld.pid")
    slurmd -f "$conf" || fail "slurmd did not start"
    started+=("$work/slurmd.pid")
    for _ in $(seq 60); do
      sinfo -h -o %t 2>/dev/null | grep -q idle && break
      sleep 0.5
    done
    sinfo -h -o %t | grep -q idle || fail "the node did not come up: $(cat "$work"/*.log | tail -5)"
    sbatch --wait --array=0-3 --export=ALL,BLOCKLEVELS="$program" \
      "$source/examples/slurm/sweep.sbatch" "$work/shards" "${study[@]}" >/dev/null ||
      fail "the job array: $(tail -5 "$work/slurmd.log")"
    ;;
  *) fail "no engine '$engine'" ;;
esac

[ "$(ls "$work/shards" | wc -l)" = 4 ] || fail "4 shards expected, found: $(ls "$work/shards")"
"$program" merge "$work"/shards/shard-*.csv >"$work/merged.csv" || fail "merge"
cmp "$work/merged.csv" "$work/one-machine.csv" || fail "the merged table is not one machine's"
echo "$engine: 4 shards merged into one machine's table ($(wc -l <"$work/merged.csv") lines)"
