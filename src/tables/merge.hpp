// merge: the table of a whole study from the tables of its shards, given
// in any order: exactly the bytes one machine writes for the same command.
// Every shard is checked to belong (same study, seed, runs and N, each K
// once, none missing) and every row to be one the program writes, in its
// place; the merge streams, holding one entry per shard and one report
// time's sums at a time.
#pragma once

#include <string>
#include <vector>

namespace blocklevels {

// Writes the merged table of the shards `names` to standard output. A
// refusal throws Failure (status 2) naming the file and the problem.
void merge_shards(const std::vector<std::string>& names);

}  // namespace blocklevels
