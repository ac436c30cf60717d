// merge: the CSV table of a whole study from the tables of its shards. The
// exact sums of simulation shards are added and summarised as one machine
// summarises its runs; model rows are put one after the other.
#pragma once

namespace blocklevels {

// argv[1] is "merge". Writes the merged table to standard output; returns
// the exit status. Shards that do not belong together throw
// runtime::Failure (status 2).
int run_merge(int argc, char** argv);

}  // namespace blocklevels
