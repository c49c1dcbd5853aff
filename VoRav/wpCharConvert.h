// Code pages and byte-to-text converters for the ANSI text reader.
//
// A TAnsiCodePage holds the table of one single- or double-byte code page:
// for every byte value either its UTF-16 character, or, for a lead byte,
// the characters of the 256 two-byte sequences it starts. The tables are
// built once from the C library's converters (iconv "CP<n>"); a byte or a
// sequence the code page does not define maps to 0, as does a character
// outside the Basic Multilingual Plane.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "VoRav/SysObj2.h"

namespace kav {

// The system's ANSI code page: Windows-1252 here (see AnsiToWideRange).
uint32_t GetDefaultCodePage();

// Whether text without a byte-order mark is UTF-8 rather than ANSI text:
// every sequence is valid UTF-8 (shortest form, at most U+10FFFF; the
// library's 3-byte surrogate halves count as valid) and at least one byte is
// above 127. Plain ASCII answers false: it reads the same either way.
bool IsUnmarkedUTF8Text(std::string_view bytes) noexcept;

class TCharConverter;

class TCodePage : public TRefObject {
 public:
  virtual uint32_t Number() const = 0;
  // A new converter over this code page (the caller holds the reference).
  virtual Ref<TCharConverter> CreateConverter() = 0;
};

class TAnsiCodePage : public TCodePage {
 public:
  // The table of code page `number` (0: the default one). A code page the
  // system does not know gives a table of zeros (Valid() false).
  explicit TAnsiCodePage(uint32_t number = 0);

  uint32_t Number() const override { return number_; }
  bool Valid() const noexcept { return valid_; }
  Ref<TCharConverter> CreateConverter() override;

  bool IsLeadByte(uint8_t b) const noexcept { return static_cast<bool>(dbcs_[b]); }
  // The character of a single byte (0 for a lead byte or an undefined byte).
  char16_t Single(uint8_t b) const noexcept { return single_[b]; }
  // The character of a lead byte and a trail byte (0 when undefined).
  char16_t Double(uint8_t lead, uint8_t trail) const noexcept { return dbcs_[lead] ? (*dbcs_[lead])[trail] : 0; }

 private:
  using TDBCSInfo = std::array<char16_t, 256>;
  uint32_t number_;
  bool valid_ = false;
  std::array<char16_t, 256> single_{};
  std::array<std::unique_ptr<TDBCSInfo>, 256> dbcs_;
};

// Turns bytes into UTF-16 characters from a position in borrowed data.
class TCharConverter : public TRefObject {
 public:
  // The data to convert (borrowed: it must outlive the conversion); the
  // position goes back to 0.
  void SetData(std::span<const uint8_t> data) noexcept {
    data_ = data;
    position_ = 0;
  }
  void SetPosition(size_t position) noexcept { position_ = position < data_.size() ? position : data_.size(); }
  size_t Position() const noexcept { return position_; }
  // The bytes not yet converted.
  std::span<const uint8_t> GetBytes() const noexcept { return data_.subspan(position_); }
  virtual TCodePage* GetCodePage() = 0;
  // Converts from the position into out[0 .. room) and answers the
  // characters written; stops early when a character's bytes are not all there.
  virtual size_t Convert(char16_t* out, size_t room) = 0;

 protected:
  std::span<const uint8_t> data_;
  size_t position_ = 0;
};

class TAnsiConverter : public TCharConverter {
 public:
  explicit TAnsiConverter(Ref<TAnsiCodePage> code_page) : code_page_(std::move(code_page)) {}
  TCodePage* GetCodePage() override { return code_page_.get(); }
  // A lead byte takes the next byte as its trail byte; a lead byte that is
  // the last byte of the data stays unconverted.
  size_t Convert(char16_t* out, size_t room) override;

 private:
  Ref<TAnsiCodePage> code_page_;
};

}  // namespace kav
