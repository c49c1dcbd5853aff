// The clipboard of the window layer: Unicode text (CF_UNICODETEXT) and
// device-independent bitmaps (CF_DIB), opened on the application window,
// with nested opening and the layer's sequence number as change stamp.
// Start-up (InitWinClipboard) makes one the global clipboard. GUI thread
// only.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Composite/vxClipbrd.h"
#include "VoRav/Graphics/FastDIB.h"
#include "platform/window/WinApi.h"

namespace kav {

class TClipboard : public TClipbrd {
 public:
  void GetText(std::u16string& text) override;
  bool SetText(const std::u16string& text) override;
  // A TDibBitmap of at least 1 x 1 goes on as a DIB; other bitmaps as the
  // base puts them (through SetImage).
  bool SetBitmap(TBitmap* bitmap, const std::u16string& name) override;
  // The image's picture as a DIB (24 bits, 32 with alpha).
  bool SetImage(TImage* image) override;
  Ref<TBitmap> GetBitmap() override;
  bool HasText(const std::u16string& text, bool ignore_case) override;
  void GetChangeStamp(TByteString& stamp) override;
  void Clear() override;
  void Close() override;
  bool Open() override;

  int32_t OpenCount() const { return open_count_; }
  // The name that went with the last bitmap put.
  const std::u16string& BitmapName() const { return bitmap_name_; }

  // Puts a DIB (emptying the clipboard at the first write of an opening);
  // false when it cannot be opened or the DIB has no rows.
  bool PutDib(TFastDIB* dib);
  // Fills `dib` from the clipboard's CF_DIB block; false (dib untouched)
  // when there is none or its header does not fit its bytes.
  bool GetDib(TFastDIB* dib);

 protected:
  void Dispose() override;

 private:
  int32_t open_count_ = 0;
  win::HWND window_ = 0;
  bool emptied_ = false;
  std::u16string bitmap_name_;
};

// The header size a DIB block gives its bit count and compression: with a
// palette 40 + 4 x 2^bits, with bit fields (16 or 32 bits) 52, else 40.
int32_t DibHeaderSize(int32_t bit_count, uint32_t compression);

// Module initialisation: a new TClipboard becomes the global clipboard
// (freeing any before); finalisation frees it.
void InitWinClipboard();
void FinalizeWinClipboard();

}  // namespace kav
