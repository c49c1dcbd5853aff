// Text readers: turn a byte stream into UTF-16 text, each recognising its
// own encoding by the stream's first bytes: UTF-16 little-endian (FF FE),
// UTF-16 big-endian (FE FF), UTF-8 (EF BB BF) and the ANSI code page (any
// stream; see wpCharConvert.h).
//
// Reader classes are registered at start-up (RegisterStandardTextReaders);
// the registry lists them newest first, so the ANSI reader, which accepts
// every stream, comes first. OpenTextReader asks them oldest first instead,
// so a byte-order mark wins over the ANSI fallback.
//
// A reader holds a reference to its stream and reads it forward from where
// it stands. Bad bytes raise EInvalidChar; a position that does not belong
// to the reader and its current buffer raises EIncorrectPositionValue.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "VoRav/SysObj2.h"
#include "VoRav/vxStream.h"
#include "VoRav/wpCharConvert.h"
#include "VoRav/wpExceptions.h"

namespace kav {

KAV_DECLARE_COMMON_EXCEPTION(EInvalidChar, TCommonException);
KAV_DECLARE_COMMON_EXCEPTION(EIncorrectPositionValue, TCommonException);

class TTextReader;

// A saved reading position of one reader.
class TTextPosition : public TRefObject {
 public:
  TTextPosition(const TTextReader* owner, int64_t stream_position)
      : Owner(owner), StreamPosition(stream_position) {}
  const TTextReader* Owner;
  int64_t StreamPosition;  // where the next character's bytes begin
};

class TTextReader : public TRefObject {
 public:
  explicit TTextReader(TStream* stream) : stream_(stream) {}

  // Reads up to `count` characters into text[start ...] (the range must lie
  // within the text: an assertion) and answers how many came; fewer only at
  // the end of the stream.
  virtual size_t ReadText(std::u16string& text, size_t start, size_t count) = 0;
  // Reads and drops up to `count` characters, 2048 at a time; answers how many.
  virtual size_t ReadBytes(size_t count);
  virtual Ref<TTextPosition> SavePosition() = 0;
  virtual void RestorePosition(TTextPosition* position) = 0;

  TStream* Stream() const noexcept { return stream_.get(); }

 protected:
  Ref<TStream> stream_;
};

// One registered reader class: its encoding test (which leaves the stream
// after the byte-order mark when it answers true, and where it stood when it
// answers false) and its constructor.
struct TTextReaderClass {
  const char* Name;
  bool (*Detect)(TStream* stream);
  Ref<TTextReader> (*Create)(TStream* stream);
};

// Puts a class in front of the registry.
void RegisterTextReader(const TTextReaderClass* reader_class);
// Registers the UTF-16, UTF-16 big-endian, UTF-8 and ANSI readers, in that
// order, once.
void RegisterStandardTextReaders();
// The registered classes, newest first.
std::vector<const TTextReaderClass*> RegisteredTextReaders();
// A reader for the stream: the registered classes are asked oldest first;
// null when none accepts it. An unmarked stream that is valid UTF-8 and not
// plain ASCII gets the UTF-8 reader instead of the ANSI one.
Ref<TTextReader> OpenTextReader(TStream* stream);

// Reads two bytes per character. Keeps a 32768-byte buffer.
class TUnicodeReader : public TTextReader {
 public:
  static constexpr size_t kBufferSize = 32768;
  static const TTextReaderClass kClass;
  // At least two bytes remain and they are FF FE.
  static bool Detect(TStream* stream);

  explicit TUnicodeReader(TStream* stream);
  size_t ReadText(std::u16string& text, size_t start, size_t count) override;
  Ref<TTextPosition> SavePosition() override;
  void RestorePosition(TTextPosition* position) override;
  // Characters delivered so far.
  int64_t Delivered() const noexcept { return delivered_; }

 protected:
  // Decodes characters from the buffer into out[0 .. room); answers how
  // many. Stops where a character's bytes are not all in the buffer.
  virtual size_t ReadChars(char16_t* out, size_t room);
  // Called when the stream has ended and ReadChars can deliver no more.
  virtual void AtStreamEnd() {}
  size_t Available() const noexcept { return fill_ - index_; }

  std::vector<uint8_t> buffer_;
  size_t index_ = 0;
  size_t fill_ = 0;
  int64_t buffer_start_ = 0;  // stream position of buffer_[0]
  int64_t delivered_ = 0;
  char16_t pending_low_ = 0;  // the second half of a pair not yet delivered

 private:
  bool Refill();
};

class TUnicodeBEReader : public TUnicodeReader {
 public:
  static const TTextReaderClass kClass;
  // At least two bytes remain and they are FE FF.
  static bool Detect(TStream* stream);
  using TUnicodeReader::TUnicodeReader;

 protected:
  size_t ReadChars(char16_t* out, size_t room) override;
};

// UTF-8 with the sequences of up to six bytes the original UTF-8 allowed.
// Code points above U+FFFF become surrogate pairs; one that needs a pair
// when a single character of room is left gives its high half now and its
// low half on the next read.
class TUTF8Reader : public TUnicodeReader {
 public:
  static const TTextReaderClass kClass;
  // At least three bytes remain and they are EF BB BF.
  static bool Detect(TStream* stream);
  using TUnicodeReader::TUnicodeReader;

 protected:
  size_t ReadChars(char16_t* out, size_t room) override;
  // A sequence cut off by the end of the stream is an invalid character.
  void AtStreamEnd() override;
};

// Reads the ANSI code page through a converter and a 4096-byte buffer.
class TAnsiReader : public TTextReader {
 public:
  static constexpr size_t kBufferSize = 4096;
  static const TTextReaderClass kClass;
  // Accepts every stream and reads nothing.
  static bool Detect(TStream* stream);

  // Reads the default code page, or the one given.
  explicit TAnsiReader(TStream* stream, Ref<TAnsiCodePage> code_page = nullptr);
  // A lead byte that is the stream's last byte is left unread.
  size_t ReadText(std::u16string& text, size_t start, size_t count) override;
  Ref<TTextPosition> SavePosition() override;
  // Moves the stream back to the saved position; the reader's own positions only.
  void RestorePosition(TTextPosition* position) override;

 private:
  bool Refill();
  Ref<TCharConverter> converter_;
  std::vector<uint8_t> buffer_;
  size_t fill_ = 0;
  int64_t buffer_start_ = 0;
};

}  // namespace kav
