#include "VoRav/Graphics/SysPixelConvertersStd.h"

#include <algorithm>
#include <cstring>

#include "VoRav/Graphics/SysPixelKernels.h"

namespace kav {

void TAYtoRGBConvertor::Convert(uint8_t* dst, const uint8_t* src, int32_t count) const {
  for (int32_t i = 0; i < count; ++i, dst += 3) dst[0] = dst[1] = dst[2] = src[i];
}

TAYtoBitsConvertor::TAYtoBitsConvertor(const TPixelFormat* dest) : dst_bpp_(std::min(dest->BytesPerPixel(), 8)) {
  for (uint32_t g = 0; g < 256; ++g) {
    uint64_t v = 0;
    uint32_t pos = 0;
    for (const TPixelComponent& c : dest->Components()) {
      uint64_t part = 0;
      if (c.Channel >= pcRed && c.Channel <= pcBlue) part = ScaleChannel(g, 8, c.Bits);
      else if (c.Channel == pcAlpha) part = ChannelDefault(pcAlpha, c.Bits);
      if (pos < 64) v |= part << pos;
      pos += c.Bits;
    }
    values_[g] = v;
  }
}

void TAYtoBitsConvertor::Convert(uint8_t* dst, const uint8_t* src, int32_t count) const {
  for (int32_t i = 0; i < count; ++i, dst += dst_bpp_) {
    const uint64_t v = values_[src[i]];
    for (int32_t b = 0; b < dst_bpp_; ++b) dst[b] = uint8_t(v >> (8 * b));
  }
}

void TRGBToRGBA::Convert(uint8_t* dst, const uint8_t* src, int32_t count) const {
  if (count > 0) PixelKernels().ExpandRGB(dst, src, size_t(count));
}

void TRGBAToRGB::Convert(uint8_t* dst, const uint8_t* src, int32_t count) const {
  for (int32_t i = 0; i < count; ++i, dst += 3, src += 4) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
  }
}

void TR5G6B5ToBGR8::Convert(uint8_t* dst, const uint8_t* src, int32_t count) const {
  for (int32_t i = 0; i < count; ++i, dst += 3, src += 2) {
    const uint32_t v = uint32_t(src[0]) | (uint32_t(src[1]) << 8);
    dst[0] = uint8_t((v & 31) * 8);
    dst[1] = uint8_t(((v >> 5) & 63) * 4);
    dst[2] = uint8_t((v >> 8) & 0xF8);
  }
}

void TX1R5G5B5ToBGR8::Convert(uint8_t* dst, const uint8_t* src, int32_t count) const {
  for (int32_t i = 0; i < count; ++i, dst += 3, src += 2) {
    const uint32_t v = uint32_t(src[0]) | (uint32_t(src[1]) << 8);
    dst[0] = uint8_t((v & 31) * 8);
    dst[1] = uint8_t(((v >> 5) & 31) * 8);
    dst[2] = uint8_t(((v >> 10) & 31) * 8);
  }
}

void TBGRAToPremulBGRA::Convert(uint8_t* dst, const uint8_t* src, int32_t count) const {
  if (count > 0) PixelKernels().PremultiplyShift(dst, src, size_t(count));
}

void TPremulBGRAToBGRA::Convert(uint8_t* dst, const uint8_t* src, int32_t count) const {
  if (count > 0) PixelKernels().Unpremultiply(dst, src, size_t(count), 0);
}

namespace {

// A premultiplied source: un-premultiply into a buffer, then convert from
// the source's straight twin.
class TUnpremultiplyThen : public TConvertOperator {
 public:
  explicit TUnpremultiplyThen(TPixelConverter* inner) : inner_(inner) {}
  void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const override {
    constexpr int32_t kChunk = 256;
    uint8_t tmp[kChunk * 4];
    const int32_t dbpp = dst_bpp_;
    for (int32_t i = 0; i < count; i += kChunk) {
      const int32_t n = std::min(kChunk, count - i);
      PixelKernels().Unpremultiply(tmp, src + int64_t(i) * 4, size_t(n), 0);
      inner_->Convert(dst + int64_t(i) * dbpp, tmp, n);
    }
  }
  int32_t dst_bpp_ = 4;

