#include "platform/png/vxPngLib.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <new>
#include <vector>

#include "VoRav/Graphics/vxBitmap.h"  // the size limits only

namespace kav {

namespace {

// The largest file read into memory: a picture at the bitmap limits fits
// with room for its chunks.
constexpr int64_t kMaxFileBytes = 2 * kMaxBitmapBytes;
// The largest buffer libpng may take for a decompressed text or profile
// chunk, besides one as long as the whole file.
constexpr int64_t kMaxChunkBytes = 16 << 20;
// Most ancillary chunks (texts, unknown chunks, sPLT) libpng keeps.
constexpr png_uint_32 kMaxCachedChunks = 1000;

struct TPngPicture {
  std::vector<uint8_t> file;
  size_t read_at = 0;
  char warning[sizeof(TImageLibInfo::Warning)] = {};
  std::vector<uint8_t> pixels;
  std::vector<uint8_t*> rows;
};

void ReadFromMemory(png_structp png, png_bytep out, size_t length) {
  auto* pic = static_cast<TPngPicture*>(png_get_io_ptr(png));
  if (pic->file.size() - pic->read_at < length) png_error(png, "Read past the end of the file");
  std::memcpy(out, pic->file.data() + pic->read_at, length);
  pic->read_at += length;
}

[[noreturn]] void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
// The first warning is kept (a CRC error of an ancillary chunk, data past
// the picture's end: libpng goes on).
void OnWarning(png_structp png, png_const_charp message) {
  auto* pic = static_cast<TPngPicture*>(png_get_error_ptr(png));
  if (pic && pic->warning[0] == 0 && message) std::snprintf(pic->warning, sizeof pic->warning, "%s", message);
}

// Whether every chunk before the image data fits in the file. libpng takes
// a buffer of a chunk's declared length before reading its data, so a
// damaged length would size a buffer the file cannot fill (the read then
// fails anyway). The image data is read piece by piece, and what follows it
// is never read.
bool ChunksBeforeImageDataFit(const std::vector<uint8_t>& file) {
  for (size_t at = 8; file.size() - at >= 8;) {
    const uint8_t* p = file.data() + at;
    const uint32_t length = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
    if (std::memcmp(p + 4, "IDAT", 4) == 0) return true;
    if (length > file.size() - at - 8 || file.size() - at - 8 - length < 4) return false;
    at += 12 + size_t(length);
  }
  return true;
}

// Decodes pic->file into pic->pixels. Nothing with a destructor lives in
// this frame: libpng leaves it by longjmp on errors.
bool Decode(TPngPicture* pic, TImageLibInfo* info) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, pic, &OnError, &OnWarning);
  if (!png) return false;
  png_infop pinfo = png_create_info_struct(png);
  if (!pinfo) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &pinfo, nullptr);
    return false;
  }
  png_set_read_fn(png, pic, &ReadFromMemory);
  png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_set_chunk_malloc_max(png, png_alloc_size_t(std::max<int64_t>(int64_t(pic->file.size()), kMaxChunkBytes)));
  png_set_chunk_cache_max(png, kMaxCachedChunks);
  png_read_info(png, pinfo);

  const png_uint_32 width = png_get_image_width(png, pinfo);
  const png_uint_32 height = png_get_image_height(png, pinfo);
  const int color_type = png_get_color_type(png, pinfo);
  const int bit_depth = png_get_bit_depth(png, pinfo);
  const bool has_trns = png_get_valid(png, pinfo, PNG_INFO_tRNS) != 0;
  const bool alpha = (color_type & PNG_COLOR_MASK_ALPHA) != 0 || has_trns;
  const int bpp = alpha ? 4 : 3;
  const int64_t pixels = int64_t(width) * int64_t(height);
  const TBitmapSizeLimits limits = BitmapSizeLimits();
  if (width < 1 || height < 1 || pixels > limits.Pixels || pixels * bpp > limits.Bytes)
    png_error(png, "Picture too large");
  // Deflate shrinks data at most 1032 times: a picture whose rows could not
  // come out of the file's bytes is refused before its memory is taken.
  const int64_t row_bytes = (int64_t(width) * png_get_channels(png, pinfo) * bit_depth + 7) / 8 + 1;
  if (row_bytes * int64_t(height) > int64_t(pic->file.size()) * 1032 + 65536) png_error(png, "Picture data missing");

  if (bit_depth == 16) png_set_strip_16(png);
  if (color_type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (color_type == PNG_COLOR_TYPE_GRAY && bit_depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (has_trns) png_set_tRNS_to_alpha(png);
  if ((color_type & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, pinfo);
  if (png_get_rowbytes(png, pinfo) != size_t(width) * size_t(bpp)) png_error(png, "Unexpected row size");

  try {
    pic->pixels.resize(size_t(width) * size_t(height) * size_t(bpp));
    pic->rows.resize(height);
  } catch (const std::bad_alloc&) {
    png_destroy_read_struct(&png, &pinfo, nullptr);
    return false;
  }
  for (png_uint_32 y = 0; y < height; ++y) pic->rows[y] = pic->pixels.data() + size_t(y) * width * size_t(bpp);
  png_read_image(png, pic->rows.data());
  png_destroy_read_struct(&png, &pinfo, nullptr);
  info->Width = int32_t(width);
  info->Height = int32_t(height);
  info->BitsPerPixel = bpp * 8;
  return true;
}

bool DecodeFile(TImageLibInfo& info, TPngPicture* pic) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  bool ok = false;
  if (pic->file.size() >= 8 && std::memcmp(pic->file.data(), kSignature, 8) == 0 &&
      ChunksBeforeImageDataFit(pic->file)) {
    ok = Decode(pic, &info);
  }
  if (!ok) {
    delete pic;
    info = TImageLibInfo{};
    return false;
  }
  pic->file = std::vector<uint8_t>();  // the pixels are all that is needed now
  std::memcpy(info.Warning, pic->warning, sizeof info.Warning);
  info.Context = pic;
  info.Rows = nullptr;
  return true;
}

bool OpenImage(TImageLibInfo& info, const TImageLibStreamCallbacks& stream) {
  info = TImageLibInfo{};
  if (!stream.Read || !stream.GetSize) return false;
  uint8_t head[8];
  if (stream.Read(stream.Stream, head, 8, 0) != 8 || head[0] != 0x89 || head[1] != 'P') return false;
  // A stream of unknown size is read to its end.
  const int64_t size = stream.GetSize(stream.Stream);
  if ((size >= 0 && size < 8) || size > kMaxFileBytes) return false;
  const int64_t limit = size >= 0 ? size : kMaxFileBytes + 1;
  auto* pic = new (std::nothrow) TPngPicture;
  if (!pic) return false;
  try {
    if (size >= 0) pic->file.reserve(size_t(size));
    for (int64_t at = 0; at < limit;) {
      const int32_t piece = int32_t(std::min<int64_t>(limit - at, 1 << 20));
      pic->file.resize(size_t(at + piece));
      const int32_t got = stream.Read(stream.Stream, pic->file.data() + at, piece, at);
      at += got > 0 ? got : 0;
      pic->file.resize(size_t(at));
      if (got < piece) break;
    }
  } catch (const std::bad_alloc&) {
    delete pic;
    return false;
  }
  if (int64_t(pic->file.size()) > kMaxFileBytes) {
    delete pic;
    return false;
  }
  return DecodeFile(info, pic);
}

bool OpenImageFile(TImageLibInfo& info, const char* file_name) {
  info = TImageLibInfo{};
  FILE* f = file_name ? std::fopen(file_name, "rb") : nullptr;
  if (!f) return false;
  auto* pic = new (std::nothrow) TPngPicture;
  uint8_t buffer[65536];
  bool ok = pic != nullptr;
  try {
    for (size_t n; ok && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) {
      pic->file.insert(pic->file.end(), buffer, buffer + n);
      ok = int64_t(pic->file.size()) <= kMaxFileBytes;
    }
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  std::fclose(f);
  if (!ok) {
    delete pic;
    return false;
  }
  return DecodeFile(info, pic);
}

bool ReadImage(TImageLibInfo& info) {
  auto* pic = static_cast<TPngPicture*>(info.Context);
  if (!pic) return false;
  info.Rows = pic->rows.data();
  return true;
}

void CloseImage(TImageLibInfo& info) {
  delete static_cast<TPngPicture*>(info.Context);
  info = TImageLibInfo{};
}

}  // namespace

const TImageLibEntries& PngImageLibEntries() {
  static const TImageLibEntries entries{&OpenImage, &OpenImageFile, &ReadImage, &CloseImage};
  return entries;
}

}  // namespace kav
