#include "VoRav/Composite/winClipbrd.h"

#include <cstring>
#include <exception>

#include "VoRav/Application2/winApplication.h"
#include "VoRav/Application2/vxApplication.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/vxCaseFolding.h"

namespace kav {

namespace {

// Caps on the clipboard's picture: sides and the block itself.
constexpr int64_t kMaxSide = 32768;
constexpr size_t kMaxBlock = size_t(1) << 30;

uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

win::HWND ApplicationWindow() {
  auto* app = dynamic_cast<TWinApplication*>(Application());
  return app ? app->GetHandle() : 0;
}

// The text of a CF_UNICODETEXT block, up to its zero unit or its end.
std::u16string BlockText(const std::vector<uint8_t>& block) {
  std::u16string text(block.size() / 2, u'\0');
  // An empty block has no storage to copy from (its data pointer may be nil).
  if (!text.empty()) std::memcpy(text.data(), block.data(), text.size() * 2);
  const size_t end = text.find(u'\0');
  if (end != std::u16string::npos) text.resize(end);
  return text;
}

}  // namespace

int32_t DibHeaderSize(int32_t bit_count, uint32_t compression) {
  if (bit_count <= 8) return 40 + 4 * (1 << bit_count);
  if ((bit_count == 16 || bit_count == 32) && compression == 3) return 52;
  return 40;
}

bool TClipboard::Open() {
  if (open_count_ == 0) {
    const win::HWND window = ApplicationWindow();
    if (!win::OpenClipboard(window)) return false;
    window_ = window;
    emptied_ = false;
  }
  ++open_count_;
  return true;
}

void TClipboard::Close() {
  if (open_count_ == 0) return;
  if (--open_count_ == 0) {
    win::CloseClipboard();
    window_ = 0;
  }
}

void TClipboard::Clear() {
  if (!Open()) return;
  win::EmptyClipboard();
  Close();
}

void TClipboard::GetText(std::u16string& text) {
  text.clear();
  if (!Open()) return;
  std::vector<uint8_t> block;
  // A block without its zero unit ends at its own end, never past it.
  if (win::GetClipboardData(win::CF_UNICODETEXT, block)) text = BlockText(block);
  Close();
}

bool TClipboard::SetText(const std::u16string& text) {
  if (!Open()) return false;
  std::vector<uint8_t> block((text.size() + 1) * 2, 0);
  std::memcpy(block.data(), text.data(), text.size() * 2);
  Clear();
  const bool put = win::SetClipboardData(win::CF_UNICODETEXT, std::move(block));
  Close();
  return put;
}

bool TClipboard::SetBitmap(TBitmap* bitmap, const std::u16string& name) {
  if (auto* dib = dynamic_cast<TDibBitmap*>(bitmap)) {
    if (dib->Width() < 1 || dib->Height() < 1) return false;
    if (!PutDib(dib->Dib())) return false;
    bitmap_name_ = name;
    return true;
  }
  return TClipbrd::SetBitmap(bitmap, name);
}

bool TClipboard::SetImage(TImage* image) {
  if (!image) return false;
  Ref<TBitmap> source = image->GetBitmap();
  if (!source || source->Width() < 1 || source->Height() < 1) return false;
  Ref<TDibBitmap> dib;
  if (auto* d = dynamic_cast<TDibBitmap*>(source.get())) {
    dib = Ref<TDibBitmap>(d);
  } else {
    const bool alpha = source->PixelFormat() && source->PixelFormat()->HasAlpha();
    if (!BitmapSizeAllowed(source->Width(), source->Height(), alpha ? 4 : 3)) return false;
    dib = NewDibBitmap(source->Width(), source->Height(), alpha ? 32 : 24);
    dib->CopyFrom(source.get());
  }
  if (!PutDib(dib->Dib())) return false;
  bitmap_name_ = image->Params().Name;
  return true;
}

bool TClipboard::PutDib(TFastDIB* dib) {
  if (!dib || dib->RowCount() < 1 || !Open()) return false;
  if (!emptied_) {
    Clear();
    emptied_ = true;
  }
  const TBitmapInfoHeader& h = dib->Header();
  const size_t header = size_t(DibHeaderSize(h.BitCount, h.Compression));
  const size_t image = size_t(dib->Stride()) * size_t(dib->RowCount());
  std::vector<uint8_t> block(header + image, 0);
  uint8_t* p = block.data();
  Put32(p, 40);
  Put32(p + 4, uint32_t(h.Width));
  Put32(p + 8, uint32_t(h.Height));
  p[12] = 1;
  p[14] = uint8_t(h.BitCount);
  Put32(p + 16, h.Compression);
  Put32(p + 20, uint32_t(image));
  Put32(p + 24, uint32_t(h.XPelsPerMeter));
  Put32(p + 28, uint32_t(h.YPelsPerMeter));
  // The whole palette is written, so the header says "all colours" (0):
  // a reader then finds the rows where they are.
  if (h.BitCount <= 8) {
    for (size_t i = 0; i < (size_t(1) << h.BitCount); ++i) Put32(p + 40 + 4 * i, dib->Colors()[i]);
  } else if (header == 52) {
    for (size_t i = 0; i < 3; ++i) Put32(p + 40 + 4 * i, dib->Colors()[i]);
  }
  for (int32_t row = 0; row < dib->RowCount(); ++row)
    std::memcpy(p + header + size_t(row) * size_t(dib->Stride()), dib->Row(row), size_t(dib->Stride()));
  const bool put = win::SetClipboardData(win::CF_DIB, std::move(block));
  Close();
  return put;
}

bool TClipboard::GetDib(TFastDIB* dib) {
  if (!dib || !Open()) return false;
  std::vector<uint8_t> block;
  const bool got = win::GetClipboardData(win::CF_DIB, block);
  Close();
  // Every header field is checked against the bytes present before
  // anything is allocated or copied: the block comes from another program.
  if (!got || block.size() < 40 || block.size() > kMaxBlock) return false;
  const uint8_t* p = block.data();
  TBitmapInfoHeader h;
  h.Size = Le32(p);
  h.Width = int32_t(Le32(p + 4));
  h.Height = int32_t(Le32(p + 8));
  h.Planes = Le16(p + 12);
  h.BitCount = Le16(p + 14);
  h.Compression = Le32(p + 16);
  h.SizeImage = Le32(p + 20);
  h.ClrUsed = Le32(p + 32);
  const int32_t bits = h.BitCount;
  if (h.Size < 40 || h.Size > block.size()) return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  if (h.Width < 1 || h.Height == 0 || h.Height == INT32_MIN) return false;
  const int64_t rows = h.Height < 0 ? -int64_t(h.Height) : h.Height;
  if (h.Width > kMaxSide || rows > kMaxSide || !BitmapSizeAllowed(h.Width, rows, (bits + 7) / 8)) return false;
  const bool rle = (h.Compression == 1 && bits == 8) || (h.Compression == 2 && bits == 4);
  const bool fields = h.Compression == 3 && (bits == 16 || bits == 32);
  if (h.Compression != 0 && !rle && !fields) return false;
  // Where the colours or masks start: after the header the block names
  // (a larger header holds the masks inside it).
  size_t at = h.Size;
  std::vector<uint32_t> colors;
  if (fields) {
    const size_t masks = h.Size >= 52 ? 40 : h.Size;
    if (masks + 12 > block.size()) return false;
    for (size_t i = 0; i < 3; ++i) colors.push_back(Le32(p + masks + 4 * i));
    if (h.Size < 52) at += 12;
    // Only the standard layouts (blue lowest, then green, then red) fit a DIB.
    auto width = [](uint32_t m) { int n = 0; for (; m; m >>= 1) n += int(m & 1); return uint8_t(n); };
    if (MakeBitMasks(width(colors[0]), width(colors[1]), width(colors[2])) !=
        std::array<uint32_t, 3>{colors[0], colors[1], colors[2]})
      return false;
  } else if (bits <= 8) {
    // The colours the header counts (all for 0), not always the full table.
    const uint32_t full = 1u << bits;
    if (h.ClrUsed > full) return false;
    const uint32_t n = h.ClrUsed ? h.ClrUsed : full;
    if (at + 4 * size_t(n) > block.size()) return false;
    for (uint32_t i = 0; i < n; ++i) colors.push_back(Le32(p + at + 4 * size_t(i)));
    at += 4 * size_t(n);
  } else if (h.ClrUsed) {
    if (h.ClrUsed > 256 || at + 4 * size_t(h.ClrUsed) > block.size()) return false;
    at += 4 * size_t(h.ClrUsed);  // an optimisation palette: skipped
  }
  const size_t present = block.size() - at;
  const int64_t stride = (int64_t(h.Width) * bits + 31) / 32 * 4;
  const int64_t needed = stride * rows;
  if (!rle && int64_t(present) < needed) return false;
  try {
    Ref<TFastDIB> target = MakeRef<TFastDIB>();
    target->AssignInfo(h, colors);
    if (rle) {
      const size_t size = h.SizeImage && h.SizeImage < present ? h.SizeImage : present;
      const std::span<const uint8_t> data(p + at, size);
      if (!(bits == 8 ? target->DecodeRLE8(data) : target->DecodeRLE4(data))) return false;
    } else {
      for (int32_t row = 0; row < target->RowCount(); ++row)
        std::memcpy(target->Row(row), p + at + size_t(row) * size_t(stride), size_t(stride));
    }
    dib->Assign(target.get(), true);
  } catch (const std::exception&) {
    return false;  // past the bitmap limits or out of memory: no picture
  }
  return true;
}

Ref<TBitmap> TClipboard::GetBitmap() {
  Ref<TFastDIB> dib = MakeRef<TFastDIB>();
  if (!GetDib(dib.get()) || dib->Width() <= 0 || dib->RowCount() <= 0) return nullptr;
  if (dib->BitCount() >= 8) return NewDibBitmapOn(dib.get(), false);
  // 1 and 4 bits have no bitmap format: their colours go into 24 bits.
  Ref<TDibBitmap> wide = NewDibBitmap(dib->Width(), dib->Header().Height, 24);
  const int32_t bits = dib->BitCount();
  for (int32_t row = 0; row < dib->RowCount(); ++row) {
    const uint8_t* in = dib->Row(row);
    uint8_t* out = wide->Dib()->Row(row);
    for (int32_t x = 0; x < dib->Width(); ++x) {
      const int32_t bit = x * bits;
      const uint32_t index = (in[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
      const uint32_t c = dib->Colors()[index];
      out[3 * x] = uint8_t(c), out[3 * x + 1] = uint8_t(c >> 8), out[3 * x + 2] = uint8_t(c >> 16);
    }
  }
  return wide;
}

bool TClipboard::HasText(const std::u16string& text, bool ignore_case) {
  if (!Open()) return false;
  bool result = false;
  std::vector<uint8_t> block;
  if (win::GetClipboardData(win::CF_UNICODETEXT, block)) {
    const std::u16string have = BlockText(block);
    if (!ignore_case)
      result = have.compare(0, text.size(), text) == 0 && have.size() >= text.size();
    else
      result = have.size() >= text.size() && CaseFoldEquals(std::u16string_view(have).substr(0, text.size()), text);
  }
  Close();
  return result;
}

void TClipboard::GetChangeStamp(TByteString& stamp) {
  const std::string digits = std::to_string(win::GetClipboardSequenceNumber());
  stamp.assign(digits.begin(), digits.end());
}

void TClipboard::Dispose() {
  while (open_count_ > 0) Close();
  TClipbrd::Dispose();
}

void InitWinClipboard() {
  Ref<TClipboard> c = MakeRef<TClipboard>();
  SetClipboard(c.get());
}

void FinalizeWinClipboard() { SetClipboard(nullptr); }

}  // namespace kav
