#include "VoRav/Graphics/JpegColorSpace/vxImageLoaders.h"

#include <mutex>

#include "VoRav/Graphics/JpegColorSpace/winJpegLoader.h"
#include "VoRav/Graphics/SysGfxLoader.h"
#include "VoRav/Graphics/vxBitmapLoader.h"
#include "VoRav/Graphics/vxGifLoader.h"
#include "VoRav/Graphics/vxImageLib.h"

namespace kav {

void RegisterImageLoaders() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterGfxLoader();
    RegisterBmpLoader();
    RegisterJpegLoader();
    RegisterGifLoaders();
    RegisterPngImageLib();
  });
}

}  // namespace kav
