#include "KavLib2/3DEngine/vxDrawManager2.h"

#include <cmath>
#include <algorithm>
#include <mutex>

#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/vxImageHook.h"

namespace kav {

namespace {
// The process-wide render lock: two threads never draw a frame at once.
std::recursive_mutex& RenderLock() {
  static std::recursive_mutex lock;
  return lock;
}
int32_t RoundEven(double v) { return int32_t(std::nearbyint(v)); }
}  // namespace

const TImageDrawParams& DefaultImageDrawParams() {
  static const TImageDrawParams params;
  return params;
}

const TBoxParams& DefaultBoxParams() {
  static const TBoxParams params;
  return params;
}

TRect TDeviceDrawer::GetOutputRect() const {
  return OutputRect.IsEmpty() ? DeviceRect : OutputRect;
}

TFloatRect TDeviceDrawer::GetViewRect() const {
  if (ViewRect.Right > ViewRect.Left && ViewRect.Bottom > ViewRect.Top) return ViewRect;
  return TFloatRect{float(DeviceRect.Left), float(DeviceRect.Top), float(DeviceRect.Right), float(DeviceRect.Bottom)};
}

TFloatPoint TDeviceDrawer::GetViewSize() const {
  if (ViewSize.x > 0 && ViewSize.y > 0) return ViewSize;
  return TFloatPoint{float(DeviceRect.Width()), float(DeviceRect.Height())};
}

void TDeviceDrawer::SetOffset(TFloatPoint offset) {
  Offset = offset;
  OffsetActive = !(offset.x == 0 && offset.y == 0);
}

bool TDeviceDrawer::Render(TDrawItem* item) {
  // The depth is counted under the render lock (taken first, re-entrant), so
  // a second thread never mistakes itself for a nested call of the first.
  std::lock_guard<std::recursive_mutex> g(RenderLock());
  ++render_depth_;
  bool result = false;
  try {
    if (render_depth_ == 1) {
      BeginFrame();
      if (IsReady() && item) item->Draw(this);
      result = EndFrame();
      if (item) item->AfterDraw(this);
    } else if (IsReady()) {
      if (item) item->Draw(this);
      result = true;
    }
  } catch (...) {
    --render_depth_;
    throw;
  }
  --render_depth_;
  return result;
}

Ref<TImage> TDeviceDrawer::Snapshot() {
  if (DeviceRect.IsEmpty()) return nullptr;
  Ref<TSysBitmap> bmp = CreateSysBitmap(DeviceRect.Width(), DeviceRect.Height(), StdFormats().A8R8G8B8);
  if (!bmp || !CaptureBackBuffer(bmp.get())) return nullptr;
  // The image takes over the bitmap's reference.
  return ImageFromBitmapHook()(bmp.release(), true, u"");
}

void TDeviceDrawer::SetView(const TFloatRect& view, TFloatPoint size, bool /*whole_screen*/,
                            const T3DPoint& camera) {
  ViewRect = view;
  ViewSize = size;
  Camera = camera;
}

void FillMargins(TDeviceDrawer* drawer, TColor32 color) {
  const TRect& d = drawer->DeviceRect;
  TRect g{d.Left - 1, d.Top - 1, d.Right + 1, d.Bottom + 1};
  TRect o = drawer->GetOutputRect();
  color |= 0xFF000000u;
  const TRect strips[4] = {{g.Left, g.Top, g.Right, o.Top},
                           {g.Left, o.Top, o.Left, o.Bottom},
                           {o.Right, o.Top, g.Right, o.Bottom},
                           {g.Left, o.Bottom, g.Right, g.Bottom}};
  for (const TRect& s : strips)
    if (!s.IsEmpty()) drawer->FillRect(color, s);
}

void DrawSolidQuad(TDeviceDrawer* drawer, const T3DPoint& origin, const T3DPoint& x_end, const T3DPoint& y_end,
                   TColor32 color) {
  TBoxParams box = DefaultBoxParams();
  box.ColorA = box.ColorB = color;
  box.Opacity = float((color >> 24) / 255.0 * 100.0);
  T3DPoint xe{x_end.x - origin.x, x_end.y - origin.y, x_end.z - origin.z};
  T3DPoint ye{y_end.x - origin.x, y_end.y - origin.y, y_end.z - origin.z};
  drawer->FillBox(origin, TFloatPoint{1, 1}, box, xe, ye);
}

static TSize FitSize(TSize size, TSize box, bool no_enlarge) {
  // An empty size or box has no aspect to keep: the answer is empty.
  if (size.cx <= 0 || size.cy <= 0 || box.cx <= 0 || box.cy <= 0) return TSize{};
  TSize r;
  if (double(box.cx) / box.cy >= double(size.cx) / size.cy) {
    r.cy = no_enlarge ? std::min(size.cy, box.cy) : box.cy;
    r.cx = RoundEven(double(r.cy) * size.cx / size.cy);
  } else {
    r.cx = no_enlarge ? std::min(size.cx, box.cx) : box.cx;
    r.cy = RoundEven(double(r.cx) * size.cy / size.cx);
  }
  return r;
}

TSize FitSizeNoEnlarge(TSize size, TSize box) { return FitSize(size, box, true); }
TSize FitSizeInside(TSize size, TSize box) { return FitSize(size, box, false); }

}  // namespace kav
