#include "study/merge.hpp"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <string>
#include <vector>

#include "output/csv_reader.hpp"
#include "output/csv_table.hpp"
#include "output/write_statement.hpp"
#include "parameters/parameter_table.hpp"
#include "runtime/failure.hpp"
#include "runtime/run_streams.hpp"
#include "simulation/run_totals.hpp"
#include "text/fields.hpp"
#include "text/number_text.hpp"

namespace blocklevels {
namespace {

using simulation::uint128;

[[noreturn]] void refuse(std::string message) {
  throw runtime::Failure(runtime::kBadUsage, std::move(message));
}

// A row, its fields found by the header's names.
struct Row {
  std::string text;
  std::vector<std::string_view> fields;
};

// A shard's rows, read whole.
struct Shard {
  std::string name;
  std::string header;
  std::vector<std::string> columns;
  std::vector<Row> rows;
  std::size_t next = 0;
};

Shard read_shard(const std::string& name) {
  CsvReader reader(name);
  Shard shard{name, reader.header(), reader.columns(), {}, 0};
  while (reader.next()) shard.rows.push_back({std::string(reader.row()), {}});
  for (Row& row : shard.rows) row.fields = split(row.text, ',');
  return shard;
}

// The columns a merge reads, found by name in the header.
struct Columns {
  int source = -1, t = -1, status = -1, mean_level = -1;
  std::vector<int> parameters;  // the parameter table's CSV columns
  int first_value = -1;         // mean_level, then X1..XL

  explicit Columns(const std::vector<std::string>& names) {
    auto find = [&](std::string_view name) {
      for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) return static_cast<int>(i);
      }
      refuse("a table without the column '" + std::string(name) + "'");
    };
    source = find("source");
    t = find(kTimeColumn);
    status = find(kStatusColumn);
    mean_level = find(kMeanLevelColumn);
    for (const ParameterDescription& d : parameter_table()) {
      if (d.csv_column) parameters.push_back(find(d.name));
    }
    first_value = mean_level;
  }
};

std::string_view field(const Row& row, int index) {
  const auto i = static_cast<std::size_t>(index);
  return i < row.fields.size() ? row.fields[i] : std::string_view();
}

bool is_partial(std::string_view source) {
  return source == kRunsSource || source == kSumSource || source == kSumOfSquaresSource;
}

// The point a row names, from its parameter columns.
Point point_of(const Row& row, const Columns& columns, const std::string& shard) {
  Point point;
  std::size_t k = 0;
  for (const ParameterDescription& d : parameter_table()) {
    if (!d.csv_column) continue;
    const std::string_view text = field(row, columns.parameters[k++]);
    if (d.kind == ParameterKind::real) {
      const RealParse parsed = parse_real_token(text);
      if (!parsed.valid || parsed.overflow) refuse("'" + shard + "' names a point out of range");
      set_parameter(point, d, parsed.value, text);
    } else {
      const IntegerParse parsed = parse_integer_token(text);
      if (!parsed.valid) refuse("'" + shard + "' names a point out of range");
      set_parameter(point, d, parsed.value, text);
    }
  }
  if (point.p.blocks < 1) refuse("'" + shard + "' names a point out of range");
  return point;
}

// Rows of the same point and report time.
bool same_key(const Row& a, const Row& b, const Columns& columns) {
  for (const int i : columns.parameters) {
    if (field(a, i) != field(b, i)) return false;
  }
  return field(a, columns.t) == field(b, columns.t);
}

bool read_unsigned(std::string_view text, uint128& v) {
  if (text.empty() || text.size() > 39) return false;
  v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const uint128 next = v * 10 + static_cast<unsigned>(c - '0');
    if (next / 10 != v) return false;
    v = next;
  }
  return true;
}

