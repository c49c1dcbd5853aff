#include "platform/d3d/SwFormat.h"

#include <algorithm>

namespace kav {

const char* SwResultText(TSwResult r) {
  switch (r) {
    case TSwResult::Ok: return "ok";
    case TSwResult::InvalidCall: return "invalid call";
    case TSwResult::OutOfVideoMemory: return "out of video memory";
    case TSwResult::DeviceLost: return "device lost";
    case TSwResult::DeviceNotReset: return "device not reset";
    case TSwResult::NotAvailable: return "not available";
    case TSwResult::OutOfMemory: return "out of memory";
  }
  return "unknown result";
}

int SwBytesPerPixel(TSwFormat f) {
  switch (f) {
    case TSwFormat::A8R8G8B8:
    case TSwFormat::X8R8G8B8: return 4;
    case TSwFormat::R5G6B5:
    case TSwFormat::X1R5G5B5:
    case TSwFormat::A1R5G5B5: return 2;
    case TSwFormat::A8:
    case TSwFormat::L8: return 1;
    default: return 0;
  }
}

bool SwIsColorFormat(TSwFormat f) { return SwBytesPerPixel(f) != 0; }

const char* SwFormatName(TSwFormat f) {
  switch (f) {
    case TSwFormat::A8R8G8B8: return "A8R8G8B8";
    case TSwFormat::X8R8G8B8: return "X8R8G8B8";
    case TSwFormat::R5G6B5: return "R5G6B5";
    case TSwFormat::X1R5G5B5: return "X1R5G5B5";
    case TSwFormat::A1R5G5B5: return "A1R5G5B5";
    case TSwFormat::A8: return "A8";
    case TSwFormat::L8: return "L8";
    case TSwFormat::D16: return "D16";
    case TSwFormat::D24X8: return "D24X8";
    default: return "Unknown";
  }
}

TSwRect SwIntersect(const TSwRect& a, const TSwRect& b) {
  TSwRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
  if (r.Empty()) r = TSwRect{};
  return r;
}

TSwMatrix operator*(const TSwMatrix& a, const TSwMatrix& b) {
  TSwMatrix r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      float s = 0.0f;
      for (int k = 0; k < 4; ++k) s += a.m[i][k] * b.m[k][j];
      r.m[i][j] = s;
    }
  return r;
}

uint32_t SwFvfStride(uint32_t fvf) {
  const uint32_t known = SwFvfXYZ | SwFvfXYZRHW | SwFvfNormal | SwFvfDiffuse | SwFvfSpecular | SwFvfTexCountMask;
  if (fvf & ~known) return 0;  // coordinate sizes other than 2, blend weights, point size
  uint32_t pos = fvf & (SwFvfXYZ | SwFvfXYZRHW);
  if (pos != SwFvfXYZ && pos != SwFvfXYZRHW) return 0;
  if ((fvf & SwFvfXYZRHW) && (fvf & SwFvfNormal)) return 0;
  uint32_t tex = (fvf & SwFvfTexCountMask) >> SwFvfTexCountShift;
  if (tex > kSwMaxTexCoords) return 0;
  uint32_t stride = pos == SwFvfXYZ ? 12 : 16;
  if (fvf & SwFvfNormal) stride += 12;
  if (fvf & SwFvfDiffuse) stride += 4;
  if (fvf & SwFvfSpecular) stride += 4;
  return stride + tex * 8;
}

namespace {
inline uint32_t Widen5(uint32_t v) { return (v << 3) | (v >> 2); }
inline uint32_t Widen6(uint32_t v) { return (v << 2) | (v >> 4); }
inline uint16_t Load16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline void Store16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
}  // namespace

uint32_t SwReadArgb(TSwFormat f, const uint8_t* p) {
  switch (f) {
    case TSwFormat::A8R8G8B8: return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    case TSwFormat::X8R8G8B8: return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | 0xFF000000u;
    case TSwFormat::R5G6B5: {
      uint32_t v = Load16(p);
      return 0xFF000000u | Widen5(v >> 11) << 16 | Widen6((v >> 5) & 63) << 8 | Widen5(v & 31);
    }
    case TSwFormat::X1R5G5B5:
    case TSwFormat::A1R5G5B5: {
      uint32_t v = Load16(p);
      uint32_t a = (f == TSwFormat::X1R5G5B5 || (v & 0x8000)) ? 0xFF000000u : 0;
      return a | Widen5((v >> 10) & 31) << 16 | Widen5((v >> 5) & 31) << 8 | Widen5(v & 31);
    }
    case TSwFormat::A8: return uint32_t(p[0]) << 24;
    case TSwFormat::L8: return 0xFF000000u | uint32_t(p[0]) * 0x010101u;
    default: return 0;
  }
}

void SwWriteArgb(TSwFormat f, uint8_t* p, uint32_t c) {
  uint32_t a = c >> 24, r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255;
  switch (f) {
    case TSwFormat::A8R8G8B8: p[0] = uint8_t(b); p[1] = uint8_t(g); p[2] = uint8_t(r); p[3] = uint8_t(a); break;
    case TSwFormat::X8R8G8B8: p[0] = uint8_t(b); p[1] = uint8_t(g); p[2] = uint8_t(r); p[3] = 255; break;
    case TSwFormat::R5G6B5: Store16(p, (r >> 3) << 11 | (g >> 2) << 5 | (b >> 3)); break;
    case TSwFormat::X1R5G5B5: Store16(p, 0x8000 | (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3)); break;
    case TSwFormat::A1R5G5B5: Store16(p, (a >= 128 ? 0x8000 : 0) | (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3)); break;
    case TSwFormat::A8: p[0] = uint8_t(a); break;
    case TSwFormat::L8: p[0] = uint8_t(g); break;
    default: break;
  }
}

}  // namespace kav
