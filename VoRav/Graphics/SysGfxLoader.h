// The packed graphics container (".vxgfx"): the signature "VXGF", a list of
// named text fields and a BMP file compressed as raw deflate data.
//
// Layout (little-endian): "VXGF", u16 field count N, N pairs of strings
// (name, value), then the payload to the end of the stream. A string is a
// u16 byte count and that many bytes of UTF-8. The fields "File", "Width",
// "Height" and "OriginalSize" are required; others are kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "VoRav/Graphics/SysImage.h"
#include "VoRav/vxMemoryStream.h"

namespace kav {

class TGfxImage : public TRefObject {
 public:
  int32_t Width = 0;
  int32_t Height = 0;
  std::u16string FileName;   // the "File" field
  int32_t OriginalSize = 0;  // kept with the picture
  std::u16string Name;       // the name the container was opened under
  TPixelFormat* PixelFormat = nullptr;
  Ref<TMemoryStream> Payload;  // the compressed BMP file

  // Field lookup by exact name. The integer form answers false unless the
  // text is a decimal integer (an optional minus sign, then digits) that
  // fits 32 bits.
  bool GetFieldText(const std::string& name, std::u16string& text) const;
  bool GetFieldInt(const std::string& name, int32_t& value) const;
  // A field's value is its text alone (a TFieldValue needs no object of its own).
  void SetField(const std::string& name, std::u16string value) { fields_[name] = std::move(value); }

  // The decoded picture, made on the first call and kept: the payload
  // inflated (never to more bytes than a BMP of Width x Height can have)
  // and read as a BMP file, which must be Width x Height. When any of that
  // fails, an opaque green (0xFF00FF00) "A8R8G8B8" picture of Width x Height
  // instead; never raises for bad data. Not thread-safe: the store calls it
  // under its lock.
  TSysBitmap* GetBitmap();

 protected:
  void Dispose() override;

 private:
  std::unordered_map<std::string, std::u16string> fields_;
  Ref<TSysBitmap> bitmap_;
};

class TGfxBitmapStore : public TSysBitmapStore {
 public:
  // Takes a reference to the image.
  TGfxBitmapStore(const std::u16string& name, const TImageParamsCallback& params_callback, TGfxImage* image);
  TGfxImage* Image() const noexcept { return image_.get(); }

 protected:
  // Level 0 is the image's picture (kept by the image); other levels are
  // made by halving.
  void LoadMipLevel(int32_t level, TLevelBitmap& out) override;
  void Dispose() override;

 private:
  Ref<TGfxImage> image_;
};

// Reads four bytes and answers whether they are "VXGF".
bool GfxCheckSignature(TStream* stream);

// Fills the image from the container at the stream's position: the fields,
// the required ones (a missing or malformed one fails; the width and height
// must be at least 1 and within the bitmap limits) and, unless
// `header_only`, the payload. Answers false on any failure, the stream then
// set back to where it was.
bool GfxContainerRead(TGfxImage* image, TStream* stream, const std::u16string& name, bool header_only);

// The registered loader: a TGfxBitmapStore, or null (the stream set back)
// for anything that is not a complete container header. Stream ownership as
// for TImageLoaderProc (vxImageRegistry.h).
Ref<TBitmapStore> LoadGfxImage(TStream* stream, const std::u16string& name, bool owns_stream,
                               const TImageParamsCallback& params_callback);

// Registers LoadGfxImage for ".vxgfx", ".bmp", ".dib", ".png" and
// ".gif|framesatlas" (once; later calls do nothing). Start-up calls it
// before the BMP loader's registration, so containers are tried first.
void RegisterGfxLoader();

// Fuzz entry point: the bytes as a container, loaded and its picture made.
// Answers 0; a crash or an exception escaping is a bug.
int FuzzVxgf(const uint8_t* data, size_t size);

}  // namespace kav
