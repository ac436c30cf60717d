// A new output format is one sink: here a JSON-lines writer of the table's
// rows, written against the layout alone (the names and kinds of the
// columns), with nothing of the CSV. Its lines hold the same cells as the
// CSV's rows.
#include <gtest/gtest.h>

#include <charconv>
#include <string>

#include "output/csv_table.hpp"
#include "support/test_points.hpp"
#include "text/double_text.hpp"

namespace blocklevels {
namespace {

// {"source":"model","lambda":20,...}: each row's given cells by name.
class JsonLines final : public RowWriter {
 public:
  JsonLines(const TableLayout& layout, std::string& out) : layout_(layout), out_(out) {}
  void begin_row() override { out_ += '{'; }
  void integer(std::size_t c, std::int64_t v) override { key(c) += std::to_string(v); }
  void count(std::size_t c, simulation::uint128 v) override {
    key(c) += std::to_string(static_cast<std::uint64_t>(v));
  }
  void real(std::size_t c, double v) override {
    if (v != v) return;  // NaN: no value
    append_shortest(key(c), v);
  }
  void text(std::size_t c, std::string_view v) override { (key(c) += '"').append(v) += '"'; }
  void end_row() override { out_ += "}\n"; }

 private:
  std::string& key(std::size_t column) {
    if (out_.back() != '{') out_ += ',';
    return out_ += '"' + layout_.columns()[column].name + "\":";
  }
  const TableLayout& layout_;
  std::string& out_;
};

TEST(ResultSinks, AJsonLinesWriterIsOneSinkOfTheSameRows) {
  const TableLayout layout(2);
  Point point{.p = point_parameters(20, 5, 0.1L, 3, 0, 2, 6, 2), .real_texts = {"0.1"}};
  std::string json;
  JsonLines lines(layout, json);
  layout.write({point, ModelReport{4, {0.5, 0.25}}}, {}, lines);
  layout.write({point, Stopped{205, false, std::nullopt}}, {}, lines);
  const std::string parameters =
      R"("lambda":20,"mu":5,"pmut":"0.1","block_length":3,"two_option":0,"blocks":2,)"
      R"("final":6,"step":2,"model":"level","arithmetic":"literal",)";
  EXPECT_EQ(json, "{\"source\":\"model\"," + parameters +
                      R"("t":4,"mean_level":0.75,"X1":0.5,"X2":0.25,"format":"3.0.0"})"
                      "\n" +
                      "{\"source\":\"stopped\"," + parameters +
                      R"("status":205,"format":"3.0.0"})"
                      "\n");
}

}  // namespace
}  // namespace blocklevels
