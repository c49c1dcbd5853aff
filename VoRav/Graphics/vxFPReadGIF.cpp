#include "VoRav/Graphics/vxFPReadGIF.h"

#include <array>
#include <cstring>

#include "VoRav/Graphics/vxGifLzw.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

constexpr uint8_t kImageSeparator = 0x2C;  // ','
constexpr uint8_t kExtensionIntroducer = 0x21;  // '!'

uint16_t Word(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

void ReadExact(TStream* stream, uint8_t* dst, int64_t n) {
  if (stream->Read(std::span<uint8_t>(dst, size_t(n)), n) != n) throw EStreamReadError();
}

// Reads one data sub-block into `block`; answers its length, 0 for the
// terminator, -1 when the stream ends.
int ReadSubBlock(TStream* stream, std::array<uint8_t, 255>& block) {
  uint8_t n = 0;
  if (stream->Read(std::span<uint8_t>(&n, 1), 1) != 1) return -1;
  if (n == 0) return 0;
  return stream->Read(block, n) == n ? n : -1;
}

// The most indices `bytes` bytes of LZW data can yield: the k-th code's
// string is at most k long and at most 4096, and codes are at least 2 bits.
int64_t MaxLzwOutput(int64_t bytes) {
  const int64_t codes = bytes * 4;
  return codes < 4096 ? codes * (codes + 1) / 2 : codes * 4096;
}

}  // namespace

int32_t TFPPalette::Add(TColor32 color) {
  SetCount(count_ + 1);
  colors_[size_t(count_ - 1)] = color;
  return count_ - 1;
}

void TFPPalette::SetCount(int32_t count) {
  if (count < 0) count = 0;
  if (size_t(count) > colors_.size()) colors_.resize(std::max<size_t>(size_t(count), std::max<size_t>(16, colors_.size() * 2)), 0);
  for (int32_t i = count_; i < count; ++i) colors_[size_t(i)] = 0;
  count_ = count;
}

void TFPCustomImageReader::Progress(float fraction) {
  if (OnProgress && !OnProgress(fraction)) throw EAbort("Image reading stopped");
}

bool TFPReaderGif::InternalCheck(TStream* stream) {
  const int64_t start = stream->GetPosition();
  uint8_t sig[6] = {};
  const int64_t got = stream->Read(sig, 6);
  stream->SetPosition(start);
  return got == 6 && std::memcmp(sig, "GIF", 3) == 0 &&
         (std::memcmp(sig + 3, "87a", 3) == 0 || std::memcmp(sig + 3, "89a", 3) == 0);
}

void TFPReaderGif::ReadHeader(TStream* stream) {
  stream->SetPosition(0);
  uint8_t h[13];
  ReadExact(stream, h, 13);
  if (std::memcmp(h, "GIF", 3) != 0 || (std::memcmp(h + 3, "87a", 3) != 0 && std::memcmp(h + 3, "89a", 3) != 0))
    KAV_ASSERT_FAIL("Unknown/Unsupported GIF image type");
  screen_width_ = Word(h + 6);
  screen_height_ = Word(h + 8);
  screen_packed_ = h[10];
  background_index_ = h[11];
  global_palette_->Clear();
  if (screen_packed_ & 0x80) ReadPalette(stream, screen_packed_, global_palette_.get());
}

void TFPReaderGif::ReadPalette(TStream* stream, uint8_t packed, TFPPalette* palette) {
  const int count = 1 << ((packed & 7) + 1);
  std::array<uint8_t, 768> rgb;
  ReadExact(stream, rgb.data(), count * 3);
  palette->Clear();
  for (int i = 0; i < count; ++i)
    palette->Add(ColorRGBA(rgb[size_t(i * 3)], rgb[size_t(i * 3 + 1)], rgb[size_t(i * 3 + 2)], 255));
  palette->SetCount(256);
}

uint8_t TFPReaderGif::ReadExtensionBlock(TStream* stream) {
  std::array<uint8_t, 255> block;
  for (;;) {
    uint8_t b = 0;
    if (stream->Read(std::span<uint8_t>(&b, 1), 1) != 1) return 0;
    if (b == 0) continue;
    if (b != kExtensionIntroducer) return b;
    uint8_t label = 0;
    if (stream->Read(std::span<uint8_t>(&label, 1), 1) != 1) return 0;
    if (label == 0xF9) {
      const int n = ReadSubBlock(stream, block);
      if (n < 0) return 0;
      if (n >= 4) {
        control_pending_ = true;
        control_packed_ = block[0];
        control_delay_ = Word(&block[1]);
        control_transparent_ = block[3];
      }
      if (n > 0 && !SkipGifSubBlocks(stream)) return 0;
    } else if (label == 0xFF) {
      ReadApplicationExtension(stream);
    } else if (!SkipGifSubBlocks(stream)) {
      return 0;  // plain text, comment and unknown extensions are skipped
    }
  }
}

