#include "VoRav/Composite/winFrameFormTree.h"

#include <algorithm>
#include <cstring>

#include "VoRav/Composite/winFrameForms.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/vxBitmap.h"

namespace kav {

namespace {

class TTree : public TFrameFormTree, public TWinRootForm {
 public:
  explicit TTree(TFrameTreeHost* host) : host_(host) {
    frame_ = new TRootFrame();
    frame_->OnGetAbsolutePos = TDelegate<void(TPoint&)>::Bind<&TTree::AbsolutePos>(this);
    frame_->OnCaptureChanged = TDelegate<void(bool)>::Bind<&TTree::CaptureChanged>(this);
    frame_->Surface()->OnChange = TDelegate<void(TWinSurface*)>::Bind<&TTree::SurfaceChanged>(this);
    root_ = new TWinRootControl(this);
  }
  ~TTree() override { Release(); }

  // TWinRootForm
  TRootFrame* RootFrame() override { return frame_; }
  win::HWND GetHandle() override { return host_->TreeWindow(); }
  bool ColorKeyMode() override { return color_key_; }
  TSize ClientSize() override { return host_->TreeClientSize(); }
  void SetClientSize(int32_t width, int32_t height) override { host_->TreeSetClientSize(width, height); }
  void EnterNested() override { ++nesting_; }
  void LeaveNested() override { --nesting_; }
  Ref<TRefObject> HoldForm() override { return host_->TreeHold(); }

  // TFrameFormTree
  TWinRootControl* RootControl() override { return root_; }
  int32_t Nesting() override { return nesting_; }
  bool ColorKey() override { return color_key_; }
  void SetColorKey(bool value) override {
    color_key_ = value;
    if (frame_) frame_->Surface()->SetLayered(value);
    InvalidateAll();
  }
  TSize Size() override { return frame_ ? TSize{frame_->Width(), frame_->Height()} : TSize{}; }
  void SetSize(int32_t width, int32_t height) override {
    if (!frame_) return;
    frame_->SetBounds(0, 0, width, height);
    root_->SetSize(width, height);
  }
  void InvalidateAll() override {
    if (root_) root_->InvalidateAll();
  }
  // Input holds the window form, which owns this tree, for its dispatch: a
  // handler may free the form, which then goes (with the tree) as the
  // dispatch returns, after the last use of the tree.
  void FocusChanged(bool focused) override {
    const Ref<TRefObject> hold = host_->TreeHold();
    if (root_) root_->WindowFocusChanged(focused);
  }
  void Key(uint8_t shift, uint16_t& key, uint8_t kind) override {
    const Ref<TRefObject> hold = host_->TreeHold();
    if (root_) root_->WindowKey(shift, key, kind);
  }
  bool Mouse(uint32_t message, win::WPARAM wparam, win::LPARAM lparam, TPoint client_origin) override {
    const Ref<TRefObject> hold = host_->TreeHold();
    return frame_ && frame_->HandleMouseMessage(message, wparam, host_->TreeWindow(), client_origin, lparam);
  }
  void MouseLeaveWindow() override {
    const Ref<TRefObject> hold = host_->TreeHold();
    if (frame_) frame_->MouseLeaveWindow();
  }
  uint32_t PixelAt(int32_t x, int32_t y) override {
    if (!frame_ || x >= frame_->Width() || y >= frame_->Height()) return 0;
    return frame_->Surface()->PixelAt(x, y);
  }
  bool NeedsUpdate() override { return frame_ && frame_->Surface()->NeedsUpdate(); }
  bool CollectUpdate(std::vector<TRect>& rects) override {
    rects.clear();
    if (!frame_ || !frame_->RecalcInvalidRegion()) return false;
    if (color_key_) frame_->Surface()->ConvertLayered();
    rects = frame_->UpdateRects().Items;
    return true;
  }
  void CopyPixels(const std::vector<TRect>& rects, uint32_t* buffer, int32_t pitch) override {
    if (!frame_) return;
    TWinSurface* s = frame_->Surface();
    // The window layer shows no per-pixel transparency of a plain window:
    // the colour-key form's pixels are copied as colours.
    TFastDIB* dib = color_key_ && s->LayeredDib() ? s->LayeredDib() : s->Dib();
    const int32_t bpp = dib->BitCount() / 8;
    const int32_t w = std::min(s->Width(), frame_->Width()), h = std::min(s->Height(), frame_->Height());
    for (const TRect& r0 : rects) {
      const TRect r{std::max(r0.Left, 0), std::max(r0.Top, 0), std::min(r0.Right, w), std::min(r0.Bottom, h)};
      for (int32_t y = r.Top; y < r.Bottom; ++y) {
        const uint8_t* p = dib->Row(y) + size_t(std::max(r.Left, 0)) * size_t(bpp);
        uint32_t* q = buffer + size_t(y) * size_t(pitch) + size_t(r.Left);
        for (int32_t x = r.Left; x < r.Right; ++x, p += bpp) *q++ = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
      }
    }
  }
  bool PaintTo(TDrawSurface* target, TPoint point, TSize size) override {
    if (!frame_ || !target) return false;
    TWinSurface* s = frame_->Surface();
    const int32_t w = std::min(s->Width(), frame_->Width()), h = std::min(s->Height(), frame_->Height());
    if (w < 1 || h < 1) return false;
    auto copy = MakeRef<TDirectBitmap>(w, h, PixelFormatByName("R8G8B8"));
    for (int32_t y = 0; y < h; ++y) std::memcpy(copy->Row(y), s->Dib()->Row(y), size_t(w) * 3);
    target->DrawBitmap(copy.get(), TRect{point.X, point.Y, point.X + size.cx, point.Y + size.cy}, point.X, point.Y);
    return true;
  }
  void Release() override {
    // The root frame may outlive the tree (a click that frees the form is
    // still being routed through it): it calls back into nothing of ours.
    if (frame_) {
      frame_->Surface()->OnChange = nullptr;
      frame_->OnGetAbsolutePos = nullptr;
      frame_->OnCaptureChanged = nullptr;
    }
    frame_ = nullptr;
    if (TWinRootControl* r = std::exchange(root_, nullptr)) r->Free();  // frees the root frame
  }

