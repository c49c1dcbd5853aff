// The image-loader registry: file extensions mapped to loader functions.
//
// Loading a picture means letting the registry try the loaders that claim
// the name's extension, in registration order (there is no other priority).
// Start-up registers, in this order: the packed graphics container, the BMP
// loader (RegisterBmpLoader), the JPEG loader, the GIF loaders, then the PNG
// library (RegisterPngImageLib). The registry is filled before other threads
// run and only read afterwards.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "VoRav/Graphics/vxImage.h"
#include "VoRav/vxStream.h"

namespace kav {

// A loader answers a new store or null. With `owns_stream` the call takes
// over one reference of the caller's to the stream, success or not (a store
// that reads later keeps its own). A loader that answers null leaves the
// stream at the position where it found it.
using TImageLoaderProc = Ref<TBitmapStore> (*)(TStream* stream, const std::u16string& name, bool owns_stream,
                                              const TImageParamsCallback& params_callback);

// Leading characters below 33 are skipped, then one "*", and a "." is put in
// front when the rest does not begin with one ("*.jpg", "jpg" and ".jpg"
// all give ".jpg").
std::u16string NormalizeExtensionMask(std::u16string_view mask);
// Appends a loader with its extensions (each normalised).
void RegisterImageLoader(TImageLoaderProc loader, const std::vector<std::u16string>& extensions);
// Takes every registration of the loader out again (for tests that add their
// own loaders and must leave the registry as they found it).
void UnregisterImageLoader(TImageLoaderProc loader);
// The extensions the loader at `index` was registered with; whether one of
// them equals `extension`, ignoring case.
bool LoaderAcceptsExtension(int32_t index, std::u16string_view extension);
int32_t ImageLoaderCount();

// The extension from the name's last dot (empty without one), as loaders
// and the registry see it.
std::u16string ImageNameExtension(std::u16string_view name);

// The extension a picture is offered to the loaders under: the name's when
// the data's first bytes (at the stream's position, which is kept) are of
// no kind the loaders know (JPEG, PNG, GIF, BMP, the packed graphics
// container) or of the kind the name says, else the first extension of the
// kind they are (".jpg", ".png", ".gif", ".bmp", ".vxgfx"). A name without
// extension keeps none.
std::u16string PictureDataExtension(TStream* stream, std::u16string_view name);

// The first loader's store, or null. The loaders asked are those of
// PictureDataExtension (a PNG named ".jpg" goes to the PNG loaders); an empty
// extension offers the stream to every loader. A loader that raises counts
// as one that declines (the next starts at the same position); only EAbort
// passes through. Stream ownership as for TImageLoaderProc.
Ref<TBitmapStore> LoadBitmapStore(TStream* stream, const std::u16string& name, bool owns_stream,
                                  const TImageParamsCallback& params_callback);
// For the show's author, when a JPEG has no end marker near its end or a
// PNG no end chunk (a file cut short): kPictureCutShort or kPngCutShort
// (VoRav/vxShowProblems.h); else empty. The position is kept.
std::u16string PictureCutShortReason(TStream* stream);
// The picture formats the loaders read, as said to a show's author.
inline constexpr char16_t kReadPictureFormats[] = u"JPEG, PNG, GIF and BMP pictures";
// Why no loader took the stream's data, for the show's author: a JPEG or
// PNG by its signature is cut short or damaged (its data does not decode),
// a HEIC, AVIF, WebP or TIFF picture is named with the formats that are
// read, anything else is no picture. The position is kept.
std::u16string UndecodablePictureReason(TStream* stream);
// "a damaged JPEG picture: its data does not decode ..." for `kind`
// ("JPEG", "PNG").
std::u16string DamagedPictureReason(std::u16string_view kind);
// LoadBitmapStore without a parameters callback, the store wrapped in an image.
Ref<TImage> LoadImage(TStream* stream, const std::u16string& name, bool owns_stream);
inline Ref<TImage> LoadImageFromStream(TStream* stream, const std::u16string& name) {
  return LoadImage(stream, name, false);
}
// Opens the file through the file-open hook (vxStream.h) and loads it; null
// when it cannot be opened or a loader raises.
Ref<TImage> LoadImageFromFile(const std::u16string& name);

}  // namespace kav
