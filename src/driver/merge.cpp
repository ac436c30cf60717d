#include "driver/merge.hpp"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/csv_table.hpp"
#include "driver/simulation_rows.hpp"
#include "driver/write_statement.hpp"
#include "runtime/run_streams.hpp"
#include "runtime/stop_report.hpp"

namespace blocklevels {
namespace {

constexpr std::size_t kTableBufferSize = std::size_t{1} << 16;
constexpr std::size_t kKeyFields = 7;   // source .. blocks
constexpr std::size_t kValueStart = 9;  // mean_level, X1, ...

struct Refusal {
  std::string message;
};

struct Shard {
  std::string name;
  std::string text;
  std::vector<std::string_view> rows;  // after the header, without LF
  std::size_t next = 0;
};

Shard read_shard(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  if (!in) throw Refusal{"cannot read '" + name + "'"};
  std::ostringstream text;
  text << in.rdbuf();
  Shard shard{name, text.str(), {}, 0};
  std::string_view all = shard.text;
  for (std::size_t from = 0; from < all.size();) {
    const std::size_t end = all.find('\n', from);
    if (end == std::string_view::npos) throw Refusal{"'" + name + "' ends in a cut row"};
    shard.rows.push_back(all.substr(from, end - from));
    from = end + 1;
  }
  if (shard.rows.empty()) throw Refusal{"'" + name + "' is empty"};
  return shard;
}

bool is_partial(std::string_view source) {
  return source == kRunsSource || source == kSumSource || source == kSumOfSquaresSource;
}

// The point a row belongs to, as the table names it.
StudyPoint point_of(const std::vector<std::string_view>& f) {
  auto integer = [](std::string_view text) {
    return static_cast<std::int32_t>(std::stol(std::string(text)));
  };
  StudyPoint point;
  point.p.lambda = integer(f[1]);
  point.p.mu = integer(f[2]);
  point.pmut_text = std::string(f[3]);
  point.p.block_length = integer(f[4]);
  point.p.two_option_positions = integer(f[5]);
  point.p.blocks = integer(f[6]);
  return point;
}

bool same_key(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b) {
  for (std::size_t i = 1; i < kKeyFields + 1; ++i) {
    if (i >= a.size() || i >= b.size() || a[i] != b[i]) return false;
  }
  return true;  // lambda .. blocks and t
}

// The next three rows of a shard: runs, sums and sums of squares of one
// report time of the point `key` names.
std::vector<std::vector<std::string_view>> take_partial(Shard& shard,
                                                        const std::vector<std::string_view>& key) {
  std::vector<std::vector<std::string_view>> three;
  const std::string_view sources[] = {kRunsSource, kSumSource, kSumOfSquaresSource};
  for (const std::string_view source : sources) {
    if (shard.next >= shard.rows.size()) throw Refusal{"'" + shard.name + "' ends early"};
    std::vector<std::string_view> f = csv_fields(shard.rows[shard.next++]);
    if (f[0] != source || !same_key(f, key)) {
      throw Refusal{"'" + shard.name + "' does not match the first shard at its row " +
                    std::to_string(shard.next + 1)};
    }
    three.push_back(std::move(f));
  }
  return three;
}

std::vector<std::string_view> values_of(const std::vector<std::string_view>& f) {
  return {f.begin() + kValueStart, f.end()};
}

void merge_simulation(std::vector<Shard>& shards, std::int32_t max_blocks, std::string& out) {
  Shard& first = shards[0];
  while (first.next < first.rows.size()) {
    const std::string_view row = first.rows[first.next];
    std::vector<std::string_view> f = csv_fields(row);
    if (!is_partial(f[0])) {
      // Model rows are the first shard's; a point that stopped has stopped
      // in every shard.
      ++first.next;
      out.append(row);
      out += '\n';
      if (f.size() > 8 && f[8] != "0") {
        for (std::size_t k = 1; k < shards.size(); ++k) {
          Shard& other = shards[k];
          if (other.next >= other.rows.size() || other.rows[other.next] != row) {
            throw Refusal{"'" + other.name + "' does not hold the stopped point of the first"};
          }
          ++other.next;
        }
      }
      continue;
    }
    const StudyPoint point = point_of(f);
    simulation::RunTotals totals(1, point.p.blocks);
    for (Shard& shard : shards) {
      const auto three = take_partial(shard, f);
      if (!read_partial_rows(values_of(three[0]), values_of(three[1]), values_of(three[2]),
                             point.p.blocks, totals)) {
        throw Refusal{"'" + shard.name + "' holds a sum that is not an exact count"};
      }
    }
    const simulation::Summary summary = simulation::summarize(totals, point.p.lambda);
    append_summary_rows(out, point, max_blocks, summary, 0, std::stoll(std::string(f[7])));
  }
  for (const Shard& shard : shards) {
    if (shard.next != shard.rows.size()) {
      throw Refusal{"'" + shard.name + "' holds rows the first shard does not"};
    }
  }
}

}  // namespace

int run_merge(int argc, char** argv) {
  CLI::App app{
      "blocklevels merge: the CSV table of a whole study from the CSV tables of its shards\n"
      "(--shard K/N), given in the order K = 0, 1, ...; written to standard output.",
      "blocklevels merge"};
  std::vector<std::string> names;
  app.add_option("FILE", names, "the shards' CSV files")->required();
  try {
    app.parse(argc - 1, argv + 1);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    std::cerr << "blocklevels merge: " << e.what() << '\n';
    return 2;
  }
  runtime::set_stop_style(runtime::StopStyle::words);
  std::string out;
  try {
    std::vector<Shard> shards;
    for (const std::string& name : names) shards.push_back(read_shard(name));
    const std::string_view header = shards[0].rows[0];
    bool partial = false;
    for (Shard& shard : shards) {
      if (shard.rows[0] != header) {
        throw Refusal{"'" + shard.name + "' has another header than '" + shards[0].name + "'"};
      }
      shard.next = 1;
      for (const std::string_view row : shard.rows) {
        partial = partial || is_partial(row.substr(0, row.find(',')));
      }
    }
    out.append(header);
    out += '\n';
    const auto max_blocks = static_cast<std::int32_t>(csv_fields(header).size() - kValueStart - 1);
    if (partial) {
      merge_simulation(shards, max_blocks, out);
    } else {
      for (const Shard& shard : shards) {
        for (std::size_t i = 1; i < shard.rows.size(); ++i) {
          out.append(shard.rows[i]);
          out += '\n';
        }
      }
    }
  } catch (const Refusal& refusal) {
    std::cerr << "blocklevels merge: " << refusal.message << '\n';
    return 2;
  } catch (const std::exception&) {
    std::cerr << "blocklevels merge: a row is not one this program writes\n";
    return 2;
  }
  runtime::OutputStream& table = runtime::table_file();
  table.open(STDOUT_FILENO, runtime::LineEnd::lf, false, kTableBufferSize);
  write_line(table, out);
  close_stream(table);
  return 0;
}

}  // namespace blocklevels
