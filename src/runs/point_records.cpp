#include "runs/point_records.hpp"

#include <cstring>
#include <type_traits>

#include "parameters/parameter_table.hpp"

namespace blocklevels::records {
namespace {

using simulation::uint128;

// The kinds, in the order of Record's alternatives, from 1.
enum class Kind : std::uint32_t {};

struct Header {
  Kind kind;
  std::uint32_t size;
};

template <class T>
void put(std::string& out, const T& value) {
  if constexpr (std::is_same_v<T, long double>) {
    // The 80 bits of the value, and zeros where its storage pads it.
    char bytes[sizeof value] = {};
    std::memcpy(bytes, &value, 10);
    out.append(bytes, sizeof bytes);
  } else {
    static_assert(std::is_trivially_copyable_v<T>);
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
  }
}

template <class T>
void put_all(std::string& out, const std::vector<T>& values) {
  put(out, static_cast<std::uint64_t>(values.size()));
  for (const T& v : values) put(out, v);
}

void put_text(std::string& out, std::string_view text) {
  put(out, static_cast<std::uint64_t>(text.size()));
  out += text;
}

// Reads a payload front to back; every read is checked against its end.
class Payload {
 public:
  explicit Payload(std::string_view bytes) : bytes_(bytes) {}
  template <class T>
  T take() {
    T value{};
    need(sizeof value);
    std::memcpy(&value, bytes_.data(), sizeof value);
    bytes_.remove_prefix(sizeof value);
    return value;
  }
  template <class T>
  std::vector<T> take_all() {
    const auto count = take<std::uint64_t>();
    if (count > bytes_.size() / sizeof(T)) need(bytes_.size() + 1);
    std::vector<T> values(static_cast<std::size_t>(count));
    for (T& v : values) v = take<T>();
    return values;
  }
  std::string take_text() {
    const auto length = take<std::uint64_t>();
    need(static_cast<std::size_t>(length));
    std::string text(bytes_.substr(0, static_cast<std::size_t>(length)));
    bytes_.remove_prefix(static_cast<std::size_t>(length));
    return text;
  }
  bool empty() const { return bytes_.empty(); }
  void finish() const {
    if (!bytes_.empty()) throw RecordError("a record longer than its kind");
  }

