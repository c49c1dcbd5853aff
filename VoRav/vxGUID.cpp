#include "VoRav/vxGUID.h"

#include <sys/random.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <random>

#include "VoRav/vxConvert.h"

namespace kav {

namespace {

constexpr int kDashAt[] = {9, 14, 19, 24};

// Fallback generator, seeded once from the clock and an address.
void FillFromRuntimeRandom(uint8_t* bytes, size_t n) {
  static std::mutex lock;
  static std::mt19937_64 gen(static_cast<uint64_t>(
      std::chrono::steady_clock::now().time_since_epoch().count()) ^ reinterpret_cast<uintptr_t>(&lock));
  std::lock_guard<std::mutex> guard(lock);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(gen() >> 56);
}

}  // namespace

TGUID CreateGUID() {
  uint8_t bytes[16];
  TGUID g;
  if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bytes)) {
    bytes[7] = static_cast<uint8_t>((bytes[7] & 0x0F) | 0x40);  // version 4 (high nibble of D3)
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  } else {
    FillFromRuntimeRandom(bytes, sizeof bytes);
  }
  std::memcpy(&g.D1, bytes, 4);
  std::memcpy(&g.D2, bytes + 4, 2);
  std::memcpy(&g.D3, bytes + 6, 2);
  std::memcpy(g.D4, bytes + 8, 8);
  return g;
}

std::u16string GUIDToString(const TGUID& g) {
  std::u16string s = u"{";
  s += IntToHex(8, g.D1);
  s += u'-';
  s += IntToHex(4, g.D2);
  s += u'-';
  s += IntToHex(4, g.D3);
  s += u'-';
  for (int i = 0; i < 8; ++i) {
    if (i == 2) s += u'-';
    s += IntToHex(2, g.D4[i]);
  }
  s += u'}';
  return s;
}

bool TryStringToGUID(std::u16string_view text, TGUID& guid) {
  if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return false;
  for (int at : kDashAt) {
    if (text[static_cast<size_t>(at)] != u'-') return false;
  }
  TGUID g;
  uint16_t d2 = 0, d3 = 0;
  if (!HexToUInt32(text, 1, 8, g.D1) || !HexToUInt16(text, 10, 4, d2) || !HexToUInt16(text, 15, 4, d3)) {
    return false;
  }
  g.D2 = d2;
  g.D3 = d3;
  static constexpr int kByteAt[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!HexToUInt8(text, kByteAt[i], 2, g.D4[i])) return false;
  }
  guid = g;
  return true;
}

}  // namespace kav
