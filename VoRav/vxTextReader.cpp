#include "VoRav/vxTextReader.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string_view>

namespace kav {

// ---- registry

namespace {

std::mutex g_registry_lock;
std::vector<const TTextReaderClass*> g_registry;  // newest first

// Reads `n` bytes and compares them with `mark`; the stream goes back when
// they differ or are not all there.
bool ReadMark(TStream* stream, const uint8_t* mark, size_t n) {
  if (!stream) return false;
  const int64_t at = stream->GetPosition();
  uint8_t got[3] = {};
  if (stream->Read(std::span<uint8_t>(got, n), static_cast<int64_t>(n)) == static_cast<int64_t>(n) &&
      std::memcmp(got, mark, n) == 0)
    return true;
  stream->SetPosition(at);
  return false;
}

// Whether the rest of the stream is UTF-8 without a mark (IsUnmarkedUTF8Text);
// the stream stays where it was. A stream of unknown or too large a size is not.
bool RestIsUnmarkedUTF8(TStream* stream) {
  const int64_t at = stream->GetPosition();
  const int64_t size = stream->GetSize();
  if (size <= at || size - at > kMaxTextStreamSize) return false;
  std::vector<uint8_t> rest(static_cast<size_t>(size - at));
  bool utf8 = false;
  try {
    const int64_t got = stream->Read(rest, static_cast<int64_t>(rest.size()));
    utf8 = got > 0 && IsUnmarkedUTF8Text(std::string_view(reinterpret_cast<const char*>(rest.data()),
                                                          static_cast<size_t>(got)));
  } catch (const EStreamError&) {
    utf8 = false;
  }
  stream->SetPosition(at);
  return utf8;
}

template <class T>
Ref<TTextReader> Make(TStream* stream) {
  return Ref<TTextReader>::Adopt(new T(stream));
}

}  // namespace

const TTextReaderClass TUnicodeReader::kClass = {"TUnicodeReader", &TUnicodeReader::Detect, &Make<TUnicodeReader>};
const TTextReaderClass TUnicodeBEReader::kClass = {"TUnicodeBEReader", &TUnicodeBEReader::Detect,
                                                   &Make<TUnicodeBEReader>};
const TTextReaderClass TUTF8Reader::kClass = {"TUTF8Reader", &TUTF8Reader::Detect, &Make<TUTF8Reader>};
const TTextReaderClass TAnsiReader::kClass = {"TAnsiReader", &TAnsiReader::Detect, &Make<TAnsiReader>};

void RegisterTextReader(const TTextReaderClass* reader_class) {
  if (!reader_class) return;
  std::lock_guard<std::mutex> hold(g_registry_lock);
  g_registry.insert(g_registry.begin(), reader_class);
}

void RegisterStandardTextReaders() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterTextReader(&TUnicodeReader::kClass);
    RegisterTextReader(&TUnicodeBEReader::kClass);
    RegisterTextReader(&TUTF8Reader::kClass);
    RegisterTextReader(&TAnsiReader::kClass);
  });
}

std::vector<const TTextReaderClass*> RegisteredTextReaders() {
  std::lock_guard<std::mutex> hold(g_registry_lock);
  return g_registry;
}

Ref<TTextReader> OpenTextReader(TStream* stream) {
  if (!stream) return nullptr;
  auto classes = RegisteredTextReaders();
  for (auto it = classes.rbegin(); it != classes.rend(); ++it) {
    if (!(*it)->Detect(stream)) continue;
    // Departure: an unmarked stream of valid UTF-8 (as Linux editors write it) gets the UTF-8 reader.
    if (*it == &TAnsiReader::kClass && RestIsUnmarkedUTF8(stream)) return TUTF8Reader::kClass.Create(stream);
    return (*it)->Create(stream);
  }
  return nullptr;
}

// ---- base

size_t TTextReader::ReadBytes(size_t count) {
  std::u16string scratch(2048, u'\0');
  size_t done = 0;
  while (done < count) {
    size_t want = std::min<size_t>(2048, count - done);
    size_t got = ReadText(scratch, 0, want);
    done += got;
    if (got < want) break;
  }
  return done;
}

