#include "VoRav/Composite/vxClipbrd.h"

#include "VoRav/Graphics/SysImage.h"

namespace kav {

namespace {
TClipbrd* g_clipboard = nullptr;  // holds one reference
}  // namespace

bool TClipbrd::SetBitmap(TBitmap* bitmap, const std::u16string& name) {
  if (!bitmap) return false;
  Ref<TImage> wrapper = ImageFromBitmap(bitmap, false, name);
  return wrapper && SetImage(wrapper.get());
}

void TClipbrd::Dispose() {
  ForgetClipboard(this);
  TRefObject::Dispose();
}

TClipbrd* Clipboard() { return g_clipboard; }

void SetClipboard(TClipbrd* clipboard) {
  if (clipboard == g_clipboard) return;
  if (clipboard) RefAddRef(clipboard);
  TClipbrd* old = g_clipboard;
  g_clipboard = clipboard;
  if (old) RefRelease(old);
}

void ForgetClipboard(TClipbrd* clipboard) {
  if (g_clipboard == clipboard) g_clipboard = nullptr;
}

}  // namespace kav
