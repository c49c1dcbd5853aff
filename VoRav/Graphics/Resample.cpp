#include "VoRav/Graphics/Resample.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kav {

namespace {

// Constants in extended precision, as the filters' formulas are evaluated.
constexpr long double kOneSixth = 1.0L / 6.0L;
constexpr long double kTwoThirds = 2.0L / 3.0L;
constexpr long double kSixteenThirds = 16.0L / 3.0L;
constexpr long double kMinusSevenThirds = -7.0L / 3.0L;
constexpr long double kThirtyTwoThirds = 32.0L / 3.0L;
constexpr float kWorkScale = 256.96078f;       // 65525 / 255 in single precision (0x43807AFB)
constexpr float kOutputScale = 0.0038910506f;  // 255 / 65535 in single precision

float Sinc(float x) {
  if (x == 0.0f) return 1.0f;
  const float px = float(M_PI) * x;
  return std::sin(px) / px;
}

struct TContributor {
  int32_t Index;
  float Weight;
};
using TContributorList = std::vector<TContributor>;

// The source index reflected at the edges (and kept inside tiny sources).
int32_t Mirror(int32_t j, int32_t n) {
  if (j < 0) j = -j;
  else if (j >= n) j = 2 * n - j - 1;
  return std::clamp(j, 0, n - 1);
}

// Contributors of one output position whose centre in the source is `center`.
void BuildContributors(TContributorList& list, float center, float scale, float support, int32_t n,
                       TResampleFilterProc filter) {
  list.clear();
  const float width = scale >= 1.0f ? support : support / scale;
  // A filter wider than a million source pixels means a broken scale.
  KAV_ASSERT(std::isfinite(width) && width < float(1 << 20) && std::fabs(center) < float(1 << 30));
  const int32_t left = int32_t(std::floor(center - width));
  const int32_t right = int32_t(std::ceil(center + width));
  for (int32_t j = left; j <= right; ++j) {
    const float w = scale >= 1.0f ? filter(center - float(j)) : filter((center - float(j)) * scale) * scale;
    if (w != 0.0f) list.push_back(TContributor{Mirror(j, n), w});
  }
}

}  // namespace

float BoxFilter(float x) { return (x > -0.5f && x <= 0.5f) ? 1.0f : 0.0f; }

float TriangleFilter(float x) {
  const float t = std::fabs(x);
  return t < 1.0f ? 1.0f - t : 0.0f;
}

float HermiteFilter(float x) {
  const float t = std::fabs(x);
  return t < 1.0f ? (2.0f * t - 3.0f) * t * t + 1.0f : 0.0f;
}

float BellFilter(float x) {
  const float t = std::fabs(x);
  if (t < 0.5f) return 0.75f - t * t;
  if (t < 1.5f) {
    const float u = t - 1.5f;
    return 0.5f * u * u;
  }
  return 0.0f;
}

float SplineFilter(float x) {
  const long double t = std::fabs(x);
  if (t < 1.0L) return float(0.5L * t * t * t - t * t + kTwoThirds);
  if (t < 2.0L) {
    const long double u = 2.0L - t;
    return float(u * u * u * kOneSixth);
  }
  return 0.0f;
}

float Lanczos3Filter(float x) {
  const float t = std::fabs(x);
  return t < 3.0f ? Sinc(x) * Sinc(x / 3.0f) : 0.0f;
}

float MitchellFilter(float x) {
  const long double t = std::fabs(x);
  const long double tt = t * t;
  if (t < 1.0L) return float((7.0L * t * tt - 12.0L * tt + kSixteenThirds) * kOneSixth);
  if (t < 2.0L) return float((kMinusSevenThirds * t * tt + 12.0L * tt - 20.0L * t + kThirtyTwoThirds) * kOneSixth);
  return 0.0f;
}

const TResampleFilter ResampleFilters[7] = {
    {"Box", BoxFilter, 0.5f},          {"Triangle", TriangleFilter, 1.0f}, {"Hermite", HermiteFilter, 1.0f},
    {"Bell", BellFilter, 1.5f},        {"B-Spline", SplineFilter, 2.0f},   {"Lanczos3", Lanczos3Filter, 3.0f},
    {"Mitchell", MitchellFilter, 2.0f},
};

void ResampleStretch(TSysBitmap* source, TSysBitmap* dest, TResampleFilterProc filter,
                     const TResampleProgress& progress, std::span<const uint8_t> value_table, void* sender,
                     float scale, float support) {
  KAV_ASSERT(source != nullptr && source->BytesPerPixel() == 1);
  KAV_ASSERT(dest != nullptr && dest->BytesPerPixel() == 1);
  KAV_ASSERT(filter != nullptr && scale > 0.0f && std::isfinite(scale) && support >= 0.0f);
  KAV_ASSERT(value_table.empty() || value_table.size() >= 4096);
  const int32_t sw = source->Width(), sh = source->Height();
  const int32_t dw = dest->Width(), dh = dest->Height();
  if (sw < 2 || sh < 2) throw Exception("Source bitmap too small");
  if (dw < 1 || dh < 1) return;
  CheckBitmapSize(dw, sh, 2);  // the 16-bit work image

  bool cancel = false;
  auto step_done = [&] {
    if (progress) progress(sender, cancel);
    return !cancel;
  };

  // 1. Horizontal contributors.
  std::vector<TContributorList> contrib(static_cast<size_t>(dw));
  for (int32_t i = 0; i < dw; ++i) {
    BuildContributors(contrib[size_t(i)], float(i) / scale, scale, support, sw, filter);
    if (!step_done()) return;
  }
  // 2. Horizontal pass into destination width x source height 16-bit values.
  std::vector<uint16_t> work(size_t(dw) * size_t(sh));
  for (int32_t i = 0; i < dw; ++i) {
    const TContributorList& list = contrib[size_t(i)];
    for (int32_t y = 0; y < sh; ++y) {
      const uint8_t* row = source->Row(y);
      float sum = 0.0f;
      for (const TContributor& c : list) sum += c.Weight * float(row[c.Index]);
      sum = std::clamp(sum, 0.0f, 255.0f);
      work[size_t(y) * size_t(dw) + size_t(i)] = uint16_t(std::nearbyint(sum * kWorkScale));
    }
    if (!step_done()) return;
  }
  // 3. Vertical contributors.
  contrib.assign(size_t(dh), {});
  for (int32_t i = 0; i < dh; ++i) {
    BuildContributors(contrib[size_t(i)], float(i) / scale, scale, support, sh, filter);
    if (!step_done()) return;
  }
  // 4. Vertical pass, column by column.
  for (int32_t x = 0; x < dw; ++x) {
    for (int32_t y = 0; y < dh; ++y) {
      float sum = 0.0f;
      for (const TContributor& c : contrib[size_t(y)]) sum += c.Weight * float(work[size_t(c.Index) * size_t(dw) + size_t(x)]);
      sum = std::clamp(sum, 0.0f, 65535.0f);
      uint8_t out;
      if (value_table.empty()) out = uint8_t(std::nearbyint(sum * kOutputScale));
      else out = value_table[size_t(std::nearbyint(sum * 4095.0f / 65535.0f))];
      dest->Row(y)[x] = out;
    }
    if (!step_done()) return;
  }
}

}  // namespace kav
