#include "VoRav/Graphics/JpegColorSpace/vxColorProfile.h"

#include <algorithm>
#include <mutex>
#include <string_view>

#include "VoRav/Graphics/JpegColorSpace/vxBuiltinProfiles.h"
#include "VoRav/Graphics/JpegColorSpace/vxColorVolume.h"
#include "VoRav/Graphics/JpegColorSpace/vxICCColorProfile.h"

namespace kav {

std::atomic<uint8_t> ColorManagementOff{0};

namespace {

std::atomic<TColorTransformMaker> g_maker{&CreateICCColorTransform};

// Built-in profiles and the current one; released at the end of the run.
struct TProfileState {
  Ref<TColorProfile> srgb = ColorProfileCreate(kSRGBProfile, u"sRGB");
  Ref<TColorProfile> yuv_srgb = ColorProfileCreate(kSRGBProfile, u"YUVsRGB");
  Ref<TColorProfile> adobe = ColorProfileCreate(kAdobeRGBProfile, u"AdobeRGB");
  Ref<TColorProfile> duvaz = ColorProfileCreate(kDuvazURIProfile, u"DuvazURI");
  std::mutex current_lock;
  Ref<TColorProfile> current;
};

TProfileState& State() {
  static TProfileState state;
  return state;
}

// One lock for building any lookup volume. Re-entrant: a transform maker may
// itself convert a colour through another profile.
std::recursive_mutex& VolumeLock() {
  static std::recursive_mutex lock;
  return lock;
}

Ref<TColorProfile> CurrentOrNull() {
  TProfileState& s = State();
  std::lock_guard<std::mutex> guard(s.current_lock);
  return s.current;
}

bool SameAsciiNoCase(std::u16string_view a, std::u16string_view b) {
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

}  // namespace

TColorProfile::TColorProfile(std::span<const uint8_t> bytes, std::u16string name)
    : name_(std::move(name)), bytes_(bytes.begin(), bytes.end()) {}

void TColorProfile::EnsureVolume() {
  if (VolumeBuilt()) return;
  Ref<TColorTransform> transform;
  {
    std::lock_guard<std::recursive_mutex> guard(VolumeLock());
    if (volume_built_.load(std::memory_order_relaxed)) return;
    try {
      transform = CreateColorTransform(GetDefaultColorProfile(), this);
      if (transform) {
        Ref<TSysBitmap> volume = CreateSysBitmap(kColorVolumeWidth, kColorVolumeHeight, StdFormats().R8G8B8);
        if (volume) {
          FillIdentityVolume(volume.get());
          transform->TransformPixels(volume.get());
          volume_ = std::move(volume);
        }
      }
    } catch (const std::exception& e) {
      DebugOutput(std::string("Colour lookup volume not built: ") + e.what());
    }
    volume_built_.store(true, std::memory_order_release);
  }
}

void TColorTransform::Dispose() {
  source_ = nullptr;
  target_ = nullptr;
  TRefObject::Dispose();
}

TColorTransformMaker GetColorTransformMaker() noexcept { return g_maker.load(); }
TColorTransformMaker SetColorTransformMaker(TColorTransformMaker maker) noexcept { return g_maker.exchange(maker); }

TColorProfile* GetDefaultColorProfile() { return State().srgb.get(); }

TColorProfile* GetStandardColorProfile(std::u16string_view name) {
  TProfileState& s = State();
  for (TColorProfile* p : {s.srgb.get(), s.yuv_srgb.get(), s.adobe.get(), s.duvaz.get()})
    if (SameAsciiNoCase(p->Name(), name)) return p;
  return nullptr;
}

Ref<TColorProfile> GetCurrentColorProfile() {
  Ref<TColorProfile> current = CurrentOrNull();
  return current ? current : Ref<TColorProfile>(GetDefaultColorProfile());
}

void SetCurrentColorProfile(TColorProfile* profile, bool owns) {
  Ref<TColorProfile> next = owns ? Ref<TColorProfile>::Adopt(profile) : Ref<TColorProfile>(profile);
  TProfileState& s = State();
  {
    std::lock_guard<std::mutex> guard(s.current_lock);
    s.current.swap(next);
  }
  // `next` now holds the old profile and releases it outside the lock.
}

Ref<TColorProfile> ColorProfileFromBytes(std::span<const uint8_t> bytes, const std::u16string& name) {
  if (bytes.empty()) return nullptr;
  static constexpr std::string_view kSRGBText = "sRGB IEC61966-2.1";
  const std::string_view head(reinterpret_cast<const char*>(bytes.data()), std::min<size_t>(bytes.size(), 512));
  if (head.find(kSRGBText) != std::string_view::npos) return Ref<TColorProfile>(GetDefaultColorProfile());
  return ColorProfileCreate(bytes, name);
}

Ref<TColorProfile> ColorProfileCreate(std::span<const uint8_t> bytes, const std::u16string& name) {
  return MakeRef<TColorProfile>(bytes, name);
}

Ref<TColorTransform> CreateColorTransform(TColorProfile* source, TColorProfile* target) {
  Ref<TColorProfile> current;
  if (!source) source = GetDefaultColorProfile();
  if (!target) {
    current = GetCurrentColorProfile();
    target = current.get();
  }
  TColorTransformMaker maker = GetColorTransformMaker();
  if (!maker || !source || !target || source == target) return nullptr;
  return maker(source, target);
}

void TransformColor(TColorProfile* profile, uint32_t& out, uint32_t color) {
  Ref<TColorProfile> current;
  if (!profile) {
    current = CurrentOrNull();
    profile = current.get();
  }
  uint32_t rgb = color;
  if (profile) {
    profile->EnsureVolume();
    if (const TSysBitmap* volume = profile->Volume()) rgb = LookupColorVolume(*volume, color);
  }
  out = (out & 0xFF000000u) | (rgb & 0x00FFFFFFu);
}

}  // namespace kav