 private:
  Ref<TPixelConverter> inner_;
};

// A premultiplied destination: convert into the destination's straight twin,
// then premultiply in place.
class TThenPremultiply : public TConvertOperator {
 public:
  explicit TThenPremultiply(TPixelConverter* inner) : inner_(inner) {}
  void Convert(uint8_t* dst, const uint8_t* src, int32_t count) const override {
    inner_->Convert(dst, src, count);
    if (count > 0) PixelKernels().PremultiplyShift(dst, dst, size_t(count));
  }

 private:
  Ref<TPixelConverter> inner_;
};

// Premultiplied formats this module can undo: 4 bytes, alpha in byte 3.
bool IsPremul4(const TPixelFormat* f) {
  if (!f->IsPremultiplied() || f->BytesPerPixel() != 4 || !f->IsByteAligned()) return false;
  return f->Components().size() == 4 && f->Components()[3].Channel == pcAlpha;
}

TPixelFormat* StraightTwin(const TPixelFormat* f) {
  std::string name = f->Name();
  for (char& c : name)
    if (c == 'r' || c == 'g' || c == 'b') c = char(c - 'a' + 'A');
  return PixelFormatByName(name);
}

}  // namespace

Ref<TPixelConverter> MakeGenericPixelConverter(TPixelFormat* dest, TPixelFormat* source) {
  if (dest == source) return MakeRef<TDirectConvertor>(dest->BytesPerPixel());
  const bool sp = IsPremul4(source);
  const bool dp = IsPremul4(dest);
  if (sp && !dp) {
    auto c = MakeRef<TUnpremultiplyThen>(GetPixelConverter(dest, StraightTwin(source)));
    c->dst_bpp_ = dest->BytesPerPixel();
    return c;
  }
  if (dp && !sp && dest->HasAlpha()) return MakeRef<TThenPremultiply>(GetPixelConverter(StraightTwin(dest), source));
  if (!source->IsBitField() && !dest->IsBitField() && source->IsByteAligned() && dest->IsByteAligned())
    return MakeRef<TByteConvertor>(source, dest);
  return MakeRef<TBitConvertor>(source, dest);
}

void RegisterStdPixelConverters(const TConverterSink& sink) {
  const TStdPixelFormats& f = StdFormats();
  auto ay_rgb = MakeRef<TAYtoRGBConvertor>();
  for (TPixelFormat* d : {f.B8G8R8, f.R8G8B8})
    for (TPixelFormat* s : {f.A8, f.Y8}) sink(d, s, ay_rgb);
  // Grey and alpha into the 16-bit formats write two bytes per pixel in the
  // destination's own layout.
  for (TPixelFormat* d : {f.B5G6R5, f.B5G5R5X1, f.R5G6B5, f.X1R5G5B5}) {
    auto c = MakeRef<TAYtoBitsConvertor>(d);
    for (TPixelFormat* s : {f.A8, f.Y8}) sink(d, s, c);
  }
  auto rgb_rgba = MakeRef<TRGBToRGBA>();
  sink(f.A8B8G8R8, f.B8G8R8, rgb_rgba);
  sink(f.A8R8G8B8, f.R8G8B8, rgb_rgba);
  sink(f.A8r8g8b8, f.R8G8B8, rgb_rgba);
  sink(f.A8b8g8r8, f.B8G8R8, rgb_rgba);
  auto rgba_rgb = MakeRef<TRGBAToRGB>();
  sink(f.B8G8R8, f.A8B8G8R8, rgba_rgb);
  sink(f.R8G8B8, f.A8R8G8B8, rgba_rgb);
  sink(f.R8G8B8, f.R5G6B5, MakeRef<TR5G6B5ToBGR8>());
  sink(f.R8G8B8, f.X1R5G5B5, MakeRef<TX1R5G5B5ToBGR8>());
  auto premul = MakeRef<TBGRAToPremulBGRA>();
  sink(f.A8r8g8b8, f.A8R8G8B8, premul);
  sink(f.A8b8g8r8, f.A8B8G8R8, premul);
  auto unpremul = MakeRef<TPremulBGRAToBGRA>();
  sink(f.A8R8G8B8, f.A8r8g8b8, unpremul);
  sink(f.A8B8G8R8, f.A8b8g8r8, unpremul);
}

}  // namespace kav