// ---- UTF-16

bool TUnicodeReader::Detect(TStream* stream) {
  static const uint8_t kMark[] = {0xFF, 0xFE};
  return ReadMark(stream, kMark, 2);
}

bool TUnicodeBEReader::Detect(TStream* stream) {
  static const uint8_t kMark[] = {0xFE, 0xFF};
  return ReadMark(stream, kMark, 2);
}

bool TUTF8Reader::Detect(TStream* stream) {
  static const uint8_t kMark[] = {0xEF, 0xBB, 0xBF};
  return ReadMark(stream, kMark, 3);
}

TUnicodeReader::TUnicodeReader(TStream* stream) : TTextReader(stream), buffer_(kBufferSize) {
  buffer_start_ = stream ? stream->GetPosition() : 0;
}

bool TUnicodeReader::Refill() {
  if (!stream_) return false;
  const size_t left = Available();
  if (left && index_) std::memmove(buffer_.data(), buffer_.data() + index_, left);
  buffer_start_ += static_cast<int64_t>(index_);
  index_ = 0;
  fill_ = left;
  const int64_t got = stream_->Read(std::span<uint8_t>(buffer_), static_cast<int64_t>(kBufferSize - left),
                                    static_cast<int64_t>(left));
  if (got <= 0) return false;
  fill_ += static_cast<size_t>(got);
  return true;
}

size_t TUnicodeReader::ReadText(std::u16string& text, size_t start, size_t count) {
  KAV_ASSERT(start <= text.size() && count <= text.size() - start);
  size_t done = 0;
  while (done < count) {
    size_t n = ReadChars(text.data() + start + done, count - done);
    done += n;
    if (done == count) break;
    if (n == 0 && !Refill()) {
      AtStreamEnd();
      break;
    }
  }
  delivered_ += static_cast<int64_t>(done);
  return done;
}

size_t TUnicodeReader::ReadChars(char16_t* out, size_t room) {
  size_t n = 0;
  while (n < room && Available() >= 2) {
    out[n++] = static_cast<char16_t>(buffer_[index_] | (buffer_[index_ + 1] << 8));
    index_ += 2;
  }
  return n;
}

size_t TUnicodeBEReader::ReadChars(char16_t* out, size_t room) {
  size_t n = 0;
  while (n < room && Available() >= 2) {
    out[n++] = static_cast<char16_t>((buffer_[index_] << 8) | buffer_[index_ + 1]);
    index_ += 2;
  }
  return n;
}

namespace {

class TUnicodeTextPosition : public TTextPosition {
 public:
  TUnicodeTextPosition(const TTextReader* owner, int64_t buffer_start, size_t index, char16_t pending_low)
      : TTextPosition(owner, buffer_start + static_cast<int64_t>(index)),
        BufferStart(buffer_start),
        BufferIndex(index),
        PendingLow(pending_low) {}
  int64_t BufferStart;
  size_t BufferIndex;
  char16_t PendingLow;
};

}  // namespace

Ref<TTextPosition> TUnicodeReader::SavePosition() {
  return Ref<TTextPosition>::Adopt(new TUnicodeTextPosition(this, buffer_start_, index_, pending_low_));
}

void TUnicodeReader::RestorePosition(TTextPosition* position) {
  auto* p = dynamic_cast<TUnicodeTextPosition*>(position);
  if (!p || p->Owner != this || p->BufferStart != buffer_start_ || p->BufferIndex > fill_)
    throw EIncorrectPositionValue();
  index_ = p->BufferIndex;
  pending_low_ = p->PendingLow;
}

// ---- UTF-8

