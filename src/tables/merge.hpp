// merge: the table of a whole study from the tables of its shards, given
// in any order: exactly the bytes one machine writes for the same command.
// Every shard is checked to belong (same study, seed, runs and N, each K
// once, none missing) and every row to be one the program writes, in its
// place; the merge streams, holding one row per shard and one report
// time's sums at a time.
#pragma once

namespace blocklevels {

// argv[1] is "merge". Writes the merged table to standard output; returns
// the exit status. A refusal throws Failure (status 2) naming the
// file and the problem.
int run_merge(int argc, char** argv);

}  // namespace blocklevels