 private:
  void AbsolutePos(TPoint& point) { point = host_->TreeClientOrigin(); }
  void CaptureChanged(bool captured) { host_->TreeCaptureChanged(captured); }
  void SurfaceChanged(TWinSurface* surface) {
    if (surface->NeedsUpdate()) host_->TreeNeedsUpdate();
  }

  TFrameTreeHost* host_;
  TRootFrame* frame_ = nullptr;       // freed by the root control
  TWinRootControl* root_ = nullptr;  // one reference
  int32_t nesting_ = 0;
  bool color_key_ = false;
};

}  // namespace

TFrameFormTree* NewFrameFormTree(TFrameTreeHost* host) { return new TTree(host); }

uint32_t LayeredPixel(uint32_t argb, int32_t factor) {
  const uint32_t a = std::min<uint32_t>(255, (argb >> 24) * uint32_t(std::max(factor, 0)) >> 8);
  if (a >= 255) return argb | 0xFF000000u;
  // Rounded division by 255, not "shr 8": the shift darkens every channel
  // of every translucent pixel by up to one step.
  auto mul = [a](uint32_t c) { return (c * a + 127) / 255; };
  return a << 24 | mul(argb >> 16 & 0xFF) << 16 | mul(argb >> 8 & 0xFF) << 8 | mul(argb & 0xFF);
}

bool UpdateLayeredFrameWindow(win::HWND window, TBitmap* bitmap, int32_t factor, bool click_through) {
  if (!win::IsWindow(window) || !bitmap || bitmap->Width() < 1 || bitmap->Height() < 1) return false;
  constexpr uint32_t kWsExLayered = 0x80000, kWsExTransparent = 0x20;
  win::SetWindowLong(window, win::GWL_EXSTYLE, intptr_t(kWsExLayered | (click_through ? kWsExTransparent : 0)));
  TPixelFormat* straight = PixelFormatByName("A8R8G8B8");
  Ref<TBitmap> converted;
  TBitmap* source = bitmap;
  if (bitmap->PixelFormat() != straight) {
    converted = bitmap->CreateSimilar(straight, &TDirectBitmap::kClass);
    if (!converted) return false;
    source = converted.get();
  }
  const int32_t w = source->Width(), h = source->Height();
  std::vector<uint32_t> pixels(size_t(w) * size_t(h));
  for (int32_t y = 0; y < h; ++y) {
    std::span<uint32_t> row(pixels.data() + size_t(y) * size_t(w), size_t(w));
    source->GetPixels32(0, y, w, row, 0);
    for (uint32_t& p : row) p = LayeredPixel(p, factor);
  }
  return win::SetWindowShape(window, pixels.data(), w, h);
}

}  // namespace kav
