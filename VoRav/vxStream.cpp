#include "VoRav/vxStream.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <limits>

#include "VoRav/wpTypes.h"

namespace kav {

namespace {

constexpr int64_t kCopyChunk = 32768;
constexpr int64_t kWriteChunk = 1024;
constexpr int64_t kAnsiChunk = 2048;

// Cuts (start, count) to a buffer of `size` bytes; false when nothing can move.
bool ClampToBuffer(size_t size, int64_t& start, int64_t& count) {
  const int64_t room_total = size > static_cast<size_t>(std::numeric_limits<int64_t>::max())
                                 ? std::numeric_limits<int64_t>::max()
                                 : static_cast<int64_t>(size);
  if (start < 0) start = 0;
  if (start >= room_total || count <= 0) return false;
  count = std::min(count, room_total - start);
  return true;
}

}  // namespace

int64_t TStream::GetRemaining() { return GetSize() - GetPosition(); }

void TStream::Clear() {
  SetPosition(0);
  SetSize(0);
}

int64_t TStream::CopyFrom(TStream* source, int64_t count) {
  int64_t total = 0;
  if (count <= 0) return 0;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min(count, kCopyChunk)));
  while (count > 0) {
    const int64_t got = source->Read(buffer, std::min<int64_t>(count, static_cast<int64_t>(buffer.size())));
    if (got == 0) break;
    if (Write(buffer, got) < got) throw EStreamWriteError();
    total += got;
    count -= got;
  }
  return total;
}

void TStream::LoadFrom(TStream* source) {
  if (source == this) {  // already holds the whole of itself
    SetPosition(0);
    return;
  }
  Clear();
  const int64_t saved = source->GetPosition();
  try {
    source->SetPosition(0);
    const int64_t size = source->GetSize();
    if (size < 0) {
      CopyFrom(source, std::numeric_limits<int64_t>::max());
    } else {
      SetSize(size);
      if (CopyFrom(source, size) < size) throw EStreamError();
    }
  } catch (...) {
    try { source->SetPosition(saved); } catch (...) { /* the first failure is the one to report */ }
    throw;
  }
  source->SetPosition(saved);
  SetPosition(0);
}

int64_t TStream::Read(std::span<uint8_t> buffer, int64_t count, int64_t start) {
  if (!ClampToBuffer(buffer.size(), start, count)) return 0;
  const int64_t got = DoRead(buffer.subspan(static_cast<size_t>(start), static_cast<size_t>(count)));
  KAV_ASSERT_MSG(got >= 0 && got <= count, "Stream read outside its buffer");
  return got;
}

int64_t TStream::Write(std::span<const uint8_t> buffer, int64_t count, int64_t start) {
  if (!ClampToBuffer(buffer.size(), start, count)) return 0;
  const int64_t put = DoWrite(buffer.subspan(static_cast<size_t>(start), static_cast<size_t>(count)));
  KAV_ASSERT_MSG(put >= 0 && put <= count, "Stream write outside its buffer");
  return put;
}

void TStream::ReadExact(uint8_t* dst, int64_t n) {
  if (Read(std::span<uint8_t>(dst, static_cast<size_t>(n)), n) < n) throw EStreamReadError();
}

void TStream::WriteExact(const uint8_t* src, int64_t n) {
  if (Write(std::span<const uint8_t>(src, static_cast<size_t>(n)), n) < n) throw EStreamWriteError();
}

uint8_t TStream::ReadByte() {
  uint8_t b;
  ReadExact(&b, 1);
  return b;
}

uint16_t TStream::ReadWord() {
  uint8_t b[2];
  ReadExact(b, 2);
  return LoadLE16(b);
}

uint16_t TStream::ReadWordBE() {
  uint8_t b[2];
  ReadExact(b, 2);
  return LoadBE16(b);
}

int16_t TStream::ReadSmallIntBE() { return static_cast<int16_t>(ReadWordBE()); }

int32_t TStream::ReadInteger() { return static_cast<int32_t>(ReadDWord()); }

uint32_t TStream::ReadDWord() {
  uint8_t b[4];
  ReadExact(b, 4);
  return LoadLE32(b);
}

uint32_t TStream::ReadDWordBE() {
  uint8_t b[4];
  ReadExact(b, 4);
  return LoadBE32(b);
}

int64_t TStream::ReadInt64() {
  uint8_t b[8];
  ReadExact(b, 8);
  return static_cast<int64_t>(LoadLE64(b));
}

