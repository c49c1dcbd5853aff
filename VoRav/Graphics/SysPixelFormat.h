// Named pixel formats and the table in which they are found by name.
//
// A format name lists components from the most significant bits down, each a
// channel letter and a bit count ("A8R8G8B8", "B5G6R5", "X1R5G5B5"): R, G, B
// colour, A or Y alpha-or-luminance, X padding. For byte-aligned formats the
// last-named component is the first byte in memory, so "A8R8G8B8" lies in
// memory as blue, green, red, alpha. Lower-case colour letters make distinct
// names; "A8r8g8b8" and "A8b8g8r8" are the premultiplied formats.
//
// Formats are created once and live for the whole run: a TPixelFormat* can be
// kept and compared by address.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "VoRav/SysObj2.h"

namespace kav {

enum TPixelChannel : uint8_t {
  pcPadding = 0,
  pcRed = 1,
  pcGreen = 2,
  pcBlue = 3,
  pcAlpha = 4,  // alpha or luminance
};

struct TPixelComponent {
  uint8_t Channel = pcPadding;
  uint8_t Bits = 0;
  friend bool operator==(const TPixelComponent&, const TPixelComponent&) = default;
};

// Format kinds.
enum : uint8_t {
  pfkColor = 0,       // colour channels without alpha
  pfkNoColor = 2,     // no colour channel (alpha or luminance only, or nothing)
  pfkColorAlpha = 3,  // colour channels with alpha
};

class TPixelFormat : public TRefObject {
 public:
  const std::string& Name() const noexcept { return name_; }
  uint8_t Kind() const noexcept { return kind_; }
  // A non-padding component whose bit count is not a multiple of 8.
  bool IsBitField() const noexcept { return bit_field_; }
  // The name has an alpha or luminance component ("A" or "Y").
  bool HasAlpha() const noexcept { return alpha_; }
  bool IsPremultiplied() const noexcept { return premultiplied_; }
  int32_t BytesPerPixel() const noexcept { return bytes_per_pixel_; }
  int32_t BitsPerPixel() const noexcept { return bits_per_pixel_; }
  // Least significant component first.
  const std::vector<TPixelComponent>& Components() const noexcept { return components_; }
  // Every component, padding included, is exactly 8 bits wide.
  bool IsByteAligned() const noexcept { return byte_aligned_; }

 protected:
  TPixelFormat() = default;
  std::string name_;
  uint8_t kind_ = pfkNoColor;
  bool bit_field_ = false;
  bool alpha_ = false;
  bool premultiplied_ = false;
  bool byte_aligned_ = false;
  int32_t bytes_per_pixel_ = 1;
  int32_t bits_per_pixel_ = 0;
  std::vector<TPixelComponent> components_;

  friend void MarkPremultiplied(TPixelFormat* format);
};

// The format described by its name.
class TCommonPixelFormat : public TPixelFormat {
 public:
  explicit TCommonPixelFormat(std::string_view name);
};

// Components of a name, least significant first. Characters other than
// channel letters and digits are ignored; a component's bit count is capped
// at 32 and at most 16 components are kept.
std::vector<TPixelComponent> ParsePixelFormatName(std::string_view name);

// The format of that name; created and added to the table on first use, so a
// name always yields a format and one name always yields the same object.
// Safe to call from any thread.
TPixelFormat* PixelFormatByName(std::string_view name);

// The formats the system names at start-up.
struct TStdPixelFormats {
  TPixelFormat* Y8;
  TPixelFormat* A8;
  TPixelFormat* R8G8B8;    // blue, green, red
  TPixelFormat* B8G8R8;    // red, green, blue
  TPixelFormat* A8R8G8B8;  // blue, green, red, alpha
  TPixelFormat* A8B8G8R8;  // red, green, blue, alpha
  TPixelFormat* X8B8G8R8;
  TPixelFormat* B5G6R5;    // red bits 0-4, green 5-10, blue 11-15
  TPixelFormat* B5G5R5X1;  // red bits 1-5, green 6-10, blue 11-15
  TPixelFormat* A8r8g8b8;  // premultiplied A8R8G8B8
  TPixelFormat* A8b8g8r8;  // premultiplied A8B8G8R8
  TPixelFormat* R5G6B5;    // blue bits 0-4, green 5-10, red 11-15
  TPixelFormat* X1R5G5B5;  // blue bits 0-4, green 5-9, red 10-14
};
const TStdPixelFormats& StdFormats();

}  // namespace kav
