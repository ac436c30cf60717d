// blocklevels plot TABLE.csv FIGURE: the figure of a table written before
// (by a study, or merged from its shards), drawn from its rows alone and
// the same as the study that wrote them draws, without computing again.
#pragma once

namespace blocklevels {

// Status 0, or Failure thrown (status 2 for a refused command or
// table, 1 when the figure cannot be drawn).
int run_plot(int argc, char** argv);

}  // namespace blocklevels
