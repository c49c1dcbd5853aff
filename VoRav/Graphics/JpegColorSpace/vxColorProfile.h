// Colour profiles, colour transforms and the single-colour lookup volume.
//
// A TColorProfile is an ICC profile's bytes with a name. Pictures are
// converted from their own profile to the display's ("current") profile by a
// TColorTransform that the installed transform maker makes; single colours
// (text, fills, borders) go through a 32 x 32 x 32 lookup volume that each
// profile builds once, on first use, by running its transform from sRGB over
// a grid of colours, and then interpolate trilinearly without calling the
// colour library again.
//
// The built-in profiles "sRGB" (the default profile), "YUVsRGB" (the same
// bytes), "AdobeRGB" and "DuvazURI" exist for the whole run.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/SysObj2.h"

namespace kav {

class TColorProfile : public TRefObject {
 public:
  TColorProfile(std::span<const uint8_t> bytes, std::u16string name);

  const std::u16string& Name() const noexcept { return name_; }
  const std::vector<uint8_t>& Bytes() const noexcept { return bytes_; }
  // The lookup volume was attempted (set also when no transform was possible).
  bool VolumeBuilt() const noexcept { return volume_built_.load(std::memory_order_acquire); }
  // The lookup volume: 32 x 1024 "R8G8B8"; null when this profile needs no
  // conversion from sRGB or none could be made. Never changes once
  // VolumeBuilt is set.
  TSysBitmap* Volume() const noexcept { return volume_.get(); }

  // Builds the lookup volume unless it was attempted before. Concurrent first
  // calls build one volume (one module-wide lock, tested before and after
  // entering). Never raises: a failed build leaves no volume.
  void EnsureVolume();

 private:
  std::u16string name_;
  std::vector<uint8_t> bytes_;
  std::atomic<bool> volume_built_{false};
  Ref<TSysBitmap> volume_;
};

// Converts bitmaps from Source to Target.
class TColorTransform : public TRefObject {
 public:
  TColorTransform(TColorProfile* source, TColorProfile* target) : source_(source), target_(target) {}
  TColorProfile* Source() const noexcept { return source_.get(); }
  TColorProfile* Target() const noexcept { return target_.get(); }
  // Converts the bitmap in place. Formats the transform cannot convert are
  // left unchanged.
  virtual void TransformPixels(TBitmap* bitmap) = 0;

 protected:
  void Dispose() override;

 private:
  Ref<TColorProfile> source_;
  Ref<TColorProfile> target_;
};

// Makes a transform for (source, target), both given; null when none can be
// made. May be called from any thread.
using TColorTransformMaker = Ref<TColorTransform> (*)(TColorProfile* source, TColorProfile* target);

// The installed maker; it starts as the ICC transform (CreateICCColorTransform).
TColorTransformMaker GetColorTransformMaker() noexcept;
// Installs a maker (null: no transform can be made) and answers the previous one.
TColorTransformMaker SetColorTransformMaker(TColorTransformMaker maker) noexcept;

// Set by the show loader when colour management is switched off or the show
// names none; while set, slide objects keep the colours they read.
extern std::atomic<uint8_t> ColorManagementOff;

// The default profile ("sRGB"). Never null.
TColorProfile* GetDefaultColorProfile();
// A built-in profile by name ("sRGB", "YUVsRGB", "AdobeRGB", "DuvazURI",
// ASCII case ignored); null for other names.
TColorProfile* GetStandardColorProfile(std::u16string_view name);

// The current (display) profile, else the default profile; a new reference.
Ref<TColorProfile> GetCurrentColorProfile();
// Replaces the current profile (null clears it). With `owns` the caller's
// reference is handed over, else a new one is taken.
void SetCurrentColorProfile(TColorProfile* profile, bool owns);

// Null for no bytes. Bytes that hold "sRGB IEC61966-2.1" entirely within
// their first 512 bytes give the default profile (a new reference); other
// bytes a new profile holding a copy of them and `name`.
Ref<TColorProfile> ColorProfileFromBytes(std::span<const uint8_t> bytes, const std::u16string& name);
// A new profile holding a copy of the bytes.
Ref<TColorProfile> ColorProfileCreate(std::span<const uint8_t> bytes, const std::u16string& name);

// Null source: the default profile; null target: the current profile, else
// the default one. Null when no maker is installed or both are the same
// profile, otherwise the maker's answer.
Ref<TColorTransform> CreateColorTransform(TColorProfile* source, TColorProfile* target);

// Converts one colour (blue in the low byte; the top byte ignored) from sRGB
// to `profile` (null: the current profile; with no current profile the colour
// is kept). Writes the three colour bytes of `out` and leaves its top byte.
void TransformColor(TColorProfile* profile, uint32_t& out, uint32_t color);

}  // namespace kav
