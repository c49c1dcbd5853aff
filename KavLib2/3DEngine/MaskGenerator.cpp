#include "KavLib2/3DEngine/MaskGenerator.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/vxConvert.h"

namespace kav {

namespace {
const std::u16string kPrefix = u"PresetedMask:";

double Ease(double x) { return x < 0.5 ? 2 * x * x : 1 - 2 * (1 - x) * (1 - x); }

std::u16string Num(float v) { return FloatToStrTrim(6, v); }

// The field as ASCII text; false when it is empty or holds anything else.
bool AsciiField(const std::u16string& f, std::string& a) {
  for (char16_t c : f) {
    if (c > 127) return false;
    a += char(c);
  }
  return !a.empty();
}

// The field as an integer (digits with an optional sign), else false.
bool FieldInt(const std::u16string& f, int32_t& out) {
  std::string a;
  if (!AsciiField(f, a)) return false;
  char* end = nullptr;
  const long v = std::strtol(a.c_str(), &end, 10);
  if (*end != 0 || v < INT32_MIN || v > INT32_MAX) return false;
  out = int32_t(v);
  return true;
}

bool FieldFloat(const std::u16string& f, float& out) {
  std::string a;
  if (!AsciiField(f, a)) return false;
  char* end = nullptr;
  const double v = std::strtod(a.c_str(), &end);
  if (*end != 0 || !std::isfinite(v)) return false;
  out = float(v);
  return true;
}
}  // namespace

int32_t MaskRampLevel(double a, double b, double c) {
  if (b - a > c) return 0;
  if (c > b) return 255;
  // A feather of 0 (ellipse): a pixel exactly on the edge counts as inside.
  if (a <= 0) return 0;
  return int32_t(std::lround(Ease((c - b + a) / a) * 255));
}

std::u16string TMaskGenerator::MakeMaskKey(const TMaskDescription& d) {
  return kPrefix + IntToStr(d.Width) + u":" + IntToStr(d.Height) + u":" + IntToStr(d.Shape) + u":" + Num(d.Feather) +
         u":" + Num(d.Corner);
}

void TMaskGenerator::ParseMaskKey(std::u16string_view key, TMaskDescription& d) {
  if (key.size() <= kPrefix.size()) return;
  std::vector<std::u16string> fields;
  std::u16string cur;
  for (size_t i = kPrefix.size(); i <= key.size(); ++i) {
    if (i == key.size() || key[i] == u':') {
      size_t s = 0;
      while (s < cur.size() && cur[s] == u' ') ++s;
      fields.push_back(cur.substr(s));
      cur.clear();
    } else {
      cur += key[i];
    }
  }
  auto field = [&](size_t i) { return i < fields.size() ? fields[i] : std::u16string(); };
  if (!FieldInt(field(0), d.Width)) d.Width = 512;
  if (!FieldInt(field(1), d.Height)) d.Height = 512;
  int32_t shape = 0;
  d.Shape = FieldInt(field(2), shape) && (shape == 0 || shape == 1) ? shape : 0;
  if (!FieldFloat(field(3), d.Feather)) d.Feather = 0;
  if (!FieldFloat(field(4), d.Corner)) d.Corner = 0;
}

Ref<TSysBitmap> TMaskGenerator::Generate(const TMaskDescription& d) {
  // Sizes come from the show: checked before anything is allocated.
  const int32_t w = d.Width, h = d.Height;
  if (w < 1 || h < 1 || w > kMaxMaskSide || h > kMaxMaskSide || !BitmapSizeAllowed(w, h, 3)) return nullptr;
  // Another shape is refused (the key reader never makes one).
  if (d.Shape != 0 && d.Shape != 1) return nullptr;
  Ref<TSysBitmap> bmp = CreateSysBitmap(w, h, StdFormats().R8G8B8);
  if (!bmp) return nullptr;
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0, aspect = double(w) / h;
  const int32_t r = d.Shape == 0 ? int32_t(std::trunc(std::min(w / 2, h / 2) * double(d.Corner) / 100)) : 0;
  const double a = d.Shape == 0 ? r * double(d.Feather) / 100 + 1 : std::min(w / 2, h / 2) * double(d.Feather) / 100;
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = bmp->Row(y);
    for (int32_t x = 0; x < w; ++x) {
      int32_t level;
      if (d.Shape == 1) {
        const double dx = x - cx, dy = (y - cy) * aspect;
        level = MaskRampLevel(a, cx, std::sqrt(dx * dx + dy * dy));
      } else {
        const bool left = x < r, right = x >= w - r, top = y < r, bottom = y >= h - r;
        if ((left || right) && (top || bottom)) {
          const double ox = left ? r : w - r - 1, oy = top ? r : h - r - 1;
          level = MaskRampLevel(a, r, std::hypot(x - ox, y - oy));
        } else {
          level = std::max(MaskRampLevel(a, cy, std::fabs(y - cy)), MaskRampLevel(a, cx, std::fabs(x - cx)));
        }
      }
      const uint8_t v = uint8_t(255 - level);
      row[x * 3] = row[x * 3 + 1] = row[x * 3 + 2] = v;
    }
    if (OnProgress.Assigned()) {
      bool stop = false;
      OnProgress(this, stop);
      if (stop) break;
    }
  }
  return bmp;
}

}  // namespace kav
