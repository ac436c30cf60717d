#!/usr/bin/env bash
# A study spread over N shards run by GNU parallel (on this machine, or on
# others with its --sshlogin), then merged:
#
#   examples/parallel.sh DIR N OPTIONS...
#   blocklevels merge DIR/shard-*.csv > study.csv
#
# Shard K runs the options with --shard K/N and writes DIR/shard-K.csv (DIR
# is made when missing); a shard run again continues with --resume. The
# program is $BLOCKLEVELS when set, else blocklevels on the PATH. Its
# messages go to standard error; any shard that fails stops the rest, and
# the status is that shard's.
set -euo pipefail
if [ $# -lt 3 ]; then
  echo "usage: $0 DIR N OPTIONS..." >&2
  exit 2
fi
dir=$1 n=$2
shift 2
mkdir -p "$dir" || { echo "$0: cannot make the directory '$dir' for the shards" >&2; exit 3; }
seq 0 $((n - 1)) | parallel --will-cite --halt now,fail=1 -q \
  "${BLOCKLEVELS:-blocklevels}" "$@" --shard "{}/$n" --csv "$dir/shard-{}.csv" --quiet --resume
