#include "runs/point_records.hpp"

#include <cstring>
#include <stdexcept>
#include <type_traits>

namespace blocklevels::records {
namespace {

using simulation::uint128;

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
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
  }
}

template <class T>
void put_all(std::string& out, const std::vector<T>& values) {
  if constexpr (std::is_same_v<T, long double>) {
    for (const long double v : values) put(out, v);
  } else {
    out.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T));
  }
}

// Writes the header for a payload appended by `body`.
template <class Body>
void record(std::string& out, Kind kind, Body body) {
  const std::size_t at = out.size();
  put(out, Header{kind, 0});
  body();
  const auto size = static_cast<std::uint32_t>(out.size() - at - sizeof(Header));
  std::memcpy(out.data() + at + offsetof(Header, size), &size, sizeof size);
}

// Reads a payload front to back; every read is checked against its end.
class Payload {
 public:
  explicit Payload(std::string_view bytes) : bytes_(bytes) {}
  template <class T>
  T take() {
    T value;
    need(sizeof value);
    std::memcpy(&value, bytes_.data(), sizeof value);
    bytes_.remove_prefix(sizeof value);
    return value;
  }
  template <class T>
  std::vector<T> take_all(std::size_t count) {
    if (count > bytes_.size() / sizeof(T)) need(bytes_.size() + 1);
    std::vector<T> values(count);
    if (count > 0) std::memcpy(values.data(), bytes_.data(), count * sizeof(T));
    bytes_.remove_prefix(count * sizeof(T));
    return values;
  }
  std::size_t left() const { return bytes_.size(); }
  void finish() const {
    if (!bytes_.empty()) throw std::runtime_error("a record longer than its kind");
  }

 private:
  void need(std::size_t size) const {
    if (size > bytes_.size()) throw std::runtime_error("a record shorter than its kind");
  }
  std::string_view bytes_;
};

}  // namespace

simulation::RunTotals SimulationReport::totals() const {
  simulation::RunTotals one(1, static_cast<std::int32_t>(sums.size()));
  std::vector<std::uint64_t> all_sums{level_sum};
  all_sums.insert(all_sums.end(), sums.begin(), sums.end());
  std::vector<uint128> all_squares{level_sum_of_squares};
  all_squares.insert(all_squares.end(), sum_of_squares.begin(), sum_of_squares.end());
  one.add_sums(runs, all_sums, all_squares);
  return one;
}

void append(std::string& out, const ModelReport& r) {
  record(out, Kind::model_report, [&] {
    put(out, r.t);
    put_all(out, r.tail);
  });
}

void append(std::string& out, const SimulationReport& r) {
  record(out, Kind::simulation_report, [&] {
    put(out, r.t);
    put(out, r.runs);
    put(out, r.level_sum);
    put(out, r.level_sum_of_squares);
    put(out, static_cast<std::uint64_t>(r.sums.size()));
    put_all(out, r.sums);
    put_all(out, r.sum_of_squares);
  });
}

void append(std::string& out, const Progress& r) {
  record(out, Kind::progress, [&] {
    put(out, r.t);
    put(out, r.runs_done);
    put(out, r.runs_total);
  });
}

void append(std::string& out, const Failure& r) {
  record(out, Kind::failure, [&] {
    put(out, r.number);
    put(out, r.place);
  });
}

void append(std::string& out, const Hitting& r) {
  record(out, Kind::hitting, [&] {
    put(out, r.t);
    put_all(out, r.tail);
  });
}

void append(std::string& out, const Threshold& r) {
  record(out, Kind::threshold, [&] {
    put(out, r.value);
    put(out, static_cast<std::uint64_t>(r.text.size()));
    out += r.text;
    put_all(out, r.tail);
  });
}

void append(std::string& out, const ThresholdGrid& r) {
  record(out, Kind::threshold_grid, [&] {
    put(out, static_cast<std::uint64_t>(r.values.size()));
    put_all(out, r.values);
    put_all(out, r.quantity);
  });
}

void append(std::string& out, const SimulationHitting& r) {
  record(out, Kind::simulation_hitting, [&] {
    put(out, r.times.never);
    for (const auto& [t, runs] : r.times.first) {
      put(out, t);
      put(out, runs);
    }
  });
}

SimulationReport simulation_report(const simulation::RunTotals& totals, std::int64_t report,
                                   std::int64_t t) {
  SimulationReport r;
  r.t = t;
  r.runs = totals.runs();
  r.level_sum = totals.sum_level(report);
  r.level_sum_of_squares = totals.sum_level_squared(report);
  for (std::int32_t j = 1; j <= totals.blocks(); ++j) {
    r.sums.push_back(totals.sum_at_least(report, j));
    r.sum_of_squares.push_back(totals.sum_at_least_squared(report, j));
  }
  return r;
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
  Record record;
  switch (header.kind) {
    case Kind::model_report: {
      ModelReport r;
      r.t = payload.take<std::int64_t>();
      r.tail = payload.take_all<double>(payload.left() / sizeof(double));
      record = std::move(r);
      break;
    }
    case Kind::simulation_report: {
      SimulationReport r;
      r.t = payload.take<std::int64_t>();
      r.runs = payload.take<std::uint64_t>();
      r.level_sum = payload.take<std::uint64_t>();
      r.level_sum_of_squares = payload.take<uint128>();
      const auto blocks = static_cast<std::size_t>(payload.take<std::uint64_t>());
      r.sums = payload.take_all<std::uint64_t>(blocks);
      r.sum_of_squares = payload.take_all<uint128>(blocks);
      record = std::move(r);
      break;
    }
    case Kind::progress: {
      Progress r;
      r.t = payload.take<std::int64_t>();
      r.runs_done = payload.take<std::uint64_t>();
      r.runs_total = payload.take<std::uint64_t>();
      record = r;
      break;
    }
    case Kind::failure: {
      Failure r;
      r.number = payload.take<std::int32_t>();
      r.place = payload.take<std::uint32_t>();
      record = r;
      break;
    }
    case Kind::hitting: {
      Hitting r;
      r.t = payload.take<std::int64_t>();
      r.tail = payload.take_all<double>(payload.left() / sizeof(double));
      record = std::move(r);
      break;
    }
    case Kind::threshold: {
      Threshold r;
      r.value = payload.take<long double>();
      const auto length = static_cast<std::size_t>(payload.take<std::uint64_t>());
      const std::vector<char> text = payload.take_all<char>(length);
      r.text.assign(text.begin(), text.end());
      r.tail = payload.take_all<double>(payload.left() / sizeof(double));
      record = std::move(r);
      break;
    }
    case Kind::threshold_grid: {
      ThresholdGrid r;
      const auto n = static_cast<std::size_t>(payload.take<std::uint64_t>());
      r.values = payload.take_all<long double>(n);
      r.quantity = payload.take_all<double>(n);
      record = std::move(r);
      break;
    }
    case Kind::simulation_hitting: {
      SimulationHitting r;
      r.times.never = payload.take<std::uint64_t>();
      while (payload.left() > 0) {
        const auto t = payload.take<std::int64_t>();
        r.times.first[t] = payload.take<std::uint64_t>();
      }
      record = std::move(r);
      break;
    }
    default:
      throw std::runtime_error("a record of no known kind");
  }
  payload.finish();
  return record;
}

}  // namespace blocklevels::records
