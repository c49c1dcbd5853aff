// Display texts of EXIF codes and rationals.
#include <cmath>
#include <cstdio>
#include <string>

#include "KavLib2/Zel.Exif/Exif.h"
#include "VoRav/vxConvert.h"

namespace kav {

namespace {

std::u16string Widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::u16string FromTable(const char16_t* const* table, uint32_t size, uint32_t code) {
  return code < size ? table[code] : u"Unknown";
}

}  // namespace

std::u16string ExifOrientationText(uint32_t code) {
  static const char16_t* const kTable[] = {
      u"Unknown", u"Normal", u"Mirrored", u"Rotated 180", u"Rotated 180, mirrored",
      u"Rotated 90 left, mirrored", u"Rotated 90 right", u"Rotated 90 right, mirrored", u"Rotated 90 left"};
  return FromTable(kTable, 9, code);
}

std::u16string ExifExposureProgramText(uint32_t code) {
  static const char16_t* const kTable[] = {
      u"Unknown", u"Manual Control", u"Normal Program", u"Aperture Priority", u"Shutter Priority",
      u"Creative Program", u"Action Program", u"Portrait Mode", u"Landscape Mode"};
  return FromTable(kTable, 9, code);
}

std::u16string ExifMeteringModeText(uint32_t code) {
  static const char16_t* const kTable[] = {
      u"Unknown", u"Average", u"Center Weighted Average", u"Spot", u"Multi Spot",
      u"Pattern", u"Partial", u"Other"};
  return FromTable(kTable, 8, code);
}

std::u16string ExifLightSourceText(uint32_t code) {
  switch (code) {
    case 1: return u"Daylight";
    case 2: return u"Flourescent";
    case 3: return u"Tungsten";
    case 10: return u"Flash";
    case 17: return u"Standard Light A";
    case 18: return u"Standard Light B";
    case 19: return u"Standard Light C";
    case 20: return u"D55";
    case 21: return u"D65";
    case 22: return u"D75";
    case 255: return u"Other";
    default: return u"Unknown";
  }
}

std::u16string ExifFlashText(uint32_t code) {
  switch (code) {
    case 1: return u"Flash";
    case 5: return u"Flash No Strobe";
    case 7: return u"Flash Strobe";
    case 25: return u"Flash (Auto)";
    default: return u"No Flash";
  }
}

std::u16string ExifRationalInteger(uint32_t numerator, uint32_t denominator) {
  if (denominator == 0) return {};
  if (denominator == 1000000) return u"0";
  if (numerator != 0 && denominator % numerator == 0) return u"1/" + Widen(std::to_string(denominator / numerator));
  return Widen(std::to_string(numerator) + "/" + std::to_string(denominator));
}

std::u16string ExifRationalDecimal(uint32_t numerator, uint32_t denominator) {
  if (denominator == 0) return {};
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", static_cast<double>(numerator) / denominator);
  std::string s(buf);
  if (s.back() == '0') s.pop_back();
  return Widen(s);
}

std::u16string ExifShutterSpeedText(uint32_t numerator, uint32_t denominator) {
  if (denominator == 0) return {};
  const float v = static_cast<float>(static_cast<double>(numerator) / denominator);
  if (v >= 65535.0f) return u"1 seconds";
  if (v > 16000.0f) return {};
  const double speed = std::exp2(static_cast<double>(v));
  if (!std::isfinite(speed)) return {};
  return u"1/" + FloatToStrTrim(0, speed) + u" seconds";
}

}  // namespace kav
