// Reads and writes 8-bit grey PNG files for the golden pictures of the text
// tests (libpng's simplified interface).
#pragma once

#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kav::test {

struct TGrayImage {
  int32_t Width = 0;
  int32_t Height = 0;
  std::vector<uint8_t> Pixels;
};

inline bool WriteGrayPng(const std::string& path, const TGrayImage& img) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = uint32_t(img.Width);
  image.height = uint32_t(img.Height);
  image.format = PNG_FORMAT_GRAY;
  return png_image_write_to_file(&image, path.c_str(), 0, img.Pixels.data(), img.Width, nullptr) != 0;
}

inline bool ReadGrayPng(const std::string& path, TGrayImage& img) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_GRAY;
  img.Width = int32_t(image.width);
  img.Height = int32_t(image.height);
  img.Pixels.assign(size_t(img.Width) * size_t(img.Height), 0);
  if (!png_image_finish_read(&image, nullptr, img.Pixels.data(), img.Width, nullptr)) {
    png_image_free(&image);
    return false;
  }
  return true;
}

}  // namespace kav::test