 private:
  void need(std::size_t size) const {
    if (size > bytes_.size()) throw RecordError("a record shorter than its kind");
  }
  std::string_view bytes_;
};

void put_body(std::string& out, const PointChange& r) {
  for (const ParameterDescription& d : parameter_table()) {
    if (d.kind == ParameterKind::real) {
      put(out, parameter_value(r.point.p, d));
      put_text(out, r.point.real_texts[d.text_slot]);
    } else {
      put(out, static_cast<std::int32_t>(parameter_value(r.point.p, d)));
    }
  }
}
void put_body(std::string& out, const ModelReport& r) {
  put(out, r.t);
  put_all(out, r.tail);
}
void put_body(std::string& out, const SimulationReport& r) {
  put(out, r.t);
  put(out, r.level);
  put_all(out, r.fractions);
}
void put_body(std::string& out, const ShardSums& r) {
  const simulation::RunTotals& totals = r.totals;
  put(out, r.t);
  put(out, totals.runs());
  std::vector<std::uint64_t> sums{totals.sum_level(0)};
  std::vector<uint128> squares{totals.sum_level_squared(0)};
  for (std::int32_t j = 1; j <= totals.blocks(); ++j) {
    sums.push_back(totals.sum_at_least(0, j));
    squares.push_back(totals.sum_at_least_squared(0, j));
  }
  put_all(out, sums);
  put_all(out, squares);
}
void put_body(std::string& out, const ModelHitting& r) {
  put(out, static_cast<std::int64_t>(r.t.value_or(-1)));
  put_all(out, r.tail);
}
void put_body(std::string& out, const HittingCounts& r) {
  put(out, r.times.never);
  for (const auto& [t, runs] : r.times.first) {
    put(out, t);
    put(out, runs);
  }
}
void put_body(std::string& out, const HittingRun& r) {
  put(out, r.run);
  put(out, static_cast<std::int64_t>(r.t.value_or(-1)));
}
void put_body(std::string& out, const HittingSummary& r) {
  const simulation::HittingSummary& s = r.summary;
  put(out, s.runs);
  put(out, s.reached);
  put(out, s.success_rate);
  put(out, s.success_low);
  put(out, s.success_high);
  for (const std::optional<std::int64_t>& q : {s.lower_quartile, s.median, s.upper_quartile}) {
    put(out, q.value_or(-1));
  }
  put(out, s.restricted_mean);
  put(out, s.evaluations.value_or(-1.0));
}
// A crossing's answer, the model's or the simulation's: whether one was
// found, its bracket or interval, its direction.
void put_crossing(std::string& out, bool found, long double lower, long double upper,
                  Direction direction) {
  put(out, static_cast<std::uint8_t>(found));
  put(out, lower);
  put(out, upper);
  put(out, static_cast<std::uint8_t>(direction));
}
void put_body(std::string& out, const Threshold& r) {
  put_crossing(out, r.found, r.lower, r.upper, r.direction);
  put(out, r.t);
  put_all(out, r.tail);
}
void put_body(std::string& out, const SimulatedThreshold& r) {
  put_crossing(out, r.found, r.lower, r.upper, r.direction);
}
void put_body(std::string& out, const ThresholdGrid& r) {
  put_all(out, r.values);
  put_all(out, r.quantity);
}
void put_body(std::string& out, const Stopped& r) {
  put(out, static_cast<std::int32_t>(r.status));
  put(out, static_cast<std::uint8_t>(r.by_signal));
  put(out, static_cast<std::uint8_t>(r.place.has_value()));
  put(out, r.place.value_or(0));
}
void put_body(std::string& out, const ModelChecked& r) {
  const ModelCheck& c = r.check;
  put(out, c.distance);
  put(out, c.t);
  put(out, c.level);
  put(out, c.model_value);
  put(out, c.simulated);
  put(out, static_cast<std::uint8_t>(c.equal_runs));
}
void put_body(std::string& out, const Progress& r) {
  put(out, r);
}

PointChange take_point(Payload& payload) {
  PointChange r;
  for (const ParameterDescription& d : parameter_table()) {
    if (d.kind == ParameterKind::real) {
      const auto value = payload.take<long double>();
      set_parameter(r.point, d, value, payload.take_text());
    } else {
      const auto value = payload.take<std::int32_t>();
      if (d.kind == ParameterKind::choice &&
          (value < 0 || static_cast<std::size_t>(value) >= d.choices.size())) {
        throw RecordError("a choice no parameter has");
      }
      set_parameter(r.point, d, value, "");
    }
  }
  return r;
}

HittingSummary take_hitting_summary(Payload& payload) {
  simulation::HittingSummary s;
  s.runs = payload.take<std::uint64_t>();
  s.reached = payload.take<std::uint64_t>();
  s.success_rate = payload.take<double>();
  s.success_low = payload.take<double>();
  s.success_high = payload.take<double>();
  for (std::optional<std::int64_t>* q : {&s.lower_quartile, &s.median, &s.upper_quartile}) {
    const auto t = payload.take<std::int64_t>();
    if (t >= 0) *q = t;
  }
  s.restricted_mean = payload.take<double>();
  const auto evaluations = payload.take<double>();
  if (evaluations >= 0) s.evaluations = evaluations;
  return HittingSummary{s};
}

ShardSums take_sums(Payload& payload) {
  ShardSums r;
  r.t = payload.take<std::int64_t>();
  const auto runs = payload.take<std::uint64_t>();
  const std::vector<std::uint64_t> sums = payload.take_all<std::uint64_t>();
  const std::vector<uint128> squares = payload.take_all<uint128>();
  if (sums.empty() || sums.size() != squares.size()) throw RecordError("sums of no levels");
  r.totals = simulation::RunTotals(1, static_cast<std::int32_t>(sums.size() - 1));
  r.totals.add_sums(runs, sums, squares);
  return r;
}

// put_crossing's fields, into a Threshold or a SimulatedThreshold.
template <typename Answer>
Answer take_crossing(Payload& payload) {
  Answer r;
  r.found = payload.take<std::uint8_t>() != 0;
  r.lower = payload.take<long double>();
  r.upper = payload.take<long double>();
  const auto direction = payload.take<std::uint8_t>();
  if (direction > 1) throw RecordError("a crossing of no direction");
  r.direction = static_cast<Direction>(direction);
  return r;
}

Threshold take_threshold(Payload& payload) {
  Threshold r = take_crossing<Threshold>(payload);
  r.t = payload.take<std::int64_t>();
  r.tail = payload.take_all<double>();
  return r;
}

// The record of the kind with index `index` in Record.
Record take_body(std::size_t index, Payload& payload) {
  switch (index) {
    case 0:
      return take_point(payload);
    case 1: {
      const auto t = payload.take<std::int64_t>();
      return ModelReport{t, payload.take_all<double>()};
    }
    case 2: {
      SimulationReport r;
      r.t = payload.take<std::int64_t>();
      r.level = payload.take<simulation::Estimate>();
      r.fractions = payload.take_all<simulation::Estimate>();
      return r;
    }
    case 3:
      return take_sums(payload);
    case 4: {
      const auto t = payload.take<std::int64_t>();
      ModelHitting r{t < 0 ? std::nullopt : std::optional(t), payload.take_all<double>()};
      return r;
    }
    case 5: {
      HittingCounts r;
      r.times.never = payload.take<std::uint64_t>();
      while (!payload.empty()) {
        const auto t = payload.take<std::int64_t>();
        r.times.first[t] = payload.take<std::uint64_t>();
      }
      return r;
    }
    case 6:
      return take_hitting_summary(payload);
    case 7:
      return take_threshold(payload);
    case 8: {
      ThresholdGrid r;
      r.values = payload.take_all<long double>();
      r.quantity = payload.take_all<double>();
      return r;
    }
    case 9: {
      Stopped r;
      r.status = payload.take<std::int32_t>();
      r.by_signal = payload.take<std::uint8_t>() != 0;
      const bool placed = payload.take<std::uint8_t>() != 0;
      const auto place = payload.take<std::uint32_t>();
      if (placed) r.place = place;
      return r;
    }
    case 10: {
      ModelCheck c;
      c.distance = payload.take<double>();
      c.t = payload.take<std::int64_t>();
      c.level = payload.take<std::int32_t>();
      c.model_value = payload.take<double>();
      c.simulated = payload.take<simulation::Estimate>();
      c.equal_runs = payload.take<std::uint8_t>() != 0;
      return ModelChecked{c};
    }
    case 11:
      return payload.take<Progress>();
    case 12:
      return take_crossing<SimulatedThreshold>(payload);
    case 13: {
      HittingRun r;
      r.run = payload.take<std::uint64_t>();
      const auto t = payload.take<std::int64_t>();
      if (t >= 0) r.t = t;
      return r;
    }
    default:
      throw RecordError("a record of no known kind");
  }
}

}  // namespace

void append(std::string& out, const Record& record) {
  const std::size_t at = out.size();
  put(out, Header{static_cast<Kind>(record.index() + 1), 0});
  std::visit([&out](const auto& r) { put_body(out, r); }, record);
  const auto size = static_cast<std::uint32_t>(out.size() - at - sizeof(Header));
  std::memcpy(out.data() + at + offsetof(Header, size), &size, sizeof size);
}

std::optional<Record> Reader::next() {
  // Drop what has been handed out once it is most of the buffer; views into
  // the buffer are made only after this.
  if (consumed_ > 4096 && consumed_ * 2 > pending_.size()) {
    pending_.erase(0, consumed_);
    consumed_ = 0;
  }
  const std::string_view rest = std::string_view(pending_).substr(consumed_);
  if (rest.size() < sizeof(Header)) return std::nullopt;
  Header header;
  std::memcpy(&header, rest.data(), sizeof header);
  if (rest.size() - sizeof header < header.size) return std::nullopt;
  Payload payload(rest.substr(sizeof header, header.size));
  consumed_ += sizeof header + header.size;
  const auto kind = static_cast<std::size_t>(header.kind);
  if (kind == 0 || kind > std::variant_size_v<Record>)
    throw RecordError("a record of no known kind");
  Record record = take_body(kind - 1, payload);
  payload.finish();
  return record;
}

}  // namespace blocklevels::records
