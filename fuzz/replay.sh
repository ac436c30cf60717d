#!/usr/bin/env bash
# Builds the fuzz targets and runs every input of their corpus once:
#   fuzz/replay.sh [CORPUS_ROOT]
# CORPUS_ROOT holds one directory per target (default fuzz/corpus). Exits
# non-zero when an input fails a check or a sanitizer; the failing target's
# log is printed and the input is kept in build-fuzz/artifacts/TARGET/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${FUZZ_BUILD:-build-fuzz}
root=${1:-fuzz/corpus}
fuzz/build.sh
status=0
for source in fuzz/fuzz_*.cpp; do
  target=$(basename "$source" .cpp)
  corpus="$root/$target"
  [ -d "$corpus" ] || { echo "$target: no corpus in $corpus"; status=1; continue; }
  artifacts="$build/artifacts/$target"
  mkdir -p "$artifacts"
  log="$build/replay-$target.log"
  count=$(find "$corpus" -type f | wc -l)
  if "$build/fuzz/$target" -runs=0 -timeout=60 -artifact_prefix="$artifacts/" "$corpus" \
      >"$log" 2>&1; then
    echo "$target: $count inputs replayed"
  else
    cat "$log"
    echo "$target: FAILED (log $log)"
    status=1
  fi
done
exit $status
