// Video frame sources: a clip turned into frames by frame number.
//
// A source delivers frame n either into a TYUVImage (planes the 3D layer
// uploads) or into a 24-bit bitmap. Sources are made through one factory
// chain: each kind installs its factory (and optionally a filter on the
// file name) in front of the previous one at start-up
// (RegisterVideoSources), and calls the previous one for files it does not
// take. The media information of every opened clip is cached by file.
//
// A source is used by one thread at a time (the extractor's worker); the
// cache and the factory variables may be used from any thread.
#pragma once
#include <cstdint>
#include <string>

#include "VoRav/Graphics/vxBitmap.h"
#include "VoRav/vxDelegate.h"
#include "VoRav/vxMonitors.h"
#include "VoRav/vxStream.h"

namespace kav {

// What a source tells about its clip.
struct TMediaInfo {
  int32_t Width = 0;
  int32_t Height = 0;
  uint8_t AspectMode = 0;  // display aspect: 0 as stored, 1 4:3, 2 16:9
  uint8_t Interlaced = 0;
  uint8_t TopFieldFirst = 0;
  double FramesPerSecond = 0;
  uint8_t Loop = 0;  // the clip repeats by itself (animated GIFs)
  int32_t DurationMs = 0;
  int32_t FrameCount = 0;   // 1000000 for a GIF that repeats forever
  std::u16string CodecName;  // "GIF", "MPEG2", "H264", "MPEG4", "XVID" or "OTHER"
  // Frames come as 32-bit pictures with alpha rather than YUV planes: the
  // frame images should be made with the RGBA flag.
  uint8_t Rgba = 0;
};

// The memory of one locked plane: `Height` rows of `Pitch` bytes, of which
// the first `Width` pixels belong to the picture. Bits is null when the
// plane cannot be had.
struct TPlaneMemory {
  uint8_t* Bits = nullptr;
  int32_t Pitch = 0;
  int32_t Width = 0;
  int32_t Height = 0;
};

// The image one video frame is decoded into, realised by the 3D layer.
// It is a monitor: a writer holds it from the first LockPlane until
// UnlockPlanes, the drawer while it draws.
//
//   image->Enter();
//   TPlaneMemory y = image->LockPlane(TYUVImage::kPlaneY);
//   ... fill y ...
//   image->UnlockPlane(TYUVImage::kPlaneY, y);
//   image->UnlockPlanes();   // commits and leaves the monitor
class TYUVImage : public TMonitor {
 public:
  enum : int32_t { kPlaneY = 0, kPlaneU = 1, kPlaneV = 2, kPlanePacked = 3, kPlaneRGBA = 4 };
  using TLostHandler = TDelegate<void(TYUVImage*)>;

  // Planes: Y at width x height, U and V at (width div 2) x (height div 2).
  // Packed: one 16-bit plane (5-6-5 grey) of the frame size. RGBA: one
  // 32-bit plane (blue, green, red, alpha) of the frame size.
  TYUVImage(int32_t width, int32_t height, bool rgba, bool packed)
      : IsPacked(packed), IsRgba(rgba), Width(width), Height(height) {}

  const bool IsPacked;
  const bool IsRgba;
  const int32_t Width;
  const int32_t Height;

  // Takes the monitor for its own duration; Bits null when the plane does
  // not exist (or the image's textures are gone).
  virtual TPlaneMemory LockPlane(int32_t index) = 0;
  virtual void UnlockPlane(int32_t index, const TPlaneMemory& memory) = 0;
  // Commits the planes and leaves the monitor the writer entered.
  virtual void UnlockPlanes() = 0;

  // Set when the contents were lost (device reset), cleared when a frame
  // was decoded into the image.
  std::atomic<bool> Invalid{false};
  // Called (on the thread that lost them) when the contents are lost.
  TLostHandler OnLost;
  // The realisation calls this when its textures lose their contents.
  void NotifyLost() {
    Invalid = true;
    if (OnLost) OnLost(this);
  }
};

class TFrameSource : public TRefObject {
 public:
  const TMediaInfo& Info() const noexcept { return info_; }
  // Decodes frame `frame` into the image. False when it cannot: the image
  // keeps what it held.
  virtual bool GetFrame(int32_t frame, TYUVImage* image) = 0;
  // Frame `frame` as 24-bit pixels ("R8G8B8") into the bitmap's top-left
  // corner; false when it cannot (the bitmap is then unchanged).
  virtual bool GetFrame24(int32_t frame, TDirectBitmap* bitmap) = 0;

 protected:
  TMediaInfo info_;
};

// The factory: a source for the clip, or null. With `owned` the factory
// takes over one reference to the stream whether it succeeds or not. The
// stream may be null: the file is then opened by name.
using TFrameSourceFactory = Ref<TFrameSource> (*)(TStream* stream, bool owned, const std::u16string& file_name);
// The filter: whether a clip of that name can be opened at all.
using TFrameSourceFilter = bool (*)(const std::u16string& file_name);

// The current factory and filter (null when none is installed); the setters
// answer the previous value.
TFrameSourceFactory FrameSourceFactory() noexcept;
TFrameSourceFactory SetFrameSourceFactory(TFrameSourceFactory factory) noexcept;
TFrameSourceFilter FrameSourceFilter() noexcept;
TFrameSourceFilter SetFrameSourceFilter(TFrameSourceFilter filter) noexcept;

// Null when no factory is installed or the filter refuses the name (an
// owned stream is then released); otherwise the factory's answer, whose
// media information is cached under the file's key (the first entry wins).
Ref<TFrameSource> OpenFrameSource(TStream* stream, bool owned, const std::u16string& file_name);

// The cache key: the file's modification date ("DD.MM.YYYY", "00.00.0000"
// for a file not on disk), "|" and the name.
std::string MediaInfoKey(const std::u16string& file_name);
// The cached media information of a file; false when none is cached.
bool CachedMediaInfo(const std::u16string& file_name, TMediaInfo& info);
// Entries in the cache (for tests).
int32_t MediaInfoCacheCount();

// Installs the media-library source and, in front of it, the GIF source.
// Called once at start-up; calling it again changes nothing.
void RegisterVideoSources();

}  // namespace kav
