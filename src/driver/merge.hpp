// "blocklevels merge FILE...": the CSV a single machine would have written,
// from the CSV files of the shards of one study, given in the order of K.
// A simulation's shards hold the exact integer sums of their runs, which
// are added and summarised as one machine does, so the result is the same
// bit for bit. A model sweep's shards are put one after the other.
#pragma once

namespace blocklevels {

// argv[1] is "merge". Writes the merged table to standard output; returns
// the exit status (2 for shards that do not belong together).
int run_merge(int argc, char** argv);

}  // namespace blocklevels
