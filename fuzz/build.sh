#!/usr/bin/env bash
# Builds the fuzz targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz (FUZZ_BUILD=dir to change it).
# Prints nothing unless the build fails. JOBS=n sets the parallel jobs (2).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${FUZZ_BUILD:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DBLOCKLEVELS_FUZZ=ON -DBLOCKLEVELS_TESTS=OFF -DBLOCKLEVELS_BENCH=OFF \
  >"$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 1; }
targets=()
for source in fuzz/fuzz_*.cpp; do
  targets+=(--target "$(basename "$source" .cpp)")
done
cmake --build "$build" -j"${JOBS:-2}" "${targets[@]}" >"$build.build.log" 2>&1 ||
  { cat "$build.build.log"; exit 1; }
