#!/usr/bin/env bash
# A sweep of the mutation probability over two decades (8 points, evenly
# spaced on a log scale) for three population sizes: 24 points, run two at a
# time, every level of every report in sweep.csv and a figure in sweep.png.
#
#   examples/sweep.sh [PROGRAM]      (default: build/blocklevels)
set -euo pipefail
program=${1:-build/blocklevels}
"$program" --lambda 50,100,200 --mu 10 --pmut 0.001:0.1:8:log \
  --block-length 2 --blocks 20 --final 200 --step 5 \
  --jobs 2 --csv sweep.csv --plot sweep.png --force
