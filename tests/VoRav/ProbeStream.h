// A test stream over a byte vector, shared by the stream tests.
#pragma once

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "VoRav/vxStream.h"

namespace kav::test {

// A stream over a byte vector that records every transfer, can hide its
// size, can stop taking bytes after a limit, and can hand out reads in
// small pieces.
class TProbeStream : public TStream {
 public:
  explicit TProbeStream(std::vector<uint8_t> bytes = {}) : bytes_(std::move(bytes)) {}
  int64_t GetPosition() override { return pos_; }
  int64_t SetPosition(int64_t p) override { return pos_ = std::clamp<int64_t>(p, 0, ssize()); }
  int64_t GetSize() override { return size_known ? ssize() + extra_size : -1; }
  void SetSize(int64_t s) override {
    bytes_.resize(static_cast<size_t>(s));
    pos_ = std::min(pos_, s);
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

  bool size_known = true;
  int64_t extra_size = 0;  // announced on top of the real bytes
  int64_t write_limit = std::numeric_limits<int64_t>::max();  // bytes accepted in total
  int64_t read_piece = std::numeric_limits<int64_t>::max();   // most bytes per read
  std::vector<int64_t> writes, reads;

 protected:
  int64_t DoRead(std::span<uint8_t> b) override {
    reads.push_back(static_cast<int64_t>(b.size()));
    const int64_t n = std::min({static_cast<int64_t>(b.size()), ssize() - pos_, read_piece});
    if (n > 0) std::memcpy(b.data(), bytes_.data() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
  }
  int64_t DoWrite(std::span<const uint8_t> b) override {
    writes.push_back(static_cast<int64_t>(b.size()));
    const int64_t n = std::min(static_cast<int64_t>(b.size()), write_limit);
    write_limit -= n;
    if (pos_ + n > ssize()) bytes_.resize(static_cast<size_t>(pos_ + n));
    std::memcpy(bytes_.data() + pos_, b.data(), static_cast<size_t>(n));
    pos_ += n;
    return n;
  }

 private:
  int64_t ssize() const { return static_cast<int64_t>(bytes_.size()); }
  std::vector<uint8_t> bytes_;
  int64_t pos_ = 0;
};

inline std::vector<uint8_t> Sequence(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return v;
}

}  // namespace kav::test
