#include "VoRav/Composite/winContextWrapper.h"

#include "VoRav/Win32/Text/winTextElement.h"
#include "VoRav/wpExceptions.h"
#include "platform/window/WinApi.h"

namespace kav {

const void* ScreenTextContext() {
  static const int token = 0;
  return &token;
}

// The classic window-text and window colours: black on white.
TFontDesc DefaultTextFont() {
  TFontDesc font;
  FontDescSetAll(font, u"Tahoma", 10.0f, 0, TRGBTriple{0, 0, 0}, TRGBTriple{255, 255, 255}, false);
  return font;
}

TWinContextWrapper::TWinContextWrapper() : font_(DefaultTextFont()) { win::GetScreenDpi(res_x_, res_y_); }

void TWinContextWrapper::Select(const void* context) {
  if (count_ > 0) KAV_ASSERT(context == context_);
  context_ = context;
  ++count_;
}

void TWinContextWrapper::Release() {
  KAV_ASSERT(count_ > 0);
  if (--count_ == 0) context_ = nullptr;
}

void TWinContextWrapper::SetFont(const TFontDesc& font) {
  if (!FontDescSameFont(font_, font)) FontDescAssign(font_, font, fdmFaceName | fdmSize | fdmStyle);
  if (!FontDescSameColors(font_, font)) FontDescAssign(font_, font, fdmColors);
}

void TWinContextWrapper::TextExtent(const std::u16string& text, TTextExtent& out) {
  KAV_ASSERT(count_ > 0);
  Ref<TWinTextElement> e = MakeRef<TWinTextElement>(font_, tdNone);
  e->InsertText(0, text, static_cast<int32_t>(text.size()), 0);
  TTextMetrics m;
  e->GetFontMetrics(m);
  TTextBounds b;
  e->GetTextBounds(b);
  out = TTextExtent{b.Advance, m.Height, m.Ascent};
}

}  // namespace kav
