#include "VoRav/Graphics/SysGfxLoader.h"

#include <zlib.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "VoRav/Graphics/vxBitmapLoader.h"
#include "VoRav/Graphics/vxImageRegistry.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

constexpr TColor32 kBrokenPayloadColor = 0xFF00FF00;

// Inflates raw deflate data; false when they are corrupt, end early, or
// would give more than `cap` bytes.
bool InflateRaw(const uint8_t* data, size_t size, int64_t cap, std::vector<uint8_t>& out) {
  z_stream zs{};
  if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return false;
  zs.next_in = const_cast<Bytef*>(data);
  int rc = Z_OK;
  uint8_t block[65536];
  // zlib counts in 32 bits: feed the input in pieces.
  size_t fed = 0;
  while (rc == Z_OK) {
    if (zs.avail_in == 0 && fed < size) {
      const size_t piece = std::min<size_t>(size - fed, 1u << 30);
      zs.next_in = const_cast<Bytef*>(data + fed);
      zs.avail_in = uInt(piece);
      fed += piece;
    }
    zs.next_out = block;
    zs.avail_out = sizeof(block);
    rc = inflate(&zs, Z_NO_FLUSH);
    const size_t got = sizeof(block) - zs.avail_out;
    if (int64_t(out.size() + got) > cap) {
      rc = Z_MEM_ERROR;
      break;
    }
    out.insert(out.end(), block, block + got);
    if (rc == Z_BUF_ERROR && zs.avail_in == 0 && fed == size) break;  // input ended early
    if (rc == Z_BUF_ERROR) rc = Z_OK;
  }
  inflateEnd(&zs);
  return rc == Z_STREAM_END;
}

// Reads a u16-counted string: false when fewer than 2 bytes remain for the
// count; text cut by the end of the stream reads as empty.
bool ReadGfxString(TStream* stream, std::string& text) {
  uint8_t n[2];
  if (stream->Read(n, 2) != 2) return false;
  const int64_t count = n[0] | (n[1] << 8);
  text.assign(size_t(count), '\0');
  if (count > 0 && stream->Read(std::span<uint8_t>(reinterpret_cast<uint8_t*>(text.data()), text.size()), count) !=
                       count)
    text.clear();
  return true;
}

Ref<TSysBitmap> Wrap(Ref<TDirectBitmap> direct) {
  return MakeRef<TSysDirectWrapper>(direct.release(), true);
}

}  // namespace

bool TGfxImage::GetFieldText(const std::string& name, std::u16string& text) const {
  auto it = fields_.find(name);
  if (it == fields_.end()) return false;
  text = it->second;
  return true;
}

bool TGfxImage::GetFieldInt(const std::string& name, int32_t& value) const {
  std::u16string text;
  if (!GetFieldText(name, text) || text.empty()) return false;
  size_t i = text[0] == u'-' ? 1 : 0;
  if (i == text.size()) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
    v = v * 10 + (text[i] - u'0');
    if (v > int64_t(INT32_MAX) + 1) return false;
  }
  if (text[0] == u'-') v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return false;
  value = int32_t(v);
  return true;
}

TSysBitmap* TGfxImage::GetBitmap() {
  if (bitmap_) return bitmap_.get();
  try {
    std::vector<uint8_t> bmp;
    // No BMP of Width x Height needs more: headers, palette, masks and 4
    // bytes a pixel (run-length data included) with row padding.
    const int64_t cap = 4096 + int64_t(Width) * Height * 4 + int64_t(Height) * 4;
    if (Payload && InflateRaw(Payload->Memory(), size_t(Payload->GetSize()), cap, bmp)) {
      auto stream = MakeRef<TMemoryStream>();
      stream->WriteBytes(bmp);
      bmp = {};
      stream->SetPosition(0);
      Ref<TDirectBitmap> direct = LoadBmp(stream.get());
      if (direct && direct->Width() == Width && direct->Height() == Height) bitmap_ = Wrap(std::move(direct));
    }
  } catch (const Exception&) {
  }
  if (!bitmap_) {
    auto green = MakeRef<TDirectBitmap>(Width, Height, StdFormats().A8R8G8B8);
    green->FillRect(TRect{0, 0, Width, Height}, kBrokenPayloadColor);
    bitmap_ = Wrap(std::move(green));
  }
  return bitmap_.get();
}

