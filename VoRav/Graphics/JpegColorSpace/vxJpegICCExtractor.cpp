#include "VoRav/Graphics/JpegColorSpace/vxJpegICCExtractor.h"

#include <cstring>
#include <string>

#include "VoRav/vxLog.h"

namespace kav {

namespace {

constexpr uint8_t kSOI = 0xD8, kEOI = 0xD9, kSOS = 0xDA, kAPP2 = 0xE2;
constexpr char kIccTag[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};

void Log(const std::string& text) { LogLine(std::u16string(text.begin(), text.end())); }

bool ReadOne(TStream* s, uint8_t& b) { return s->Read(std::span<uint8_t>(&b, 1), 1) == 1; }

bool HasLength(uint8_t m) {
  return (m >= 0xC0 && m <= 0xCF) || (m >= 0xDA && m <= 0xDD) || (m >= 0xE0 && m <= 0xEF) || m == 0xFE;
}

struct TChunk {
  uint8_t Sequence;
  uint8_t Count;
  std::vector<uint8_t> Bytes;
};

// Joins the chunks in sequence order; false when they do not form one
// complete profile.
bool Assemble(std::vector<TChunk>& chunks, std::vector<uint8_t>& bytes) {
  const uint8_t count = chunks.front().Count;
  if (count == 0 || chunks.size() != count) return false;
  std::vector<const TChunk*> order(count, nullptr);
  for (const TChunk& c : chunks) {
    if (c.Count != count || c.Sequence == 0 || c.Sequence > count || order[c.Sequence - 1u]) return false;
    order[c.Sequence - 1u] = &c;
  }
  for (const TChunk* c : order) bytes.insert(bytes.end(), c->Bytes.begin(), c->Bytes.end());
  return true;
}

}  // namespace

void ExtractJpegIccProfile(TStream* stream, std::vector<uint8_t>& bytes) {
  bytes.clear();
  const int64_t size = stream->GetSize();
  if (size > kJpegIccMaxStreamSize) return;
  stream->SetPosition(0);
  std::vector<TChunk> chunks;
  bool first = true, cut = false;
  for (;;) {
    uint8_t b;
    if (!ReadOne(stream, b)) {
      Log("Jpeg Marker expected");
      break;
    }
    if (b != 0xFF) {
      Log("Error: marker expected at " + std::to_string(stream->GetPosition() - 1));
      break;
    }
    uint8_t marker = 0;
    if (!ReadOne(stream, marker)) marker = 0;
    while (marker == 0xFF) {
      Log("Error: duplicate $FF encountered at " + std::to_string(stream->GetPosition() - 1));
      if (!ReadOne(stream, marker)) marker = 0;
    }
    if (first && marker != kSOI) break;
    first = false;
    if (marker == 0 || marker == kEOI) break;
    if (!HasLength(marker)) continue;
    uint8_t len[2];
    if (stream->Read(len, 2) != 2) break;
    const int32_t length = (len[0] << 8) | len[1];
    if (length < 2) break;
    const int64_t payload = length - 2;
    if (marker == kAPP2 && payload >= 14) {
      std::vector<uint8_t> data(static_cast<size_t>(payload));
      if (stream->Read(data, payload) != payload) {
        cut = true;
        break;
      }
      if (std::memcmp(data.data(), kIccTag, 12) == 0)
        chunks.push_back(TChunk{data[12], data[13], std::vector<uint8_t>(data.begin() + 14, data.end())});
    } else {
      const int64_t next = stream->GetPosition() + payload;
      if (size >= 0 && next > size) break;
      stream->SetPosition(next);
    }
    if (marker == kSOS) break;
  }
  if (chunks.empty()) return;
  if (cut || !Assemble(chunks, bytes)) {
    bytes.clear();
    Log("Error: incomplete ICC profile segments");
  }
}

}  // namespace kav
