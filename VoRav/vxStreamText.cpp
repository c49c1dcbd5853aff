// Reading a whole text stream as UTF-8 bytes, whatever its byte-order mark.
#include <algorithm>
#include <string>
#include <string_view>

#include "VoRav/vxStream.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpCharConvert.h"
#include "VoRav/wpStringUtils.h"

namespace kav {

namespace {

void AssignUTF8(std::vector<uint8_t>& bytes, const std::u16string& text) {
  const std::string utf8 = UTF8Encode(text);
  bytes.assign(utf8.begin(), utf8.end());
}

}  // namespace

uint8_t StreamReadTextUTF8(TStream* stream, std::vector<uint8_t>& bytes, uint32_t code_page) {
  bytes.clear();
  const int64_t size = stream->GetSize();
  if (size < 0 || size > kMaxTextStreamSize) return 0;
  const int64_t start = stream->GetPosition();
  const int64_t rest = size > start ? size - start : 0;

  uint8_t mark[3];
  const int64_t marked = stream->Read(mark, 3);
  if (marked == 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF) {
    const int64_t n = std::max<int64_t>(rest - 3, 0);  // a stream may deliver more than its size said
    bytes.resize(static_cast<size_t>(n));
    const int64_t got = stream->Read(bytes, n);
    bytes.resize(static_cast<size_t>(got));
    return got < n ? 0 : 1;
  }
  if (marked >= 2 && mark[0] == 0xFF && mark[1] == 0xFE) {
    stream->SetPosition(start + 2);
    const int64_t chars = std::max<int64_t>(rest - 2, 0) / 2;  // a final odd byte is not a character
    std::u16string text(static_cast<size_t>(chars), u'\0');
    if (stream->ReadTextRange(text, 0, chars) < chars) return 0;
    AssignUTF8(bytes, text);
    return 2;
  }
  stream->SetPosition(start);
  std::vector<uint8_t> raw(static_cast<size_t>(rest));
  if (stream->Read(raw, rest) < rest) return 0;
  const std::string_view view(reinterpret_cast<const char*>(raw.data()), raw.size());
  // Departure: unmarked text that is valid UTF-8 (as Linux editors write it) stays UTF-8, not ANSI.
  if (code_page == CP_ACP && IsUnmarkedUTF8Text(view)) {
    bytes = std::move(raw);
    return 3;
  }
  AssignUTF8(bytes, AnsiToWideRange(view, 0, static_cast<ptrdiff_t>(view.size()), code_page));
  return 3;
}

}  // namespace kav
