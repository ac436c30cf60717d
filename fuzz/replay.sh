#!/usr/bin/env bash
# Builds the fuzz targets (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, in build-fuzz or $FUZZ_BUILD, JOBS=n parallel
# jobs, 2 by default) and runs every input of their corpus once:
#   fuzz/replay.sh [CORPUS_ROOT]     (fuzz/replay.sh --build-only: just build)
# CORPUS_ROOT holds one directory per target (default fuzz/corpus). Exits
# non-zero when an input fails a check or a sanitizer; the failing target's
# log is printed and the input is kept in build-fuzz/artifacts/TARGET/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${FUZZ_BUILD:-build-fuzz}
root=${1:-fuzz/corpus}
targets=$(ls fuzz/corpus)
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBLOCKLEVELS_FUZZ=ON \
  -DBLOCKLEVELS_TESTS=OFF >"$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 1; }
cmake --build "$build" -j"${JOBS:-2}" $(printf -- '--target %s ' $targets) >"$build.build.log" 2>&1 ||
  { cat "$build.build.log"; exit 1; }
[ "$root" = --build-only ] && exit 0
status=0
for target in $targets; do
  [ -d "$root/$target" ] || continue
  artifacts="$PWD/$build/artifacts/$target"
  log="$build/replay-$target.log"
  mkdir -p "$artifacts"
  if "$build/fuzz/$target" -runs=0 -timeout=60 -artifact_prefix="$artifacts/" "$root/$target" \
      >"$log" 2>&1; then
    echo "$target: $(find "$root/$target" -type f | wc -l) inputs replayed"
  else
    cat "$log"
    echo "$target: FAILED (log $log)"
    status=1
  fi
done
exit $status
