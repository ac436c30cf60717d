// What a shard's last row says of the rows before it: a 64-bit FNV-1a hash
// of their bytes (every row from the shard row on, each with its LF),
// begun from the study's fingerprint. merge computes it again from the
// bytes it reads, so that a row edited by hand, however consistently its
// numbers agree, is refused. It guards against edits and damage, not
// against someone who computes the hash again: the only proof of a
// simulation's sums is running it again.
#pragma once

#include <cstdint>
#include <string_view>

namespace blocklevels {

class RowFingerprint {
 public:
  explicit RowFingerprint(std::uint64_t study) : h_(study) {}
  void add(std::string_view bytes) {
    for (const char c : bytes) {
      h_ ^= static_cast<unsigned char>(c);
      h_ *= 0x100000001b3u;  // the FNV prime
    }
  }
  std::uint64_t value() const { return h_; }

 private:
  std::uint64_t h_;
};

}  // namespace blocklevels
