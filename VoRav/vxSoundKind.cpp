#include "VoRav/vxSoundKind.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "VoRav/vxStreamUtils.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

constexpr std::array<uint8_t, 16> kAsfHeader = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

bool StartsWith(std::span<const uint8_t> head, const char* text) {
  const size_t n = std::strlen(text);
  return head.size() >= n && std::memcmp(head.data(), text, n) == 0;
}

// An MPEG audio frame header: the sync bits, a version other than the
// reserved one, a layer, a usable bitrate and sample rate.
bool IsMpegFrameHeader(std::span<const uint8_t> h) {
  if (h.size() < 4 || h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return false;
  const int version = (h[1] >> 3) & 3, layer = (h[1] >> 1) & 3, bitrate = h[2] >> 4, rate = (h[2] >> 2) & 3;
  return version != 1 && layer != 0 && bitrate != 0 && bitrate != 15 && rate != 3;
}

bool IsText(std::span<const uint8_t> head) {
  if (head.empty()) return false;
  return std::all_of(head.begin(), head.end(),
                     [](uint8_t c) { return c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c != 0x7F); });
}

// The file's size and first bytes; false when it cannot be read.
bool ReadHead(TStream* stream, std::vector<uint8_t>& head, int64_t& size) {
  if (!stream) return false;
  try {
    // The head tells the kind: a size that would take reading the data
    // through to learn is not asked for (-1, unknown).
    size = stream->GetKnownSize();
    head = StreamBytesAt(stream, 0, size < 0 ? kSoundHeadBytes : std::min(size, kSoundHeadBytes));
    return true;
  } catch (const Exception&) {
    return false;
  }
}

}  // namespace

TSoundKind SoundKindOfData(std::span<const uint8_t> head) {
  if (StartsWith(head, "RIFF") && head.size() >= 12 && std::memcmp(head.data() + 8, "WAVE", 4) == 0)
    return TSoundKind::Wave;
  if ((StartsWith(head, "ID3") && head.size() >= 5 && head[3] != 0xFF && head[4] != 0xFF) || IsMpegFrameHeader(head))
    return TSoundKind::Mpeg;
  if (StartsWith(head, "OggS")) return TSoundKind::Ogg;
  if (head.size() >= kAsfHeader.size() && std::equal(kAsfHeader.begin(), kAsfHeader.end(), head.begin()))
    return TSoundKind::Asf;
  if (IsText(head)) return TSoundKind::Text;
  return TSoundKind::Unknown;
}

TSoundKind SoundKindOfStream(TStream* stream) {
  std::vector<uint8_t> head;
  int64_t size = 0;
  return ReadHead(stream, head, size) ? SoundKindOfData(head) : TSoundKind::Unknown;
}

std::u16string UnplayableSoundReason(TStream* stream) {
  std::vector<uint8_t> head;
  int64_t size = 0;
  if (!ReadHead(stream, head, size)) return u"cannot be read";
  if (size == 0) return kEmptyShowFile;
  const char16_t* kind = nullptr;
  switch (SoundKindOfData(head)) {
    case TSoundKind::Text:
      return u"a text file, not a sound (a download that failed?): download or export the sound again";
    case TSoundKind::Wave: kind = u"WAV"; break;
    case TSoundKind::Mpeg: kind = u"MP3"; break;
    case TSoundKind::Ogg: kind = u"Ogg"; break;
    case TSoundKind::Asf: kind = u"WMA"; break;
    case TSoundKind::Unknown:
      return u"not a sound the player plays (it plays MP3, Ogg Vorbis, WAV and WMA): convert it to MP3";
  }
  return u"a damaged or unplayable " + std::u16string(kind) +
         u" sound: its data does not decode; copy or export it again (as MP3, say)";
}

bool SoundIsNoSound(TStream* stream) {
  std::vector<uint8_t> head;
  int64_t size = 0;
  return ReadHead(stream, head, size) && (size == 0 || SoundKindOfData(head) == TSoundKind::Text);
}

}  // namespace kav
