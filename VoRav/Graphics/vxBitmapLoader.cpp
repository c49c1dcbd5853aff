#include "VoRav/Graphics/vxBitmapLoader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "VoRav/Graphics/vxRleDecode.h"
#include "VoRav/vxMemoryStream.h"

namespace kav {

namespace {

constexpr uint32_t kMaskR555 = 0x7C00, kMaskG555 = 0x03E0, kMaskR565 = 0xF800, kMaskG565 = 0x07E0, kMaskB5 = 0x1F;

struct TBmpInfo {
  int64_t start = 0;
  int64_t available = -1;  // bytes from start to the stream's end; -1 unknown
  uint32_t file_size = 0;
  uint32_t data_offset = 0;
  uint32_t header_size = 0;
  int32_t width = 0;
  int32_t height = 0;
  uint16_t planes = 0;
  uint16_t bit_count = 0;
  uint32_t compression = 0;
  uint32_t colors_used = 0;
  bool core = false;                 // OS/2 12-byte header, 3-byte palette entries
  std::array<uint32_t, 4> masks{};  // red, green, blue, alpha
  int32_t Rows() const { return height < 0 ? -height : height; }
};

uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

bool ReadAt(TStream* s, int64_t pos, uint8_t* dst, size_t n) {
  if (s->SetPosition(pos) != pos) return false;
  return s->Read(std::span<uint8_t>(dst, n), int64_t(n)) == int64_t(n);
}

// Whether `count` bytes from `offset` (relative to the start) lie in the stream.
bool Present(const TBmpInfo& bi, int64_t offset, int64_t count) {
  return offset >= 0 && count >= 0 && (bi.available < 0 || offset + count <= bi.available);
}

bool ReadBmpFileHeader(TStream* s, TBmpInfo& bi) {
  uint8_t h[14];
  if (!Present(bi, 0, 14) || !ReadAt(s, bi.start, h, 14) || h[0] != 'B' || h[1] != 'M') return false;
  bi.file_size = Le32(h + 2);
  bi.data_offset = Le32(h + 10);
  return bi.available < 0 || bi.file_size <= bi.available;
}

bool ReadBmpInfoHeader(TStream* s, TBmpInfo& bi) {
  uint8_t h[56] = {};
  if (!Present(bi, 14, 12) || !ReadAt(s, bi.start + 14, h, 12)) return false;
  bi.header_size = Le32(h);
  if (bi.header_size == 12) {
    bi.core = true;
    bi.width = Le16(h + 4);
    bi.height = Le16(h + 6);
    bi.planes = Le16(h + 8);
    bi.bit_count = Le16(h + 10);
  } else {
    if (bi.header_size < 40 || !Present(bi, 14, bi.header_size)) return false;
    const size_t n = std::min<size_t>(bi.header_size, sizeof h);
    if (!ReadAt(s, bi.start + 14, h, n)) return false;
    bi.width = int32_t(Le32(h + 4));
    bi.height = int32_t(Le32(h + 8));
    bi.planes = Le16(h + 12);
    bi.bit_count = Le16(h + 14);
    bi.compression = Le32(h + 16);
    bi.colors_used = Le32(h + 32);
    // V2 and later headers carry the bit-field masks themselves.
    if (bi.header_size >= 52) for (int i = 0; i < 3; ++i) bi.masks[size_t(i)] = Le32(h + 40 + 4 * i);
    if (bi.header_size >= 56) bi.masks[3] = Le32(h + 52);
  }
  if (bi.bit_count == 0 && bi.compression != 4 && bi.compression != 5) return false;
  return bi.width >= 1 && bi.height != 0 && bi.height != INT32_MIN && bi.planes == 1 && bi.compression < 6;
}

// Palette entries as blue, green, red bytes; entries beyond those read are 0.
bool ReadBmpPalette(TStream* s, const TBmpInfo& bi, std::array<uint32_t, 256>& palette) {
  palette.fill(0);
  const uint32_t full = uint32_t(1) << bi.bit_count;
  uint32_t count = bi.colors_used != 0 && bi.colors_used <= full ? bi.colors_used : full;
  const int64_t at = 14 + int64_t(bi.header_size);
  const int64_t entry = bi.core ? 3 : 4;
  if (bi.core && bi.data_offset > at) count = uint32_t(std::min<int64_t>(count, (bi.data_offset - at) / entry));
  std::vector<uint8_t> bytes(size_t(count * entry));
  if (!Present(bi, at, int64_t(bytes.size())) || !ReadAt(s, bi.start + at, bytes.data(), bytes.size())) return false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* p = bytes.data() + i * entry;
    palette[i] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
  }
  return true;
}

// The red, green and blue masks that follow a header too short to hold them.
bool ReadBitfieldMasks(TStream* s, TBmpInfo& bi) {
  uint8_t m[12];
  if (!Present(bi, 14 + int64_t(bi.header_size), 12) || !ReadAt(s, bi.start + 14 + bi.header_size, m, 12))
    return false;
  for (int i = 0; i < 3; ++i) bi.masks[size_t(i)] = Le32(m + 4 * i);
  return true;
}

// Packed 1-, 4- or 8-bit indices to one index per pixel (most significant first).
void UnpackIndices(const uint8_t* packed, int bits, int32_t width, uint8_t* out) {
  const int per_byte = 8 / bits;
  const uint8_t mask = uint8_t((1 << bits) - 1);
  for (int32_t x = 0; x < width; ++x) {
    const int shift = 8 - bits * (x % per_byte + 1);
    out[x] = uint8_t((packed[x / per_byte] >> shift) & mask);
  }
}

void ExpandPaletteRow(const uint8_t* indices, const std::array<uint32_t, 256>& palette, int32_t width, uint8_t* out) {
  for (int32_t x = 0; x < width; ++x, out += 3) {
    const uint32_t c = palette[indices[x]];
    out[0] = uint8_t(c);
    out[1] = uint8_t(c >> 8);
    out[2] = uint8_t(c >> 16);
  }
}

// A channel of a bit-field pixel scaled to 8 bits.
uint8_t MaskChannel(uint32_t pixel, uint32_t mask, uint8_t absent) {
  if (mask == 0) return absent;
  const int shift = std::countr_zero(mask);
  const int bits = 32 - std::countl_zero(mask) - shift;
  const uint32_t v = (pixel & mask) >> shift;
  if (bits >= 8) return uint8_t(v >> (bits - 8));
  const uint32_t max = (uint32_t(1) << bits) - 1;
  return uint8_t((v * 255 + max / 2) / max);
}

void MakeOpaqueIfNoAlpha(TDirectBitmap* b) {
  for (int32_t y = 0; y < b->Height(); ++y)
    for (int32_t x = 0; x < b->Width(); ++x)
      if (b->Row(y)[4 * x + 3] != 0) return;
  for (int32_t y = 0; y < b->Height(); ++y)
    for (int32_t x = 0; x < b->Width(); ++x) b->Row(y)[4 * x + 3] = 255;
}

// The rows of an uncompressed picture.
Ref<TDirectBitmap> ReadPlainRows(TStream* s, const TBmpInfo& bi, TPixelFormat* format,
                                 const std::array<uint32_t, 256>& palette, bool scale_masks) {
  const int32_t w = bi.width, rows = bi.Rows();
  const int64_t stride = ((int64_t(w) * bi.bit_count + 31) / 32) * 4;
  const int64_t used = (int64_t(w) * bi.bit_count + 7) / 8;
  if (!Present(bi, bi.data_offset, stride * (rows - 1) + used)) return nullptr;
  Ref<TDirectBitmap> b = MakeRef<TDirectBitmap>(w, rows, format);
  std::vector<uint8_t> row(static_cast<size_t>(used));
  std::vector<uint8_t> indices(bi.bit_count <= 8 ? size_t(w) : 0);
  for (int32_t y = 0; y < rows; ++y) {
    if (!ReadAt(s, bi.start + bi.data_offset + y * stride, row.data(), row.size())) return nullptr;
    uint8_t* out = b->Row(bi.height > 0 ? rows - 1 - y : y);
    if (bi.bit_count <= 8) {
      UnpackIndices(row.data(), bi.bit_count, w, indices.data());
      ExpandPaletteRow(indices.data(), palette, w, out);
    } else if (scale_masks) {
      for (int32_t x = 0; x < w; ++x) {
        const uint32_t p = Le32(row.data() + 4 * x);
        out[4 * x + 0] = MaskChannel(p, bi.masks[2], 0);
        out[4 * x + 1] = MaskChannel(p, bi.masks[1], 0);
        out[4 * x + 2] = MaskChannel(p, bi.masks[0], 0);
        out[4 * x + 3] = MaskChannel(p, bi.masks[3], 255);
      }
    } else {
      std::memcpy(out, row.data(), row.size());
    }
  }
  return b;
}

// An RLE8 or RLE4 picture: indices decoded into a buffer, then expanded.
Ref<TDirectBitmap> ReadRleRows(TStream* s, const TBmpInfo& bi, const std::array<uint32_t, 256>& palette) {
  const int32_t w = bi.width, rows = bi.Rows();
  // No sane encoding needs more than two bytes per pixel plus the row ends.
  int64_t length = 2 * int64_t(w) * rows + 4 * int64_t(rows) + 16;
  if (bi.available >= 0) length = std::min<int64_t>(length, bi.available - bi.data_offset);
  if (length < 0 || s->SetPosition(bi.start + bi.data_offset) != bi.start + bi.data_offset) return nullptr;
  std::vector<uint8_t> data(static_cast<size_t>(length));
  data.resize(size_t(s->Read(data, length)));
  std::vector<uint8_t> indices(size_t(w) * size_t(rows), 0);
  const detail::TRleResult r = detail::ExpandRle(data, bi.bit_count, w, rows, [&](int32_t x, int32_t y, uint8_t v) {
    indices[size_t(y) * size_t(w) + size_t(x)] = v;
  });
  if (r == detail::TRleResult::kDataShort) return nullptr;
  Ref<TDirectBitmap> b = MakeRef<TDirectBitmap>(w, rows, StdFormats().R8G8B8);
  for (int32_t y = 0; y < rows; ++y)
    ExpandPaletteRow(indices.data() + size_t(y) * size_t(w), palette, w, b->Row(bi.height > 0 ? rows - 1 - y : y));
  return b;
}

Ref<TDirectBitmap> DecodeBmp(TStream* s) {
  TBmpInfo bi;
  bi.start = s->GetPosition();
  const int64_t size = s->GetSize();
  if (size >= 0) bi.available = size - bi.start;
  if (!ReadBmpFileHeader(s, bi) || !ReadBmpInfoHeader(s, bi)) return nullptr;
  if (!BitmapSizeAllowed(bi.width, bi.Rows(), 4)) return nullptr;

  const TStdPixelFormats& f = StdFormats();
  std::array<uint32_t, 256> palette{};
  const uint32_t c = bi.compression;
  switch (bi.bit_count) {
    case 1: case 4: case 8: {
      const bool rle = (c == 1 && bi.bit_count == 8) || (c == 2 && bi.bit_count == 4);
      if (!(c == 0 || rle) || !ReadBmpPalette(s, bi, palette)) return nullptr;
      return rle ? ReadRleRows(s, bi, palette) : ReadPlainRows(s, bi, f.R8G8B8, palette, false);
    }
    case 16: {
      TPixelFormat* format = f.X1R5G5B5;
      if (c == 3) {
        if (bi.header_size < 52 && !ReadBitfieldMasks(s, bi)) return nullptr;
        if (bi.masks[0] == kMaskR565 && bi.masks[1] == kMaskG565 && bi.masks[2] == kMaskB5) format = f.R5G6B5;
        else if (!(bi.masks[0] == kMaskR555 && bi.masks[1] == kMaskG555 && bi.masks[2] == kMaskB5)) return nullptr;
      } else if (c != 0) {
        return nullptr;
      }
      return ReadPlainRows(s, bi, format, palette, false);
    }
    case 24:
      return c == 0 ? ReadPlainRows(s, bi, f.R8G8B8, palette, false) : nullptr;
    case 32: {
      bool scale = false;
      if (c == 3) {
        if (bi.header_size < 52) {
          if (!ReadBitfieldMasks(s, bi)) return nullptr;
          bi.masks[3] = 0;
        }
        scale = !(bi.masks[0] == 0xFF0000 && bi.masks[1] == 0xFF00 && bi.masks[2] == 0xFF);
      } else if (c != 0) {
        return nullptr;
      }
      Ref<TDirectBitmap> b = ReadPlainRows(s, bi, f.A8R8G8B8, palette, scale);
      if (b) MakeOpaqueIfNoAlpha(b.get());
      return b;
    }
  }
  return nullptr;
}

}  // namespace

Ref<TDirectBitmap> LoadBmp(TStream* stream) {
  if (!stream) return nullptr;
  try {
    return DecodeBmp(stream);
  } catch (const std::exception&) {
    return nullptr;
  }
}

int FuzzBmp(const uint8_t* data, size_t size) {
  const TFuzzBitmapLimits limits;
  auto s = MakeRef<TMemoryStream>();
  s->Write(std::span<const uint8_t>(data, size), int64_t(size));
  s->SetPosition(0);
  Ref<TDirectBitmap> b = LoadBmp(s.get());
  if (b) KAV_ASSERT(b->Width() >= 1 && b->Height() >= 1);
  return 0;
}

}  // namespace kav