void TGfxImage::Dispose() {
  bitmap_ = nullptr;
  Payload = nullptr;
  fields_.clear();
  TRefObject::Dispose();
}

TGfxBitmapStore::TGfxBitmapStore(const std::u16string& name, const TImageParamsCallback& params_callback,
                                 TGfxImage* image)
    : TSysBitmapStore(name, params_callback, image->PixelFormat, TSize{image->Width, image->Height}),
      image_(image) {}

void TGfxBitmapStore::LoadMipLevel(int32_t level, TLevelBitmap& out) {
  if (level != 0) return;
  out.Bitmap = Ref<TBitmap>(image_->GetBitmap());
  out.Owned = false;
  out.Level = 0;
}

void TGfxBitmapStore::Dispose() {
  image_ = nullptr;
  TSysBitmapStore::Dispose();
}

bool GfxCheckSignature(TStream* stream) {
  uint8_t sig[4] = {};
  return stream->Read(sig, 4) == 4 && std::memcmp(sig, "VXGF", 4) == 0;
}

bool GfxContainerRead(TGfxImage* image, TStream* stream, const std::u16string& name, bool header_only) {
  const int64_t start = stream->GetPosition();
  try {
    if (!GfxCheckSignature(stream)) throw EStreamReadError();
    uint8_t n[2];
    if (stream->Read(n, 2) != 2) throw EStreamReadError();
    const int count = n[0] | (n[1] << 8);
    for (int i = 0; i < count; ++i) {
      std::string key, value;
      if (!ReadGfxString(stream, key) || !ReadGfxString(stream, value)) throw EStreamReadError();
      image->SetField(key, UTF8Decode(value));
    }
    int32_t original = 0;
    if (!image->GetFieldText("File", image->FileName) || !image->GetFieldInt("Width", image->Width) ||
        !image->GetFieldInt("Height", image->Height) || !image->GetFieldInt("OriginalSize", original) ||
        !BitmapSizeAllowed(image->Width, image->Height, 4))
      throw EStreamReadError();
    image->OriginalSize = original;
    if (!header_only) {
      const int64_t rest = stream->GetRemaining();
      if (rest < 0 || rest >= kMaxMemoryStreamSize) throw EStreamReadError();
      auto payload = MakeRef<TMemoryStream>();
      if (rest > 0 && payload->CopyFrom(stream, rest) != rest) throw EStreamReadError();
      payload->SetPosition(0);
      image->Payload = payload;
    }
    image->PixelFormat = StdFormats().A8R8G8B8;
    image->Name = name;
    return true;
  } catch (const Exception&) {
    stream->SetPosition(start);
    return false;
  }
}

Ref<TBitmapStore> LoadGfxImage(TStream* stream, const std::u16string& name, bool owns_stream,
                               const TImageParamsCallback& params_callback) {
  Ref<TStream> taken = owns_stream ? Ref<TStream>::Adopt(stream) : Ref<TStream>();
  const int64_t start = stream->GetPosition();
  const bool signed_ok = GfxCheckSignature(stream);
  stream->SetPosition(start);
  if (!signed_ok) return nullptr;
  auto image = MakeRef<TGfxImage>();
  if (!GfxContainerRead(image.get(), stream, name, false)) return nullptr;
  return MakeRef<TGfxBitmapStore>(name, params_callback, image.get());
}

void RegisterGfxLoader() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterImageLoader(&LoadGfxImage, {u".vxgfx", u".bmp", u".dib", u".png", u".gif|framesatlas"});
  });
}

int FuzzVxgf(const uint8_t* data, size_t size) {
  const TFuzzBitmapLimits limits;
  auto s = MakeRef<TMemoryStream>();
  if (size) s->Write(std::span<const uint8_t>(data, size), int64_t(size));
  s->SetPosition(0);
  Ref<TBitmapStore> store = LoadGfxImage(s.get(), u"f.vxgfx", false, {});
  // Only small pictures are made: the fuzzer's time goes to the parsing.
  if (store && int64_t(store->Width()) * store->Height() <= (1 << 22)) {
    Ref<TBitmap> b = store->GetMipLevel(0);
    KAV_ASSERT(b && b->Width() == store->Width() && b->Height() == store->Height());
  }
  return 0;
}

}  // namespace kav
