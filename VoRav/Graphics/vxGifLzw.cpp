#include "VoRav/Graphics/vxGifLzw.h"

#include <algorithm>
#include <array>
#include <memory>

#include "VoRav/vxLog.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

constexpr int kMaxCodes = 4096;
constexpr int kMaxCodeBits = 12;

// Delivers the bits of the data sub-blocks, least significant bit first.
class TSubBlockBits {
 public:
  explicit TSubBlockBits(TStream* stream) : stream_(stream) {}

  // Reads a code of `width` bits; false when the data ran out first.
  bool ReadCode(int width, int& code) {
    while (bit_count_ < width) {
      uint8_t b;
      if (!NextByte(b)) return false;
      bits_ |= uint32_t(b) << bit_count_;
      bit_count_ += 8;
    }
    code = int(bits_ & ((1u << width) - 1));
    bits_ >>= width;
    bit_count_ -= width;
    return true;
  }

  // Moves the stream past the block terminator unless it was reached.
  void Finish() {
    if (!terminated_ && !SkipGifSubBlocks(stream_)) stream_ended_ = true;
    terminated_ = true;
  }

  bool StreamEnded() const noexcept { return stream_ended_; }
  bool HasPartialCode() const noexcept { return bit_count_ > 0; }

 private:
  bool NextByte(uint8_t& b) {
    while (pos_ == len_) {
      if (terminated_) return false;
      uint8_t n = 0;
      if (stream_->Read(std::span<uint8_t>(&n, 1), 1) != 1) {
        stream_ended_ = terminated_ = true;
        return false;
      }
      if (n == 0) {
        terminated_ = true;
        return false;
      }
      len_ = int(stream_->Read(block_, n));
      pos_ = 0;
      if (len_ < n) stream_ended_ = terminated_ = true;
    }
    b = block_[size_t(pos_++)];
    return true;
  }

  TStream* stream_;
  std::array<uint8_t, 255> block_{};
  int len_ = 0;
  int pos_ = 0;
  uint32_t bits_ = 0;
  int bit_count_ = 0;
  bool terminated_ = false;
  bool stream_ended_ = false;
};

// The string table: each code is a prefix code plus one index; the length
// and the first index of every string are kept so that output can be written
// straight into place.
struct TLzwTable {
  std::array<uint16_t, kMaxCodes> prefix{};
  std::array<uint8_t, kMaxCodes> suffix{};
  std::array<uint8_t, kMaxCodes> first{};
  std::array<uint16_t, kMaxCodes> length{};
};

}  // namespace

bool SkipGifSubBlocks(TStream* stream) {
  std::array<uint8_t, 255> block;
  for (;;) {
    uint8_t n = 0;
    if (stream->Read(std::span<uint8_t>(&n, 1), 1) != 1) return false;
    if (n == 0) return true;
    if (stream->Read(block, n) != n) return false;
  }
}

int64_t DecodeGifLzw(TStream* stream, std::span<uint8_t> out) {
  const int min_size = stream->ReadByte();
  if (min_size >= kMaxCodeBits) KAV_ASSERT_FAIL("ClearCode too large");
  if (min_size > 8) KAV_ASSERT_FAIL("StartIndex too large");

  TSubBlockBits bits(stream);
  const int64_t n = int64_t(out.size());
  int64_t pos = 0;
  const char* warning = nullptr;
  if (min_size == 0) {
    warning = "GIFWarning: DecodeTooFewBits! ";
  } else {
    auto table = std::make_unique<TLzwTable>();
    const int clear = 1 << min_size;
    const int end = clear + 1;
    for (int i = 0; i < clear; ++i) {
      table->suffix[size_t(i)] = table->first[size_t(i)] = uint8_t(i);
      table->length[size_t(i)] = 1;
    }
    int width = min_size + 1;
    int avail = clear + 2;
    int prev = -1;

    auto add = [&](int p, uint8_t ch) {
      table->prefix[size_t(avail)] = uint16_t(p);
      table->suffix[size_t(avail)] = ch;
      table->first[size_t(avail)] = table->first[size_t(p)];
      table->length[size_t(avail)] = uint16_t(table->length[size_t(p)] + 1);
      ++avail;
    };
    // Writes the string of `code`, cut at the end of the output.
    auto emit = [&](int code) {
      const int64_t len = table->length[size_t(code)];
      int c = code;
      for (int64_t i = len - 1; i >= 0; --i) {
        if (pos + i < n) out[size_t(pos + i)] = table->suffix[size_t(c)];
        c = table->prefix[size_t(c)];
      }
      pos = std::min(pos + len, n);
    };

    while (pos < n) {
      int code;
      if (!bits.ReadCode(width, code)) {
        if (bits.HasPartialCode()) warning = "GIFWarning: DecodeTooFewBits! ";
        break;
      }
      if (code == clear) {
        width = min_size + 1;
        avail = clear + 2;
        prev = -1;
        continue;
      }
      if (code == end) break;
      if (prev < 0) {
        if (code > clear) {
          warning = "GIF Warning: DecodeCircular! ";
          break;
        }
        emit(code);
      } else if (code < avail) {
        if (avail < kMaxCodes) add(prev, table->first[size_t(code)]);
        emit(code);
      } else if (code == avail && avail < kMaxCodes) {
        add(prev, table->first[size_t(prev)]);
        emit(code);
      } else {
        warning = "GIF Warning: DecodeCircular! ";
        break;
      }
      prev = code;
      if (avail == (1 << width) && width < kMaxCodeBits) ++width;
    }
  }
  bits.Finish();
  if (warning) LogLine(std::u16string(warning, warning + std::char_traits<char>::length(warning)));
  if (bits.StreamEnded()) LogLine(u"GIFWarning: OutOfData! ");
  return pos;
}

}  // namespace kav
