// Text savers.
#include "VoRav/vxIniInterfaces.h"

#include <algorithm>
#include <cstring>

#include "VoRav/vxUTF8.h"

namespace kav {

namespace {

constexpr size_t kStreamSaverCapacity = 32768;
constexpr size_t kBytesSaverFirstCapacity = 4096;
constexpr char kBlanks[] =
    "                                                                                                ";
constexpr size_t kBlankRow = sizeof kBlanks - 1;  // 96
static_assert(kBlankRow == 96);

}  // namespace

// ---- TTextSaver ----

void TTextSaver::Dispose() {
  try {
    Close();
  } catch (const std::exception& e) {
    DebugOutput(std::string("TTextSaver.Close failed: ") + e.what());
  }
  TRefObject::Dispose();
}

void TTextSaver::Close() {}

void TTextSaver::Save(TTextWriter* writer) {
  if (writer) writer->SaveTo(this);
}

void TTextSaver::WriteBOM() { WriteBytes("\xEF\xBB\xBF"); }

void TTextSaver::WriteIndent(int32_t n) {
  while (n > 0) {
    const size_t piece = std::min<size_t>(size_t(n), kBlankRow);
    WriteBytes(std::string_view(kBlanks, piece));
    n -= int32_t(piece);
  }
}

void TTextSaver::WriteText(std::u16string_view text, ptrdiff_t start, ptrdiff_t count) {
  const TTextRange r = ClampTextRange(text.size(), start, count);
  size_t pos = r.Start;
  size_t rest = r.Count;
  while (rest > 0) {
    if (Room() < 3) FlushBuffer();  // a unit takes at most 3 bytes
    KAV_ASSERT(Room() >= 3);
    size_t written = 0;
    const size_t room = Room();
    const size_t n = UTF8EncodeChars(text, ptrdiff_t(pos), ptrdiff_t(rest),
                                     reinterpret_cast<uint8_t*>(buffer_.data()) + used_, written, room);
    KAV_ASSERT(written <= room && n > 0);
    used_ += written;
    pos += n;
    rest -= n;
  }
}

void TTextSaver::WriteLine(std::u16string_view text) {
  WriteText(text);
  WriteLineBreak();
}

void TTextSaver::WriteLineBreak() {
  if (Room() >= 2) {
    buffer_[used_++] = '\r';
    buffer_[used_++] = '\n';
  } else {
    WriteBytes("\r\n");
  }
}

void TTextSaver::WriteBytes(std::string_view bytes) {
  while (!bytes.empty()) {
    if (Room() == 0) FlushBuffer();
    KAV_ASSERT(Room() > 0);
    const size_t piece = std::min(Room(), bytes.size());
    std::memcpy(buffer_.data() + used_, bytes.data(), piece);
    used_ += piece;
    bytes.remove_prefix(piece);
  }
}

// ---- TStreamTextSaver ----

TStreamTextSaver::TStreamTextSaver(TStream* stream, bool owns)
    : stream_(stream), owns_(stream != nullptr && owns) {
  buffer_.resize(kStreamSaverCapacity);
}

void TStreamTextSaver::FlushBuffer() {
  if (used_ == 0) return;
  if (!stream_) throw EStreamWriteError();
  const size_t n = used_;
  used_ = 0;  // the bytes are gone whether the write succeeds or not
  stream_->WriteBytes(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(buffer_.data()), n));
}

void TStreamTextSaver::Close() {
  if (!stream_) {
    used_ = 0;
    return;
  }
  TStream* stream = stream_;
  const bool owned = owns_;
  try {
    FlushBuffer();
  } catch (...) {
    stream_ = nullptr;
    if (owned) RefRelease(stream);
    throw;
  }
  stream_ = nullptr;
  if (owned) RefRelease(stream);
}

// ---- TBytesTextSaver ----

void TBytesTextSaver::FlushBuffer() {
  const size_t capacity = buffer_.empty() ? kBytesSaverFirstCapacity : buffer_.size() * 2;
  buffer_.resize(capacity);
}

void TBytesTextSaver::Close() {
  if (used_ == 0 && buffer_.size() == 0) return;
  buffer_.resize(used_);
  buffer_.shrink_to_fit();
  // The array now holds exactly the text; further writes append to it.
}

std::string TBytesTextSaver::TakeBytes() {
  Close();
  std::string out = std::move(buffer_);
  buffer_.clear();
  used_ = 0;
  return out;
}

// ---- TValueTextSaver ----

void TValueTextSaver::WriteText(std::u16string_view text, ptrdiff_t start, ptrdiff_t count) {
  WriteBytes(UTF8EncodeStrRange(text, start, count));
}

void TValueTextSaver::WriteBytes(std::string_view bytes) {
  size_t from = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\\') continue;
    TBytesTextSaver::WriteBytes(bytes.substr(from, i + 1 - from));
    from = i;  // the backslash goes out a second time with the next piece
  }
  TBytesTextSaver::WriteBytes(bytes.substr(from));
}

void TValueTextSaver::WriteLineBreak() { TBytesTextSaver::WriteBytes("\\n"); }

}  // namespace kav
