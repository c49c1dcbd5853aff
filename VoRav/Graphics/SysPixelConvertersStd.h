// The hand-written pixel converters and the generic converter builder.
#pragma once

#include <functional>

#include "VoRav/Graphics/SysPixelConverters.h"

namespace kav {

// One grey or alpha byte written three times (blue, green, red).
class TAYtoRGBConvertor : public TConvertOperator {
 public:
  void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const override;
};

// One grey or alpha byte into a bit-field pixel of the destination format
// (each colour channel gets the grey at its width; 2 bytes for 5-6-5).
class TAYtoBitsConvertor : public TConvertOperator {
 public:
  explicit TAYtoBitsConvertor(const TPixelFormat* dest);
  void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const override;

 private:
  uint64_t values_[256];
  int32_t dst_bpp_;
};

// Three bytes, then alpha 255.
class TRGBToRGBA : public TConvertOperator {
 public:
  void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const override;
};

// The first three of four bytes.
class TRGBAToRGB : public TConvertOperator {
 public:
  void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const override;
};

// 16-bit v (blue bits 0-4, green 5-10, red 11-15) to blue, green, red bytes.
class TR5G6B5ToBGR8 : public TConvertOperator {
 public:
  void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const override;
};

// 16-bit v (blue bits 0-4, green 5-9, red 10-14) to blue, green, red bytes.
class TX1R5G5B5ToBGR8 : public TConvertOperator {
 public:
  void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const override;
};

// Straight to premultiplied: alpha 0 gives 0, alpha 255 is unchanged, else
// each colour byte c * a >> 8.
class TBGRAToPremulBGRA : public TConvertOperator {
 public:
  void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const override;
};

// Premultiplied to straight: alpha 0 gives 0, else c * (65280 / a) >> 8,
// at most 255.
class TPremulBGRAToBGRA : public TConvertOperator {
 public:
  void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const override;
};

using TConverterSink = std::function<void(TPixelFormat* dest, TPixelFormat* source, Ref<TPixelConverter>)>;
// Hands every start-up converter pair to `sink`.
void RegisterStdPixelConverters(const TConverterSink& sink);

// The converter for a pair without a registered one: a byte copy for one
// format, a bit converter when either has bit fields, a byte converter
// otherwise; a pair that crosses between premultiplied and straight alpha
// also un-premultiplies or premultiplies.
Ref<TPixelConverter> MakeGenericPixelConverter(TPixelFormat* dest, TPixelFormat* source);

}  // namespace kav
