#include "KavLib2/KavClasses/KavPictureFit.h"

#include <algorithm>

namespace kav {

namespace {

constexpr double kTiny = 0.001;

struct Box {
  double l, t, r, b;
};

// Widens a side of length 0.001 or less (or inverted) to 1: toward the far
// edge when at least 1.01 is left there, else toward the near edge.
void WidenSide(double& lo, double& hi, double extent) {
  if (!(hi - lo <= kTiny)) return;
  if (extent - lo >= 1.01) hi = lo + 1;
  else lo = hi - 1;
}

}  // namespace

bool BorderParamsEqual(const TBorderParams& a, const TBorderParams& b) {
  return a.BorderWidth == b.BorderWidth && ColorEqual(a.BorderColor, b.BorderColor, false) &&
         a.CropRect.Left == b.CropRect.Left && a.CropRect.Top == b.CropRect.Top &&
         a.CropRect.Right == b.CropRect.Right && a.CropRect.Bottom == b.CropRect.Bottom &&
         a.EnableBorder == b.EnableBorder && a.EnableCrop == b.EnableCrop && a.EnableAspect == b.EnableAspect &&
         a.Aspect == b.Aspect && a.Zoom == b.Zoom && a.Offset.x == b.Offset.x && a.Offset.y == b.Offset.y;
}

void ComputeFitRect(const TBorderParams& params, float width, float height, float& border_width,
                    TFloatRect& rect, float horizontal_scale) {
  border_width = 0;
  const double pw = width, ph = height;
  if (!(pw > 0) || !(ph > 0)) {
    rect = TFloatRect{0, 0, pw > 0 ? width : 0.0f, ph > 0 ? height : 0.0f};  // NaN counts as 0
    return;
  }
  const double s = horizontal_scale > kTiny ? double(horizontal_scale) : 1.0;
  const double w = pw * s, h = ph;

  Box box{0, 0, w, h};
  if (params.EnableAspect) {
    const double ratio = w / h;
    const double a = params.Aspect > kTiny ? double(params.Aspect) : ratio;
    if (a >= ratio) box = Box{0, (h - w / a) / 2, w, (h + w / a) / 2};
    else box = Box{(w - h * a) / 2, 0, (w + h * a) / 2, h};
    const double zoom = params.Zoom > kTiny && params.Zoom <= 100 ? double(params.Zoom) : 100.0;
    const double cx = (box.l + box.r) / 2, cy = (box.t + box.b) / 2;
    const double bw = (box.r - box.l) * zoom / 100, bh = (box.b - box.t) * zoom / 100;
    const double ox = std::clamp(double(params.Offset.x), -100.0, 100.0);
    const double oy = std::clamp(double(params.Offset.y), -100.0, 100.0);
    const double dx = (w - bw) / 2 * ox / 100, dy = (h - bh) / 2 * oy / 100;
    box = Box{cx - bw / 2 + dx, cy - bh / 2 + dy, cx + bw / 2 + dx, cy + bh / 2 + dy};
  }

  if (params.EnableBorder) border_width = float((box.b - box.t) * params.BorderWidth / 100);

  if (params.EnableCrop) {
    const double bw = box.r - box.l, bh = box.b - box.t;
    box = Box{box.l + bw * params.CropRect.Left / 100, box.t + bh * params.CropRect.Top / 100,
              box.r - bw * params.CropRect.Right / 100, box.b - bh * params.CropRect.Bottom / 100};
  }

  box.l /= s;
  box.r /= s;

  WidenSide(box.l, box.r, pw);
  WidenSide(box.t, box.b, ph);
  const bool inverted = !(box.l < box.r) || !(box.t < box.b);  // NaN counts as inverted
  const bool outside = box.r <= 0 || box.l >= pw || box.b <= 0 || box.t >= ph;
  if (inverted || outside) {
    box = Box{0, 0, pw, ph};
  } else {
    box = Box{std::max(box.l, 0.0), std::max(box.t, 0.0), std::min(box.r, pw), std::min(box.b, ph)};
  }
  rect = TFloatRect{float(box.l), float(box.t), float(box.r), float(box.b)};
}

}  // namespace kav