size_t TUTF8Reader::ReadChars(char16_t* out, size_t room) {
  size_t n = 0;
  while (n < room) {
    if (pending_low_) {
      out[n++] = pending_low_;
      pending_low_ = 0;
      continue;
    }
    if (Available() == 0) break;
    const uint8_t lead = buffer_[index_];
    size_t len;
    uint32_t cp;
    if (lead < 0x80) {
      len = 1, cp = lead;
    } else if (lead < 0xC0) {
      throw EInvalidChar();  // a continuation byte without a lead byte
    } else if (lead < 0xE0) {
      len = 2, cp = lead & 0x1F;
    } else if (lead < 0xF0) {
      len = 3, cp = lead & 0x0F;
    } else if (lead < 0xF8) {
      len = 4, cp = lead & 0x07;
    } else if (lead < 0xFC) {
      len = 5, cp = lead & 0x03;
    } else if (lead < 0xFE) {
      len = 6, cp = lead & 0x01;
    } else {
      throw EInvalidChar();
    }
    if (Available() < len) break;  // the rest comes with the next refill
    for (size_t k = 1; k < len; ++k) {
      const uint8_t c = buffer_[index_ + k];
      if ((c & 0xC0) != 0x80) throw EInvalidChar();
      cp = (cp << 6) | (c & 0x3F);
    }
    // Above the last code point a pair can carry: bad input, not a broken
    // invariant, so it is refused as an invalid character.
    if (cp > 0x10FFFF) throw EInvalidChar();
    index_ += len;
    if (cp < 0x10000) {
      out[n++] = static_cast<char16_t>(cp);
      continue;
    }
    const char16_t high = static_cast<char16_t>(0xD800 + ((((cp >> 16) - 1) << 6) + ((cp & 0xFFFF) >> 10)));
    const char16_t low = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    out[n++] = high;
    if (n < room)
      out[n++] = low;
    else
      pending_low_ = low;
  }
  return n;
}

void TUTF8Reader::AtStreamEnd() {
  if (Available() != 0) throw EInvalidChar();
}

// ---- ANSI

bool TAnsiReader::Detect(TStream*) { return true; }

TAnsiReader::TAnsiReader(TStream* stream, Ref<TAnsiCodePage> code_page)
    : TTextReader(stream), buffer_(kBufferSize) {
  if (!code_page) code_page = MakeRef<TAnsiCodePage>(0);
  converter_ = code_page->CreateConverter();
  converter_->SetData(std::span<const uint8_t>(buffer_.data(), 0));
  buffer_start_ = stream ? stream->GetPosition() : 0;
}

bool TAnsiReader::Refill() {
  if (!stream_) return false;
  const size_t index = converter_->Position();
  const size_t left = fill_ - index;
  if (left && index) std::memmove(buffer_.data(), buffer_.data() + index, left);
  buffer_start_ += static_cast<int64_t>(index);
  fill_ = left;
  const int64_t got =
      stream_->Read(std::span<uint8_t>(buffer_), static_cast<int64_t>(kBufferSize - left), static_cast<int64_t>(left));
  if (got > 0) fill_ += static_cast<size_t>(got);
  converter_->SetData(std::span<const uint8_t>(buffer_.data(), fill_));
  return got > 0;
}

size_t TAnsiReader::ReadText(std::u16string& text, size_t start, size_t count) {
  KAV_ASSERT(start <= text.size() && count <= text.size() - start);
  size_t done = 0;
  while (done < count) {
    size_t n = converter_->Convert(text.data() + start + done, count - done);
    done += n;
    if (done < count && n == 0 && !Refill()) break;
  }
  return done;
}

Ref<TTextPosition> TAnsiReader::SavePosition() {
  return MakeRef<TTextPosition>(this, buffer_start_ + static_cast<int64_t>(converter_->Position()));
}

void TAnsiReader::RestorePosition(TTextPosition* position) {
  if (!position || position->Owner != this || dynamic_cast<TUnicodeTextPosition*>(position))
    throw EIncorrectPositionValue();
  if (!stream_ || stream_->SetPosition(position->StreamPosition) != position->StreamPosition)
    throw EIncorrectPositionValue();
  buffer_start_ = position->StreamPosition;
  fill_ = 0;
  converter_->SetData(std::span<const uint8_t>(buffer_.data(), 0));
}

}  // namespace kav
