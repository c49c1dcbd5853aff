// Bitmaps and PNG files for the visual-style tests.
#pragma once

#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/SysPixelFormat.h"

namespace kav::uxtheme::test {

inline Ref<TSysBitmap> NewBitmap32(int32_t w, int32_t h, TColor32 fill) {
  Ref<TSysBitmap> b = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
  b->FillRect(TRect{0, 0, w, h}, fill);
  return b;
}

inline TColor32 Pixel(TSysBitmap* b, int32_t x, int32_t y) {
  uint32_t v = 0;
  const uint8_t* p = b->PixelAddress(x, y);
  if (b->BytesPerPixel() == 4) return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | 0xFF000000u;
  return v;
}

// Writes the bitmap's colours as an RGB PNG (alpha dropped).
inline bool WritePng(const std::string& path, TSysBitmap* b) {
  std::vector<uint8_t> rgb(size_t(b->Width()) * size_t(b->Height()) * 3);
  for (int32_t y = 0; y < b->Height(); ++y)
    for (int32_t x = 0; x < b->Width(); ++x) {
      const TColor32 c = Pixel(b, x, y);
      uint8_t* o = &rgb[(size_t(y) * size_t(b->Width()) + size_t(x)) * 3];
      o[0] = ColorRed(c), o[1] = ColorGreen(c), o[2] = ColorBlue(c);
    }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = uint32_t(b->Width());
  image.height = uint32_t(b->Height());
  image.format = PNG_FORMAT_RGB;
  return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}

// Reads a PNG as 0xFFRRGGBB pixels, rows top first.
inline bool ReadPng(const std::string& path, int32_t& w, int32_t& h, std::vector<uint32_t>& pixels) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return false;
  w = int32_t(image.width);
  h = int32_t(image.height);
  pixels.resize(size_t(w) * size_t(h));
  for (size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = 0xFF000000u | uint32_t(rgb[i * 3]) << 16 | uint32_t(rgb[i * 3 + 1]) << 8 | rgb[i * 3 + 2];
  return true;
}

}  // namespace kav::uxtheme::test