void TFPReaderGif::ReadApplicationExtension(TStream* stream) {
  std::array<uint8_t, 255> block;
  int n = ReadSubBlock(stream, block);
  if (n <= 0) return;
  if (n == 11 && std::memcmp(block.data(), "NETSCAPE2.0", 11) == 0) {
    netscape_ = true;
    n = ReadSubBlock(stream, block);
    if (n <= 0) return;
    if (n == 3 && block[0] == 1) {
      loop_count_ = Word(&block[1]);
      if (loop_count_ == 65535) loop_count_ = 0;
    }
  }
  SkipGifSubBlocks(stream);
}

void TFPReaderGif::ReadImage(TStream* stream) {
  uint8_t d[9];
  ReadExact(stream, d, 9);
  descriptor_ = TGifImageDescriptor{Word(d), Word(d + 2), Word(d + 4), Word(d + 6), d[8]};
  TFPPalette* palette = global_palette_.get();
  if (descriptor_.Packed & 0x80) {
    ReadPalette(stream, descriptor_.Packed, local_palette_.get());
    palette = local_palette_.get();
  }
  // A graphic control extension describes the one image that follows it.
  transparent_ = control_pending_ && (control_packed_ & 1);
  transparent_index_ = control_pending_ ? control_transparent_ : 0;
  disposal_ = control_pending_ ? uint8_t((control_packed_ >> 2) & 7) : 0;
  delay_ = control_pending_ ? control_delay_ : 0;
  control_pending_ = false;

  bitmap_ = nullptr;
  const int64_t w = descriptor_.Width, h = descriptor_.Height;
  if (w == 0 || h == 0) {
    stream->ReadByte();  // code size
    SkipGifSubBlocks(stream);
    return;
  }
  CheckBitmapSize(w, h, 4);
  const int64_t remaining = stream->GetRemaining();
  if (remaining >= 0 && MaxLzwOutput(remaining) < w * h)
    throw EStreamReadError(FormatAnsi("GIF image of %lld x %lld is larger than its data", (long long)w, (long long)h));

  bitmap_ = MakeRef<TDirectBitmap>(int32_t(w), int32_t(h), StdFormats().A8R8G8B8);
  std::vector<uint8_t> indices(size_t(w * h), 0);
  DecodeGifLzw(stream, indices);
  WriteRows(indices, *palette);
  Progress(1.0f);
}

void TFPReaderGif::WriteRows(const std::vector<uint8_t>& indices, const TFPPalette& palette) {
  std::array<TColor32, 256> colors;
  for (int i = 0; i < 256; ++i) colors[size_t(i)] = palette.Color(i);
  if (transparent_) colors[transparent_index_] = ColorSetAlpha(colors[transparent_index_], 0);
  const int32_t w = bitmap_->Width(), h = bitmap_->Height();
  auto write = [&](int32_t src_row, int32_t y) {
    auto* dst = reinterpret_cast<uint8_t*>(bitmap_->Row(y));
    const uint8_t* src = indices.data() + size_t(src_row) * size_t(w);
    for (int32_t x = 0; x < w; ++x) {
      const TColor32 c = colors[src[x]];
      std::memcpy(dst + size_t(x) * 4, &c, 4);
    }
  };
  if (descriptor_.Packed & 0x40) {
    static constexpr int kStart[4] = {0, 4, 2, 1};
    static constexpr int kStep[4] = {8, 8, 4, 2};
    int32_t row = 0;
    for (int pass = 0; pass < 4; ++pass)
      for (int32_t y = kStart[pass]; y < h; y += kStep[pass]) write(row++, y);
  } else {
    for (int32_t y = 0; y < h; ++y) write(y, y);
  }
}

Ref<TDirectBitmap> TFPReaderGif::InternalRead(TStream* stream) {
  animated_ = false;
  bitmap_ = nullptr;
  ReadHeader(stream);
  const uint8_t b = ReadExtensionBlock(stream);
  if (b != kImageSeparator) throw EStreamReadError("GIF without image");
  ReadImage(stream);
  second_image_position_ = -1;
  // Look ahead for a second image; a damaged tail only means there is none.
  try {
    const int64_t after_first = stream->GetPosition();
    if (ReadExtensionBlock(stream) == kImageSeparator) {
      animated_ = true;
      second_image_position_ = after_first;
      stream->SetPosition(stream->GetPosition() - 1);
    }
  } catch (const Exception&) {
  }
  return bitmap_;
}

bool TFPReaderGif::ReadNextFrame(TStream* stream) {
  if (ReadExtensionBlock(stream) != kImageSeparator) return false;
  ReadImage(stream);
  return true;
}

}  // namespace kav
