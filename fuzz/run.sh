#!/usr/bin/env bash
# Fuzzes one target for a given time, one process on one core:
#   fuzz/run.sh TARGET SECONDS [libFuzzer options...]
# New inputs go to build-fuzz/corpus-work/TARGET (the seeds of
# fuzz/corpus/TARGET are read as well but never changed); a failing input
# is written to build-fuzz/artifacts/TARGET/. The final statistics
# (executions, executions per second) end the output.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 2 ]; then
  echo "usage: fuzz/run.sh TARGET SECONDS [libFuzzer options...]" >&2
  exit 2
fi
target=$1
seconds=$2
shift 2
[ -f "fuzz/$target.cpp" ] || { echo "no fuzz target $target" >&2; exit 2; }
build=${FUZZ_BUILD:-build-fuzz}
fuzz/build.sh
work="$build/corpus-work/$target"
artifacts="$build/artifacts/$target"
mkdir -p "$work" "$artifacts"
case $target in
  fuzz_write_fixed) max_len=16 ;;
  fuzz_read_line_text | fuzz_dialogue) max_len=9000 ;;
  *) max_len=4096 ;;
esac
exec "$build/fuzz/$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=30 \
  -print_final_stats=1 -artifact_prefix="$artifacts/" "$@" "$work" "fuzz/corpus/$target"
