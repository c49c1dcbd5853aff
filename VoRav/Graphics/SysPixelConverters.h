// Pixel converters: one row of pixels from one format into another.
//
// GetPixelConverter(destination, source) answers the converter of a format
// pair: a hand-written one for the common pairs, otherwise a generic one built
// from the two formats' component lists on first use and kept for the run.
// Converters hold no per-call state; any thread may use them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/SysObj2.h"

namespace kav {

class TPixelConverter : public TRefObject {
 public:
  // Converts `count` pixels from `src` to `dst`. The buffers hold at least
  // count x bytes-per-pixel bytes of their formats and do not overlap.
  virtual void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const = 0;

  // Row entry points: the destination advanced by x pixels of 1, 2, 3 or 4
  // bytes, the source by a byte offset.
  void ConvertTo8(uint8_t* dst_row, int32_t x, const uint8_t* src_row, int32_t src_offset, int32_t count) const {
    Convert(dst_row + x, src_row + src_offset, count);
  }
  void ConvertTo16(uint8_t* dst_row, int32_t x, const uint8_t* src_row, int32_t src_offset, int32_t count) const {
    Convert(dst_row + int64_t(x) * 2, src_row + src_offset, count);
  }
  void ConvertTo24(uint8_t* dst_row, int32_t x, const uint8_t* src_row, int32_t src_offset, int32_t count) const {
    Convert(dst_row + int64_t(x) * 3, src_row + src_offset, count);
  }
  void ConvertTo32(uint8_t* dst_row, int32_t x, const uint8_t* src_row, int32_t src_offset, int32_t count) const {
    Convert(dst_row + int64_t(x) * 4, src_row + src_offset, count);
  }
};

// The base of the concrete converters.
class TConvertOperator : public TPixelConverter {};

// Same format: copies the bytes.
class TDirectConvertor : public TConvertOperator {
 public:
  explicit TDirectConvertor(int32_t bytes_per_pixel) : bpp_(bytes_per_pixel) {}
  void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const override;

 private:
  int32_t bpp_;
};

// Formats whose components are all 8 bits: each destination byte comes from
// the source byte of the same channel or is the channel's default.
class TByteConvertor : public TConvertOperator {
 public:
  TByteConvertor(const TPixelFormat* source, const TPixelFormat* dest);
  void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const override;

 private:
  struct TCopy { uint8_t From, To; };
  struct TFill { uint8_t To, Value; };
  std::vector<TCopy> copies_;
  std::vector<TFill> fills_;
  int32_t src_step_, dst_step_;
};

// Any other pair: unpacks each source pixel into channels, rescales each
// channel to the destination width, packs the destination pixel.
class TBitConvertor : public TConvertOperator {
 public:
  TBitConvertor(const TPixelFormat* source, const TPixelFormat* dest);
  void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const override;

 private:
  struct TChannelMap {
    int32_t src_bits = 0;        // 0: the source lacks the channel
    int32_t dst_bits = 0;
    uint64_t fixed = 0;          // value written when src_bits is 0
    std::vector<uint32_t> table; // 2^src_bits entries when src_bits <= 12
  };
  uint64_t Scale(const TChannelMap& m, uint64_t v) const;
  TChannelMap channels_[5];
  std::vector<TPixelComponent> src_comps_, dst_comps_;
  int32_t src_bpp_, dst_bpp_;
};

// Channel width change: 0 stays 0; a narrower width drops low bits; a wider
// one shifts up and fills the freed low bits with ones.
uint64_t ScaleChannel(uint64_t v, int32_t src_bits, int32_t dst_bits);
// The value written for a channel the source lacks: 0 for colour and padding,
// all ones for alpha or luminance, at the destination width.
uint64_t ChannelDefault(uint8_t channel, int32_t dst_bits);

// "<destination name>-><source name>".
std::string PixelConverterKey(const TPixelFormat* dest, const TPixelFormat* source);
// Stores a converter for the pair, replacing one already there.
void RegisterPixelConverter(TPixelFormat* dest, TPixelFormat* source, Ref<TPixelConverter> converter);
// The pair's converter; made and kept on first use. Never null.
TPixelConverter* GetPixelConverter(TPixelFormat* dest, TPixelFormat* source);

}  // namespace kav
