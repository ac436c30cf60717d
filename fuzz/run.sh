#!/usr/bin/env bash
# Fuzzes one target for a given time, one process on one core:
#   fuzz/run.sh TARGET SECONDS [libFuzzer options...]
# New inputs go to build-fuzz/corpus-work/TARGET (fuzz/corpus/TARGET is read,
# never changed); a failing input to build-fuzz/artifacts/TARGET/. The final
# statistics (executions, executions per second) end the output.
set -euo pipefail
cd "$(dirname "$0")/.."
target=$1 seconds=$2
shift 2
build=${FUZZ_BUILD:-build-fuzz}
fuzz/replay.sh --build-only
mkdir -p "$build/corpus-work/$target" "$build/artifacts/$target"
[ "$target" = fuzz_write_fixed ] && length=13 || length=9000
exec "$build/fuzz/$target" -max_total_time="$seconds" -max_len=$length -timeout=30 \
  -print_final_stats=1 -artifact_prefix="$PWD/$build/artifacts/$target/" "$@" \
  "$build/corpus-work/$target" "fuzz/corpus/$target"
