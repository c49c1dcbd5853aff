// The toolkit's clipboard: Unicode text and bitmaps, with nested opening and
// a change stamp. TClipbrd is the base the edit controls talk to; the
// window layer's realisation is TClipboard (winClipbrd.h), which start-up
// makes the global clipboard. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Graphics/vxBitmap.h"
#include "VoRav/Graphics/vxImage.h"
#include "VoRav/SysObj2.h"
#include "VoRav/vxByteString.h"

namespace kav {

class TClipbrd : public TRefObject {
 public:
  // The clipboard's text (empty when it holds none or cannot be opened).
  virtual void GetText(std::u16string& text) { text.clear(); }
  // Replaces every format with the text; false when it cannot be opened.
  virtual bool SetText(const std::u16string& text) { (void)text; return false; }
  // Puts a bitmap under a name: wraps it into a temporary image with the
  // name (not owning the bitmap) and answers SetImage of that image.
  virtual bool SetBitmap(TBitmap* bitmap, const std::u16string& name);
  // Puts an image's picture; false when it cannot.
  virtual bool SetImage(TImage* image) { (void)image; return false; }
  // A new bitmap of the clipboard's picture, or nil.
  virtual Ref<TBitmap> GetBitmap() { return nullptr; }
  // Whether the clipboard's text begins with `text` (ignoring case when
  // asked); an empty `text` answers whether it holds text at all.
  virtual bool HasText(const std::u16string& text, bool ignore_case) { (void)text; (void)ignore_case; return false; }
  // A text that changes whenever the clipboard's contents change.
  virtual void GetChangeStamp(TByteString& stamp) { stamp.clear(); }
  virtual void Clear() {}
  virtual void Close() {}
  // Nested: every successful Open needs its Close; false when the
  // clipboard cannot be opened (nothing changes then).
  virtual bool Open() { return false; }

 protected:
  void Dispose() override;
};

// The global clipboard (nil before start-up); setting releases the one
// before. A clipboard that is freed while global clears the variable.
TClipbrd* Clipboard();
void SetClipboard(TClipbrd* clipboard);
// Clears the global variable when it names `clipboard` (no release).
void ForgetClipboard(TClipbrd* clipboard);

}  // namespace kav
