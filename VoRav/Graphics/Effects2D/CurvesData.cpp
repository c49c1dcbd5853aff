#include "VoRav/Graphics/Effects2D/CurvesData.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "VoRav/vxMemoryStream.h"
#include "VoRav/vxStream.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

struct TPresetDef {
  const char* Name;
  std::vector<TCurvePoint> Points;
};

const std::array<TPresetDef, kContourPresetCount>& PresetDefs() {
  static const std::array<TPresetDef, kContourPresetCount> defs = {{
      {"Linear", {{0, 0}, {255, 255}}},
      {"Cone", {{0, 0}, {128, 255}, {255, 0}}},
      {"Cone - Inverted", {{0, 255}, {128, 0}, {255, 255}}},
      {"Cove - Deep", {{1, 63}, {148, 110}, {192, 255}}},
      {"Cove - Shallow", {{0, 127}, {83, 174}, {128, 255}}},
      {"Gaussian", {{0, 0}, {63, 11}, {113, 63}, {146, 194}, {191, 241}, {255, 255}}},
      {"Half Round", {{0, 0}, {27, 84}, {81, 178}, {173, 236}, {255, 255}}},
      {"Ring", {{0, 0}, {86, 255}, {172, 0}, {255, 255}}},
      {"Ring - Double", {{0, 0}, {48, 255}, {105, 0}, {158, 253}, {214, 1}, {255, 255}}},
      {"Tooth", {{0, 0}, {64, 127}, {128, 1}, {193, 127}, {255, 0}}},
  }};
  return defs;
}

void PutBE16(std::string& s, int32_t v) {
  s.push_back(char((v >> 8) & 0xFF));
  s.push_back(char(v & 0xFF));
}

bool InByteRange(const TCurvePoint& p) { return p.X >= 0 && p.X <= 255 && p.Y >= 0 && p.Y <= 255; }

TCurvePoint ReadPoint(TStream* stream) {
  TCurvePoint p;
  p.X = stream->ReadWordBE();
  p.Y = stream->ReadWordBE();
  return p;
}

}  // namespace

std::string ContourPresetRecord(int32_t index) {
  if (index < 0 || index >= kContourPresetCount) return {};
  const TPresetDef& def = PresetDefs()[size_t(index)];
  std::string s;
  const uint32_t n = uint32_t(std::char_traits<char>::length(def.Name));
  for (int i = 0; i < 4; ++i) s.push_back(char((n >> (8 * i)) & 0xFF));
  s += def.Name;
  PutBE16(s, int32_t(def.Points.size()));
  for (const TCurvePoint& p : def.Points) {
    PutBE16(s, p.X);
    PutBE16(s, p.Y);
  }
  return s;
}

TCurvesData::TCurvesData() { Reset(); }

void TCurvesData::Reset() {
  for (size_t i = 0; i < table_.size(); ++i) table_[i] = uint8_t(i);
  first_ = {0, 0};
  last_ = {255, 255};
  middle_.clear();
}

void TCurvesData::SelectPreset(int32_t index) {
  preset_index_ = index;
  if (index < 0 || index >= kContourPresetCount) {
    preset_index_ = -1;
    name_.clear();
    return;
  }
  TStringStream stream(ContourPresetRecord(index));
  LoadNameFromStream(&stream);
  LoadFromStream(&stream);
}

void TCurvesData::LoadNameFromStream(TStream* stream) {
  const uint32_t n = stream->ReadDWord();
  name_.clear();
  if (n == 0 || n >= 1000000) return;
  std::string name(n, '\0');
  if (stream->ReadAnsiRange(name, 0, int64_t(n)) < int64_t(n)) throw EStreamReadError();
  name_ = std::move(name);
}

bool TCurvesData::LoadFromStream(TStream* stream) {
  const int32_t count = stream->ReadWordBE();
  bool ok = count >= 2 && count <= 255;
  if (ok) {
    middle_.clear();
    first_ = ReadPoint(stream);
    ok = InByteRange(first_);
  }
  for (int32_t i = 0; ok && i < count - 2; ++i) {
    const TCurvePoint p = ReadPoint(stream);
    ok = InByteRange(p);
    if (ok) middle_.push_back(p);
  }
  if (ok) {
    last_ = ReadPoint(stream);
    ok = InByteRange(last_);
  }
  if (!ok) {
    Reset();
    return false;
  }
  Build();
  return true;
}

void TCurvesData::Build() {
  // The working list: a middle point whose x repeats the point added last
  // takes no part in the spline.
  std::vector<TCurvePoint> pts;
  pts.reserve(middle_.size() + 2);
  pts.push_back(first_);
  for (const TCurvePoint& p : middle_)
    if (p.X != pts.back().X) pts.push_back(p);
  pts.push_back(last_);

  const int32_t count = int32_t(pts.size());
  constexpr double kStep = 0.001;
  for (int32_t i = 0; i + 1 < count; ++i) {
    const TCurvePoint& p0 = pts[size_t(std::max(i - 1, 0))];
    const TCurvePoint& p1 = pts[size_t(i)];
    const TCurvePoint& p2 = pts[size_t(i + 1)];
    const TCurvePoint& p3 = pts[size_t(std::min(i + 2, count - 1))];
    // Uniform Catmull-Rom: value(t) = a t^3 + b t^2 + c t + d per coordinate,
    // walked by forward differences.
    auto coeffs = [](double v0, double v1, double v2, double v3, double out[4]) {
      out[0] = -0.5 * v0 + 1.5 * v1 - 1.5 * v2 + 0.5 * v3;
      out[1] = 1.0 * v0 - 2.5 * v1 + 2.0 * v2 - 0.5 * v3;
      out[2] = -0.5 * v0 + 0.5 * v2;
      out[3] = v1;
    };
    double cx[4], cy[4];
    coeffs(p0.X, p1.X, p2.X, p3.X, cx);
    coeffs(p0.Y, p1.Y, p2.Y, p3.Y, cy);
    const double h2 = kStep * kStep, h3 = h2 * kStep;
    double x = cx[3], dx1 = cx[0] * h3 + cx[1] * h2 + cx[2] * kStep, dx2 = 6 * cx[0] * h3 + 2 * cx[1] * h2,
           dx3 = 6 * cx[0] * h3;
    double y = cy[3], dy1 = cy[0] * h3 + cy[1] * h2 + cy[2] * kStep, dy2 = 6 * cy[0] * h3 + 2 * cy[1] * h2,
           dy3 = 6 * cy[0] * h3;
    auto clampRound = [](double v) { return int32_t(std::clamp(std::nearbyint(v), 0.0, 255.0)); };
    int32_t px = clampRound(x), py = clampRound(y);
    table_[size_t(px)] = uint8_t(py);
    for (int step = 0; step < 1000; ++step) {
      x += dx1;
      dx1 += dx2;
      dx2 += dx3;
      y += dy1;
      dy1 += dy2;
      dy2 += dy3;
      const int32_t ix = clampRound(x), iy = clampRound(y);
      if (ix != px || iy != py) table_[size_t(ix)] = uint8_t(iy);
      px = ix;
      py = iy;
    }
  }
  for (int32_t x = 0; x < first_.X; ++x) table_[size_t(x)] = uint8_t(first_.Y);
  for (int32_t x = last_.X; x <= 255; ++x) table_[size_t(x)] = uint8_t(last_.Y);
  for (const TCurvePoint& p : pts) table_[size_t(p.X)] = uint8_t(p.Y);
}

}  // namespace kav