float TStream::ReadSingle() { return std::bit_cast<float>(ReadDWord()); }

void TStream::WriteByte(uint8_t value) { WriteExact(&value, 1); }

void TStream::WriteSmallInt(int16_t value) { WriteWord(static_cast<uint16_t>(value)); }

void TStream::WriteWord(uint16_t value) {
  uint8_t b[2];
  StoreLE16(b, value);
  WriteExact(b, 2);
}

void TStream::WriteInteger(int32_t value) {
  uint8_t b[4];
  StoreLE32(b, static_cast<uint32_t>(value));
  WriteExact(b, 4);
}

void TStream::WriteSingle(float value) {
  uint8_t b[4];
  StoreLE32(b, std::bit_cast<uint32_t>(value));
  WriteExact(b, 4);
}

void TStream::WriteBytes(std::span<const uint8_t> bytes) { WriteBytes(bytes, 0, static_cast<int64_t>(bytes.size())); }

void TStream::WriteBytes(std::span<const uint8_t> bytes, int64_t start, int64_t count) {
  if (!ClampToBuffer(bytes.size(), start, count)) return;
  while (count > 0) {
    const int64_t n = std::min(count, kWriteChunk);
    WriteExact(bytes.data() + start, n);
    start += n;
    count -= n;
  }
}

void TStream::WriteText(std::u16string_view text) { WriteText(text, 0, static_cast<int64_t>(text.size())); }

void TStream::WriteText(std::u16string_view text, int64_t start, int64_t count) {
  if (!ClampToBuffer(text.size(), start, count)) return;
  uint8_t buf[kWriteChunk];
  while (count > 0) {
    const int64_t chars = std::min(count, kWriteChunk / 2);
    for (int64_t i = 0; i < chars; ++i) StoreLE16(buf + 2 * i, text[static_cast<size_t>(start + i)]);
    WriteExact(buf, chars * 2);
    start += chars;
    count -= chars;
  }
}

int64_t TStream::ReadTextRange(std::u16string& text, int64_t start, int64_t count) {
  if (!ClampToBuffer(text.size(), start, count)) return 0;
  uint8_t buf[kWriteChunk];
  int64_t total = 0;
  while (count > 0) {
    const int64_t want = std::min(count, kWriteChunk / 2) * 2;
    const int64_t got = Read(buf, want);
    const int64_t chars = got / 2;
    for (int64_t i = 0; i < chars; ++i) text[static_cast<size_t>(start + i)] = static_cast<char16_t>(LoadLE16(buf + 2 * i));
    total += chars;
    start += chars;
    count -= chars;
    if (got < want) break;
  }
  return total;
}

int64_t TStream::ReadAnsiRange(std::string& text, int64_t start, int64_t count) {
  if (!ClampToBuffer(text.size(), start, count)) return 0;
  auto* data = reinterpret_cast<uint8_t*>(text.data());
  int64_t total = 0;
  while (count > 0) {
    const int64_t want = std::min(count, kAnsiChunk);
    const int64_t got = Read(std::span<uint8_t>(data + start, static_cast<size_t>(want)), want);
    total += got;
    start += got;
    count -= got;
    if (got < want) break;
  }
  return total;
}

// ---- file-open hooks -------------------------------------------------------

namespace {

Ref<TStream> DefaultReadFile(const std::u16string&) {
  KAV_ASSERT_FAIL("vxStream.ReadFile not Assigned. Include the file stream module (wpFileStream) in the program.");
}

Ref<TStream> DefaultWriteFile(const std::u16string&, bool) {
  KAV_ASSERT_FAIL("vxStream.WriteFile not Assigned. Include the file stream module (wpFileStream) in the program.");
}

std::atomic<TReadFileHook> g_read_file{&DefaultReadFile};
std::atomic<TWriteFileHook> g_write_file{&DefaultWriteFile};

}  // namespace

Ref<TStream> ReadFile(const std::u16string& file_name) { return g_read_file.load()(file_name); }

Ref<TStream> WriteFile(const std::u16string& file_name, bool create) { return g_write_file.load()(file_name, create); }

TReadFileHook SetReadFileHook(TReadFileHook hook) { return g_read_file.exchange(hook ? hook : &DefaultReadFile); }

TWriteFileHook SetWriteFileHook(TWriteFileHook hook) { return g_write_file.exchange(hook ? hook : &DefaultWriteFile); }

}  // namespace kav
