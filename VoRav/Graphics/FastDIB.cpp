#include "VoRav/Graphics/FastDIB.h"

#include <sys/mman.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "VoRav/Graphics/vxRleDecode.h"

namespace kav {

namespace {

// The display depth a bit count of 0 stands for.
constexpr int32_t kScreenBitsPerPixel = 32;

// Pixel memory. Blocks from 2 MB on are aligned to and advised for huge
// pages, and a few freed ones are kept for the next picture of the same
// rounded size: a slideshow decodes photo after photo of one size, and fresh
// memory costs a page fault and the kernel's zeroing per page.
constexpr size_t kHugePage = size_t(2) << 20;
// One block of 64 MB at most: pictures let go of their decoded levels once
// their textures are filled, so the next photo's decode finds the last one's
// block; with four of up to 512 MB, a show of photos of many sizes kept a
// freed block of each size resident for good.
constexpr size_t kCachedBlocks = 1;
constexpr size_t kCachedBytes = size_t(64) << 20;

struct TBlockCache {
  std::mutex Lock;
  struct TBlock {
    uint8_t* P;
    size_t Bytes;
  };
  std::vector<TBlock> Blocks;
  size_t Total = 0;
};

TBlockCache& BlockCache() {
  static TBlockCache* cache = new TBlockCache;  // never destroyed: freeing may come after static destruction
  return *cache;
}

size_t Rounded(size_t bytes) { return bytes >= kHugePage ? (bytes + kHugePage - 1) & ~(kHugePage - 1) : bytes; }

// `bytes` of pixel memory, zeroed when asked; null when there is none.
uint8_t* AllocPixels(size_t bytes, bool zero) {
  const size_t size = Rounded(bytes);
  if (size < kHugePage) return static_cast<uint8_t*>(zero ? std::calloc(size ? size : 1, 1) : std::malloc(size ? size : 1));
  uint8_t* p = nullptr;
  {
    TBlockCache& c = BlockCache();
    std::lock_guard<std::mutex> g(c.Lock);
    auto it = std::find_if(c.Blocks.begin(), c.Blocks.end(), [&](const TBlockCache::TBlock& b) { return b.Bytes == size; });
    if (it != c.Blocks.end()) {
      p = it->P;
      c.Total -= it->Bytes;
      c.Blocks.erase(it);
    }
  }
  if (!p) {
    p = static_cast<uint8_t*>(std::aligned_alloc(kHugePage, size));
    if (!p) return nullptr;
    madvise(p, size, MADV_HUGEPAGE);  // advice only: failure changes nothing
  }
  if (zero) std::memset(p, 0, bytes);
  return p;
}

void FreePixels(uint8_t* p, size_t bytes) {
  const size_t size = Rounded(bytes);
  if (size >= kHugePage) {
    TBlockCache& c = BlockCache();
    std::lock_guard<std::mutex> g(c.Lock);
    if (c.Blocks.size() < kCachedBlocks && c.Total + size <= kCachedBytes) {
      c.Blocks.push_back({p, size});
      c.Total += size;
      return;
    }
  }
  std::free(p);
}

uint8_t MaskWidth(uint32_t mask) {
  if (mask == 0) return 0;
  return uint8_t(31 - std::countl_zero(mask) - std::countr_zero(mask) + 1);
}

void PutWord(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

}  // namespace

std::array<uint32_t, 3> MakeBitMasks(uint8_t red_width, uint8_t green_width, uint8_t blue_width) {
  auto ones = [](uint32_t n) -> uint32_t { return n >= 32 ? 0xFFFFFFFFu : (uint32_t(1) << n) - 1; };
  const uint32_t blue = ones(blue_width);
  const uint32_t green = ones(uint32_t(green_width) + blue_width) & ~blue;
  const uint32_t red = ones(uint32_t(red_width) + green_width + blue_width) & ~(blue | green);
  return {red, green, blue};
}

void TFastDIB::Allocate(uint8_t* pixels, int32_t width, uint8_t red_width, uint8_t green_width, uint8_t blue_width,
                        int32_t bit_count, int32_t height) {
  if (bit_count == 0) {
    bit_count = kScreenBitsPerPixel;
    red_width = green_width = blue_width = 8;
  }
  if (bit_count != 1 && bit_count != 4 && bit_count != 8 && bit_count != 16 && bit_count != 24 && bit_count != 32)
    throw EConvertError(FormatAnsi("Unsupported DIB bit count %d", bit_count));
  if (width < 1 || height == 0 || height == INT32_MIN) throw EConvertError("Invalid DIB size");
  const bool fields = red_width || green_width || blue_width;
  std::array<uint8_t, 3> widths{};  // blue, green, red
  if (bit_count == 16) widths = fields ? std::array<uint8_t, 3>{blue_width, green_width, red_width}
                                       : std::array<uint8_t, 3>{5, 5, 5};
  if (bit_count == 32) widths = fields ? std::array<uint8_t, 3>{blue_width, green_width, red_width}
                                       : std::array<uint8_t, 3>{8, 8, 8};
  const uint32_t compression = fields && (bit_count == 16 || bit_count == 32) ? 3 : 0;
  if (!pixels && pixels_ && width == header_.Width && height == header_.Height && bit_count == header_.BitCount &&
      widths == widths_ && compression == header_.Compression)
    return;

  const int32_t rows = std::abs(height);
  const int64_t stride = ((int64_t(width) * bit_count + 31) / 32) * 4;
  const TBitmapSizeLimits limits = BitmapSizeLimits();
  if (int64_t(width) * rows > limits.Pixels || stride * rows > limits.Bytes)
    throw EOutOfMemory(FormatAnsi("Bitmap size %d x %d exceeds the limit", width, rows));

  header_ = TBitmapInfoHeader{};
  header_.Width = width;
  header_.Height = height;
  header_.BitCount = uint16_t(bit_count);
  header_.Compression = compression;
  header_.SizeImage = uint32_t(stride * rows);
  widths_ = widths;
  for (int i = 0; i < 3; ++i) shifts_[size_t(i)] = widths[size_t(i)] < 8 ? uint8_t(8 - widths[size_t(i)]) : 0;
  if (bit_count == 16 || bit_count == 32) {
    const std::array<uint32_t, 3> masks = MakeBitMasks(widths[2], widths[1], widths[0]);
    std::copy(masks.begin(), masks.end(), colors_.begin());
  }
  stride_ = int32_t(stride);
  row_count_ = rows;
  padding_ = int32_t(stride - (int64_t(width) * bit_count + 7) / 8);

  memory_.reset();
  if (pixels) {
    pixels_ = pixels;
  } else {
    const size_t bytes = size_t(stride) * size_t(rows);
    uint8_t* p = AllocPixels(bytes, !fill_);
    if (!p) throw EOutOfMemory(FormatAnsi("No memory for a %d x %d bitmap", width, rows));
    memory_ = std::unique_ptr<uint8_t, TDibPixelsFree>(p, TDibPixelsFree{bytes});
    pixels_ = p;
    if (fill_ && padding_ > 0)
      for (int32_t i = 0; i < rows; ++i) std::memset(p + int64_t(i) * stride + (stride - padding_), 0, size_t(padding_));
  }
  rows_.resize(size_t(rows));
  for (int32_t i = 0; i < rows; ++i) rows_[size_t(i)] = pixels_ + int64_t(i) * stride;
  if (on_allocate_) on_allocate_(this);
}

void TDibPixelsFree::operator()(uint8_t* p) const { FreePixels(p, Bytes); }

void TFastDIB::SetSizeToFill(int32_t width, int32_t height, int32_t bit_count) {
  fill_ = true;
  struct TReset {
    bool& f;
    ~TReset() { f = false; }
  } reset{fill_};
  Allocate(nullptr, width, 0, 0, 0, bit_count, height);
}

void TFastDIB::AssignInfo(const TBitmapInfoHeader& header, std::span<const uint32_t> colors) {
  uint32_t masks[3] = {};
  for (size_t i = 0; i < 3 && i < colors.size(); ++i) masks[i] = colors[i];
  uint32_t compression = header.Compression;
  if (compression == 1 || compression == 2) compression = masks[0] || masks[1] || masks[2] ? 3 : 0;
  uint8_t r = 0, g = 0, b = 0;
  if (compression == 3 && (header.BitCount == 16 || header.BitCount == 32)) {
    r = MaskWidth(masks[0]);
    g = MaskWidth(masks[1]);
    b = MaskWidth(masks[2]);
  }
  if (header.BitCount <= 8) {
    colors_.fill(0);
    std::copy_n(colors.begin(), std::min<size_t>(colors.size(), colors_.size()), colors_.begin());
  }
  Allocate(nullptr, header.Width, r, g, b, header.BitCount, header.Height);
}

void TFastDIB::Assign(TFastDIB* other, bool copy_pixels) {
  KAV_ASSERT(other != nullptr);
  TBitmapInfoHeader h = other->header_;
  AssignInfo(h, other->colors_);
  if (copy_pixels && other->pixels_) std::memcpy(pixels_, other->pixels_, size_t(stride_) * size_t(row_count_));
}

void TFastDIB::OpaqueIfNoAlpha() {
  KAV_ASSERT(header_.BitCount == 32);
  const size_t n = size_t(stride_) * size_t(row_count_);
  for (size_t i = 3; i < n; i += 4)
    if (pixels_[i] != 0) return;
  for (size_t i = 3; i < n; i += 4) pixels_[i] = 255;
}

void TFastDIB::SaveToStream(TStream* stream) {
  size_t ct = 0;
  if (header_.ClrUsed) ct = 4 * size_t(header_.ClrUsed);
  else if (header_.Compression == 3) ct = 12;
  else if (header_.BitCount <= 8) ct = 4 * (size_t(1) << header_.BitCount);
  const TBitmapInfoHeader& h = header_;
  std::vector<uint8_t> head;
  head.reserve(54 + ct);
  head.push_back('B');
  head.push_back('M');
  PutWord(head, uint32_t(h.SizeImage + 54 + ct), 4);
  PutWord(head, 0, 4);
  PutWord(head, uint32_t(54 + ct), 4);
  for (uint32_t v : {h.Size, uint32_t(h.Width), uint32_t(h.Height)}) PutWord(head, v, 4);
  PutWord(head, h.Planes, 2);
  PutWord(head, h.BitCount, 2);
  for (uint32_t v : {h.Compression, h.SizeImage, uint32_t(h.XPelsPerMeter), uint32_t(h.YPelsPerMeter), h.ClrUsed,
                     h.ClrImportant})
    PutWord(head, v, 4);
  for (size_t i = 0; i < ct / 4 && i < colors_.size(); ++i) PutWord(head, colors_[i], 4);
  head.resize(54 + ct, 0);
  stream->WriteBytes(head);
  stream->WriteBytes(std::span<const uint8_t>(pixels_, size_t(h.SizeImage)));
}

void TFastDIB::SaveToFile(const std::u16string& name) {
  Ref<TStream> stream = WriteFile(name, true);
  if (!stream) throw EFileOpenError("Cannot create the file");
  SaveToStream(stream.get());
}

bool TFastDIB::DecodeRLE8(std::span<const uint8_t> data) {
  KAV_ASSERT(header_.BitCount == 8);
  return detail::ExpandRle(data, 8, header_.Width, row_count_, [&](int32_t x, int32_t y, uint8_t v) {
           rows_[size_t(y)][x] = v;
         }) != detail::TRleResult::kDataShort;
}

bool TFastDIB::DecodeRLE4(std::span<const uint8_t> data) {
  KAV_ASSERT(header_.BitCount == 4);
  return detail::ExpandRle(data, 4, header_.Width, row_count_, [&](int32_t x, int32_t y, uint8_t v) {
           uint8_t& b = rows_[size_t(y)][x / 2];
           b = x & 1 ? uint8_t((b & 0xF0) | v) : uint8_t((b & 0x0F) | (v << 4));
         }) != detail::TRleResult::kDataShort;
}

// --- formats ---

TPixelFormat* DibStandardFormat(int32_t bit_count) {
  const TStdPixelFormats& f = StdFormats();
  switch (bit_count) {
    case 8: return f.Y8;
    case 15: return f.X1R5G5B5;
    case 16: return f.R5G6B5;
    case 24: return f.R8G8B8;
    case 32: return f.A8R8G8B8;
  }
  KAV_ASSERT_FAIL("Assertion failure");
}

TPixelFormat* DibPixelFormat(const TFastDIB& dib) {
  if (dib.BitCount() == 16) return DibStandardFormat(dib.GreenWidth() == 6 ? 16 : 15);
  return DibStandardFormat(dib.BitCount());
}

// --- TDibBitmap ---

const TBitmapClass TDibBitmap::kClass{"TDibBitmap", &TSysBitmap::kClass};

namespace {

std::vector<uint8_t*> DibRowsTopFirst(TFastDIB* dib, TPixelFormat* format) {
  KAV_ASSERT(dib != nullptr && format != nullptr);
  KAV_ASSERT_MSG(format->BitsPerPixel() == dib->BitCount(), "Pixel Formats Not Compatible");
  std::vector<uint8_t*> rows(size_t(dib->RowCount()));
  for (int32_t i = 0; i < dib->RowCount(); ++i)
    rows[size_t(i)] = dib->Row(dib->TopDown() ? i : dib->RowCount() - 1 - i);
  return rows;
}

}  // namespace

TDibBitmap::TDibBitmap(TFastDIB* dib, TPixelFormat* format, bool owns)
    : TSysBitmap(TSize{dib ? dib->Width() : 0, dib ? dib->RowCount() : 0}, DibRowsTopFirst(dib, format), format),
      dib_(owns ? Ref<TFastDIB>::Adopt(dib) : Ref<TFastDIB>(dib)) {}

void TDibBitmap::Dispose() {
  dib_ = nullptr;
  TSysBitmap::Dispose();
}

Ref<TDibBitmap> NewDibBitmap(int32_t width, int32_t height, int32_t bit_count) {
  Ref<TFastDIB> dib = MakeRef<TFastDIB>();
  if (bit_count == 16) dib->Allocate(nullptr, width, 5, 6, 5, 16, height);
  else dib->SetSize(width, height, bit_count == 15 ? 16 : bit_count);
  TPixelFormat* format = DibPixelFormat(*dib);
  return MakeRef<TDibBitmap>(dib.get(), format, false);
}

Ref<TDibBitmap> NewDibBitmapOn(TFastDIB* dib, bool owns) {
  KAV_ASSERT(dib != nullptr);
  return MakeRef<TDibBitmap>(dib, DibPixelFormat(*dib), owns);
}

Ref<TBitmap> DibBitmapFactory(int32_t width, int32_t height, TPixelFormat* format, const TProgressHandler& handler,
                              TBitmap* source, const TBitmapClass* wanted) {
  const TStdPixelFormats& f = StdFormats();
  const int32_t bits = format == f.X1R5G5B5 ? 15 : format ? format->BitsPerPixel() : 0;
  const bool standard = bits == 8 || bits == 15 || bits == 16 || bits == 24 || bits == 32;
  if (wanted != &TDibBitmap::kClass || !standard || DibStandardFormat(bits) != format)
    return SysBitmapFactory(width, height, format, handler, source, wanted);
  Ref<TDibBitmap> b = NewDibBitmap(width, height, bits);
  b->SetOnProgress(handler);
  if (source) b->CopyFrom(source);
  return b;
}

}  // namespace kav
