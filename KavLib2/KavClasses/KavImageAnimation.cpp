#include "KavLib2/KavClasses/KavImageAnimation.h"

#include <algorithm>
#include <cmath>

#include "VoRav/vxByteStringUtils.h"

namespace kav {

namespace {

int64_t AtLeastOne(int32_t v) { return v < 1 ? 1 : v; }

}  // namespace

bool ImageAnimationParamsEqual(const TImageAnimationParams& a, const TImageAnimationParams& b) {
  return a.AnimEnable == b.AnimEnable && a.AnimColumns == b.AnimColumns && a.AnimRows == b.AnimRows &&
         a.AnimCount == b.AnimCount && a.AnimOffset == b.AnimOffset && a.AnimRepCount == b.AnimRepCount &&
         a.Intervals == b.Intervals;
}

void BuildAnimationFrames(std::string_view text, TImageAnimationParams& params) {
  const size_t count = size_t(std::clamp(params.AnimCount, 0, kMaxAnimationFrames));
  params.Intervals.clear();
  if (text.empty()) {
    params.Intervals.assign(count, 100);
    return;
  }
  params.Intervals.reserve(count);
  size_t start = 0;
  while (params.Intervals.size() < count) {
    const size_t comma = text.find(',', start);
    const std::string_view item = text.substr(start, comma == std::string_view::npos ? text.npos : comma - start);
    params.Intervals.push_back(ByteStringToIntDef(item, 0));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (!params.Intervals.empty()) params.Intervals.resize(count, params.Intervals.back());
}

int32_t AnimationFrameCount(const TImageAnimationParams& params) {
  const int64_t cells = AtLeastOne(params.AnimColumns) * AtLeastOne(params.AnimRows);
  return int32_t(std::min({int64_t(params.Intervals.size()), cells, int64_t(kMaxAnimationFrames)}));
}

int32_t AnimationFrameAtTime(const TImageAnimationParams& params, double time) {
  const int32_t n = AnimationFrameCount(params);
  const int64_t cells = AtLeastOne(params.AnimColumns) * AtLeastOne(params.AnimRows);
  if (!params.AnimEnable || cells <= 1 || n == 0) return 0;
  const double t = time - params.AnimOffset;
  if (!(t > 0)) return 0;  // before the start (or not a number)

  // Accumulated ends of the frames.
  std::vector<int64_t> ends(static_cast<size_t>(n));
  int64_t total = 0;
  for (int32_t i = 0; i < n; ++i) {
    total += std::max(params.Intervals[size_t(i)], 0);
    ends[size_t(i)] = total;
  }
  if (total <= 0) return 0;

  // Round c (0-based) holds t in (c x total, (c + 1) x total].
  const double rounds = std::ceil(t / double(total)) - 1;
  if (params.AnimRepCount > 0 && rounds >= params.AnimRepCount) return n - 1;
  double in_round = std::fmod(t, double(total));
  if (in_round == 0) in_round = double(total);
  const auto it = std::lower_bound(ends.begin(), ends.end(), in_round,
                                   [](int64_t end, double v) { return double(end) < v; });
  return it == ends.end() ? n - 1 : int32_t(it - ends.begin());
}

void GetAnimationFrameRect(float width, float height, int32_t columns, TFloatRect& rect, int32_t row,
                           int32_t column, int32_t rows) {
  const double cw = double(width) / double(AtLeastOne(columns));
  const double rh = double(height) / double(AtLeastOne(rows));
  rect = TFloatRect{float(column * cw), float(row * rh), float((column + 1.0) * cw), float((row + 1.0) * rh)};
}

}  // namespace kav