// Adds the next three rows of a shard (runs, sums and sums of squares of
// the report time `key` names) to `totals`.
void add_partial(Shard& shard, const Row& key, const Columns& columns, std::int32_t blocks,
                 simulation::RunTotals& totals) {
  const std::string_view sources[] = {kRunsSource, kSumSource, kSumOfSquaresSource};
  const Row* three[3] = {};
  for (std::size_t n = 0; n < 3; ++n) {
    if (shard.next >= shard.rows.size()) refuse("'" + shard.name + "' ends early");
    const Row& row = shard.rows[shard.next++];
    if (field(row, columns.source) != sources[n] || !same_key(row, key, columns)) {
      refuse("'" + shard.name + "' does not match the first shard at its row " +
             std::to_string(shard.next + 1));
    }
    three[n] = &row;
  }
  const auto fields = static_cast<std::size_t>(blocks) + 1;
  uint128 runs = 0;
  std::vector<std::uint64_t> sums(fields);
  std::vector<uint128> squares(fields);
  bool exact = read_unsigned(field(*three[0], columns.first_value), runs) && runs <= UINT64_MAX;
  for (std::size_t i = 0; exact && i < fields; ++i) {
    const int at = columns.first_value + static_cast<int>(i);
    uint128 r = 0, s = 0;
    exact = read_unsigned(field(*three[0], at), r) && r == runs &&
            read_unsigned(field(*three[1], at), s) && s <= UINT64_MAX &&
            read_unsigned(field(*three[2], at), squares[i]);
    sums[i] = static_cast<std::uint64_t>(s);
  }
  if (!exact) refuse("'" + shard.name + "' holds a sum that is not an exact count");
  totals.add_sums(static_cast<std::uint64_t>(runs), sums, squares);
}

void merge_simulation(std::vector<Shard>& shards, const Columns& columns, const CsvTable& table,
                      std::string& out) {
  Shard& first = shards[0];
  while (first.next < first.rows.size()) {
    const Row& row = first.rows[first.next];
    if (!is_partial(field(row, columns.source))) {
      // Model rows are the first shard's; a point that stopped has stopped
      // in every shard.
      ++first.next;
      out += row.text;
      out += '\n';
      if (field(row, columns.status) != "0") {
        for (std::size_t k = 1; k < shards.size(); ++k) {
          Shard& other = shards[k];
          if (other.next >= other.rows.size() || other.rows[other.next].text != row.text) {
            refuse("'" + other.name + "' does not hold the stopped point of the first");
          }
          ++other.next;
        }
      }
      continue;
    }
    const Point point = point_of(row, columns, first.name);
    const Row key = row;
    simulation::RunTotals totals(1, point.p.blocks);
    for (Shard& shard : shards) add_partial(shard, key, columns, point.p.blocks, totals);
    const IntegerParse t = parse_integer_token(field(key, columns.t));
    if (!t.valid) refuse("'" + first.name + "' holds a time that is not one");
    table.summary_rows(out, point, simulation::summarize(totals, point.p.lambda), 0, t.value);
  }
  for (const Shard& shard : shards) {
    if (shard.next != shard.rows.size()) {
      refuse("'" + shard.name + "' holds rows the first shard does not");
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
    refuse("merge: " + std::string(e.what()));
  }
  std::vector<Shard> shards;
  for (const std::string& name : names) shards.push_back(read_shard(name));
  bool partial = false;
  for (Shard& shard : shards) {
    if (shard.header != shards[0].header) {
      refuse("'" + shard.name + "' has another header than '" + shards[0].name + "'");
    }
  }
  const Columns columns(shards[0].columns);
  for (const Shard& shard : shards) {
    for (const Row& row : shard.rows) partial = partial || is_partial(field(row, columns.source));
  }
  const auto max_blocks =
      static_cast<std::int32_t>(shards[0].columns.size()) - columns.first_value - 1;
  const CsvTable table(max_blocks);
  std::string out = shards[0].header + "\n";
  if (partial) {
    merge_simulation(shards, columns, table, out);
  } else {
    for (const Shard& shard : shards) {
      for (const Row& row : shard.rows) {
        out += row.text;
        out += '\n';
      }
    }
  }
  runtime::OutputStream& stream = runtime::table_file();
  stream.open(STDOUT_FILENO, runtime::LineEnd::lf, false, kTableBufferSize);
  write_line(stream, out);
  close_stream(stream);
  return 0;
}

}  // namespace blocklevels
