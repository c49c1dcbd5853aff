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

// The frame image belongs to the 3D layer, which makes and draws it; the
// sources only fill it (its header stands alone).
#include "KavLib2/3DEngine/vxYUVImage.h"
#include "VoRav/Graphics/vxBitmap.h"
#include "VoRav/vxStream.h"

namespace kav {

// What a source tells about its clip (apart from the audio layer's TMediaInfo,
// as both live in one program).
struct TClipInfo {
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

// A grey level as the 16-bit 5-6-5 colour of the packed frame images.
inline uint16_t Grey565(uint8_t g) noexcept { return uint16_t(((g >> 3) << 11) | ((g >> 2) << 5) | (g >> 3)); }

// One fill of a frame image: enters its monitor and locks the planes it
// has (Y, U and V; else RGBA; else packed 16-bit grey); the destructor
// unlocks them, commits when Commit was called, and leaves the monitor.
class TFrameFill {
 public:
  enum TKind : uint8_t { kNone = 0, kPlanes = 1, kRgba = 2, kPacked = 3 };
  explicit TFrameFill(TYUVImage* image);
  ~TFrameFill();
  TFrameFill(const TFrameFill&) = delete;
  TFrameFill& operator=(const TFrameFill&) = delete;
  // kNone when the image has no plane that can be locked.
  TKind Kind() const noexcept { return kind_; }
  // The locked plane (padded rows, at least the frame's size), or null.
  TSysBitmap* Plane(int32_t index) const noexcept { return index >= 0 && index < 5 ? planes_[index].get() : nullptr; }
  void Commit() noexcept { commit_ = true; }

 private:
  TYUVImage* image_;
  TKind kind_ = kNone;
  bool commit_ = false;
  Ref<TSysBitmap> planes_[5];
};

// (No list of owned objects is kept: nothing fills one.)
class TFrameSource : public TRefObject {
 public:
  const TClipInfo& Info() const noexcept { return info_; }
  // Decodes frame `frame` into the image: into its Y, U and V planes, its
  // RGBA plane or its packed 16-bit grey plane, whichever it has, under its
  // monitor, then commits it. False when it cannot: the image is then not
  // committed and keeps what it held.
  virtual bool GetFrame(int32_t frame, TYUVImage* image) = 0;
  // Frame `frame` as 24-bit pixels ("R8G8B8") into the bitmap's top-left
  // corner; false when it cannot (the bitmap is then unchanged).
  virtual bool GetFrame24(int32_t frame, TDirectBitmap* bitmap) = 0;

 protected:
  TClipInfo info_;
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
bool CachedMediaInfo(const std::u16string& file_name, TClipInfo& info);
// Entries in the cache (for tests).
int32_t MediaInfoCacheCount();

// Installs the media-library source and, in front of it, the GIF source.
// Called once at start-up; calling it again changes nothing.
void RegisterVideoSources();

}  // namespace kav
