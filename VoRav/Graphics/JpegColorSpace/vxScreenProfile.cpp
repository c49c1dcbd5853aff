#include "VoRav/Graphics/JpegColorSpace/vxScreenProfile.h"

#include <mutex>

#include "VoRav/vxUTF8.h"

namespace kav {

namespace {

struct TScreenState {
  std::mutex lock;
  Ref<TColorProfile> profile;
};

TScreenState& ScreenState() {
  static TScreenState state;
  return state;
}

}  // namespace

void SetScreenProfileBytes(std::span<const uint8_t> bytes) {
  Ref<TColorProfile> next = ColorProfileFromBytes(bytes, u"Display");
  TScreenState& s = ScreenState();
  std::lock_guard<std::mutex> guard(s.lock);
  s.profile.swap(next);
}

Ref<TColorProfile> ReadScreenProfile() {
  TScreenState& s = ScreenState();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.profile;
}

bool ReadProfileStream(TStream* stream, std::vector<uint8_t>& bytes) {
  bytes.clear();
  if (!stream) return false;
  try {
    constexpr size_t kChunk = 64 * 1024;
    for (;;) {
      const size_t have = bytes.size();
      if (int64_t(have) > kMaxColorProfileBytes) {
        bytes.clear();
        return false;
      }
      bytes.resize(have + kChunk);
      const int64_t got = stream->Read(bytes, int64_t(kChunk), int64_t(have));
      bytes.resize(have + size_t(got > 0 ? got : 0));
      if (got <= 0) break;
    }
  } catch (const std::exception& e) {
    DebugOutput(std::string("Colour profile not read: ") + e.what());
    bytes.clear();
    return false;
  }
  return true;
}

bool ReadProfileFile(const std::u16string& path, std::vector<uint8_t>& bytes) {
  bytes.clear();
  Ref<TStream> stream;
  try {
    stream = ReadFile(path);
  } catch (const std::exception& e) {
    DebugOutput("Colour profile " + UTF8Encode(path) + " not opened: " + e.what());
    return false;
  }
  return stream && ReadProfileStream(stream.get(), bytes);
}

}  // namespace kav
