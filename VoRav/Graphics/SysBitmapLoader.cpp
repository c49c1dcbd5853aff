// The BMP reader's entry in the image-loader registry.
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/vxBitmapLoader.h"
#include "VoRav/Graphics/vxImageRegistry.h"

namespace kav {

Ref<TBitmapStore> LoadBmpImage(TStream* stream, const std::u16string& name, bool owns_stream,
                               const TImageParamsCallback& params_callback) {
  Ref<TStream> taken = owns_stream ? Ref<TStream>::Adopt(stream) : Ref<TStream>();
  if (!stream) return nullptr;
  const int64_t at = stream->GetPosition();
  Ref<TDirectBitmap> bitmap = LoadBmp(stream);
  if (!bitmap) {
    try {
      stream->SetPosition(at);
    } catch (const std::exception&) {
      // the stream cannot go back; the next loader will see that
    }
    return nullptr;
  }
  Ref<TSysDirectWrapper> wrapper = MakeRef<TSysDirectWrapper>(bitmap.release(), true);
  return MakeRef<TWrapperBitmapStore>(name, params_callback, true, wrapper.release());
}

void RegisterBmpLoader() {
  static const bool registered = [] {
    RegisterImageLoader(&LoadBmpImage, {u".bmp", u".dib"});
    return true;
  }();
  (void)registered;
}

}  // namespace kav
