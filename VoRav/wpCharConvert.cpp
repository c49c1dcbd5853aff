#include "VoRav/wpCharConvert.h"

#include <iconv.h>

#include <cerrno>
#include <string>

namespace kav {

uint32_t GetDefaultCodePage() { return 1252; }

bool IsUnmarkedUTF8Text(std::string_view bytes) noexcept {
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t n = bytes.size();
  bool non_ascii = false;
  size_t i = 0;
  while (i < n) {
    const uint8_t lead = p[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    non_ascii = true;
    size_t extra = 0;
    uint8_t lo = 0x80, hi = 0xBF;  // the range of the first continuation byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      if (lead == 0xE0) lo = 0xA0;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      if (lead == 0xF0) lo = 0x90;
      if (lead == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (n - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const uint8_t c = p[i + k];
      if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF)) return false;
    }
    i += extra + 1;
  }
  return non_ascii;
}

namespace {

enum class TConvert { kChar, kIncomplete, kInvalid };

// Converts one byte sequence completely; a result of more than one UTF-16
// unit counts as undefined (0).
TConvert ConvertOne(iconv_t cd, const uint8_t* bytes, size_t n, char16_t& out) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // initial state
  char* in = reinterpret_cast<char*>(const_cast<uint8_t*>(bytes));
  size_t in_left = n;
  char16_t buf[8];
  char* o = reinterpret_cast<char*>(buf);
  size_t o_left = sizeof(buf);
  size_t rc = iconv(cd, &in, &in_left, &o, &o_left);
  if (rc == static_cast<size_t>(-1)) return errno == EINVAL ? TConvert::kIncomplete : TConvert::kInvalid;
  // Converters that hold back a character to combine it with the next one
  // give it up here.
  if (iconv(cd, nullptr, nullptr, &o, &o_left) == static_cast<size_t>(-1)) return TConvert::kInvalid;
  size_t units = (sizeof(buf) - o_left) / sizeof(char16_t);
  out = units == 1 ? buf[0] : 0;
  return TConvert::kChar;
}

}  // namespace

TAnsiCodePage::TAnsiCodePage(uint32_t number) : number_(number ? number : GetDefaultCodePage()) {
  const std::string name = "CP" + std::to_string(number_);
  iconv_t cd = iconv_open("UTF-16LE", name.c_str());
  if (cd == iconv_t(-1)) return;
  valid_ = true;
  for (int b = 0; b < 256; ++b) {
    uint8_t byte = static_cast<uint8_t>(b);
    char16_t c = 0;
    TConvert r = ConvertOne(cd, &byte, 1, c);
    if (r == TConvert::kChar) {
      single_[byte] = c;
    } else if (r == TConvert::kIncomplete) {
      auto info = std::make_unique<TDBCSInfo>();
      for (int t = 0; t < 256; ++t) {
        uint8_t pair[2] = {byte, static_cast<uint8_t>(t)};
        char16_t pc = 0;
        (*info)[static_cast<size_t>(t)] = ConvertOne(cd, pair, 2, pc) == TConvert::kChar ? pc : 0;
      }
      dbcs_[byte] = std::move(info);
    }
  }
  iconv_close(cd);
  // Windows-1252 gives its five unused bytes the control characters of the
  // same value, as the system converter and AnsiToWideRange do.
  if (number_ == 1252)
    for (uint8_t b : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
      if (!single_[b]) single_[b] = b;
}

Ref<TCharConverter> TAnsiCodePage::CreateConverter() {
  return Ref<TCharConverter>::Adopt(new TAnsiConverter(Ref<TAnsiCodePage>(this)));
}

size_t TAnsiConverter::Convert(char16_t* out, size_t room) {
  size_t written = 0;
  while (written < room && position_ < data_.size()) {
    uint8_t b = data_[position_];
    if (code_page_->IsLeadByte(b)) {
      if (position_ + 1 >= data_.size()) break;  // the trail byte is not there yet
      out[written++] = code_page_->Double(b, data_[position_ + 1]);
      position_ += 2;
    } else {
      out[written++] = code_page_->Single(b);
      ++position_;
    }
  }
  return written;
}

}  // namespace kav
