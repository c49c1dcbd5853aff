// Separated parts, byte-string arrays, key and value pairs, line scanning.
#include "VoRav/vxByteStringLists.h"

#include <algorithm>
#include <limits>

#include "VoRav/vxByteStringUtils.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

constexpr uint32_t kCompact = 0x80000000u;
constexpr int kCompactFields = 5;
constexpr uint32_t kCompactLimit = 63;

size_t SeparatorCount(const TByteStringParts& parts) noexcept {
  if (!(parts.Positions & kCompact)) return parts.Positions;
  size_t n = 0;
  while (n < kCompactFields && ((parts.Positions >> (6 * n)) & 63)) ++n;
  return n;
}

size_t SeparatorAt(const TByteStringParts& parts, size_t i) noexcept {
  if (parts.Positions & kCompact) return ((parts.Positions >> (6 * i)) & 63) - 1;
  return size_t(parts.Extra[i]);
}

void AddPosition(TByteStringParts& parts, uint32_t position) {
  if (parts.Positions & kCompact) {
    const size_t n = SeparatorCount(parts);
    if (n < kCompactFields && position < kCompactLimit) {
      parts.Positions |= (position + 1) << (6 * n);
      return;
    }
    parts.Extra.assign(8, 0);
    for (size_t i = 0; i < n; ++i) parts.Extra[i] = int32_t(SeparatorAt(parts, i));
    parts.Positions = uint32_t(n);
  }
  if (parts.Positions == parts.Extra.size()) parts.Extra.resize(parts.Extra.size() * 2);
  parts.Extra[parts.Positions++] = int32_t(position);
}

inline bool IsBlank(char c) noexcept { return uint8_t(c) < 0x21; }

}  // namespace

void ByteStringSplit(const TByteString& s, char separator, TByteStringParts& parts) {
  KAV_ASSERT(s.size() <= size_t(std::numeric_limits<int32_t>::max()));
  parts.Text = s;
  parts.Positions = kCompact;
  parts.Extra.clear();
  for (size_t i = 0; i < s.size(); ++i)
    if (s[i] == separator) AddPosition(parts, uint32_t(i));
}

void ByteStringSplitWide(std::u16string_view text, char separator, TByteStringParts& parts) {
  ByteStringSplit(UTF8Encode(text), separator, parts);
}

size_t ByteStringListCount(const TByteStringParts& parts) noexcept {
  return parts.Text.empty() ? 0 : SeparatorCount(parts) + 1;
}

bool ByteStringListPartBounds(const TByteStringParts& parts, ptrdiff_t n, size_t& start,
                              size_t& length) noexcept {
  if (n < 0 || size_t(n) >= ByteStringListCount(parts)) return false;
  const size_t separators = SeparatorCount(parts);
  start = n == 0 ? 0 : SeparatorAt(parts, size_t(n) - 1) + 1;
  const size_t end = size_t(n) < separators ? SeparatorAt(parts, size_t(n)) : parts.Text.size();
  length = end - start;
  return length > 0;
}

std::u16string ByteStringListGetString(const TByteStringParts& parts, ptrdiff_t n) {
  size_t start, length;
  if (!ByteStringListPartBounds(parts, n, start, length)) return {};
  return UTF8Decode(std::string_view(parts.Text).substr(start, length));
}

TByteString ByteStringListGetPart(const TByteStringParts& parts, ptrdiff_t n) {
  size_t start, length;
  if (!ByteStringListPartBounds(parts, n, start, length)) return {};
  return parts.Text.substr(start, length);
}

int32_t ByteStringListGetInt(const TByteStringParts& parts, ptrdiff_t n, int32_t def) noexcept {
  size_t start, length;
  if (!ByteStringListPartBounds(parts, n, start, length)) return def;
  return ByteStringToIntDef(std::string_view(parts.Text).substr(start, length), def);
}

double ByteStringListGetFloat(const TByteStringParts& parts, ptrdiff_t n, double def) noexcept {
  size_t start, length;
  if (!ByteStringListPartBounds(parts, n, start, length)) return def;
  return ByteStringToFloatDef(std::string_view(parts.Text).substr(start, length), def);
}

size_t ByteStringArraySlotCount(const TByteStringArray& a) noexcept {
  return a.IndexMap.empty() ? a.Items.size() : size_t(a.IndexMap.back()) + 1;
}

size_t ByteStringArrayAdd(TByteStringArray& a, TByteString s) {
  if (a.Items.capacity() == 0) a.Items.reserve(16);
  if (!a.IndexMap.empty()) a.IndexMap.push_back(a.IndexMap.back() + 1);
  a.Items.push_back(std::move(s));
  return a.Items.size() - 1;
}

void ByteStringListAppendWide(TByteStringArray& a, std::u16string_view text, int32_t slot) {
  const int64_t last = int64_t(ByteStringArraySlotCount(a)) - 1;
  KAV_ASSERT_MSG(slot > last, "Slot numbers must increase");
  if (a.IndexMap.empty() && size_t(slot) != a.Items.size()) {
    a.IndexMap.reserve(a.Items.size() + 1);
    for (size_t i = 0; i < a.Items.size(); ++i) a.IndexMap.push_back(int32_t(i));
  }
  if (!a.IndexMap.empty()) a.IndexMap.push_back(slot);
  if (a.Items.capacity() == 0) a.Items.reserve(16);
  a.Items.push_back(UTF8Encode(text));
}

int ReadKeyValuePairs(const TByteStringArray& keys, TByteStringArray& values, std::string_view text,
                      char terminator, char separator) {
  values.Items.assign(ByteStringArraySlotCount(keys), TByteString());
  values.IndexMap.clear();
  const size_t n = text.size();
  size_t pos = 0;
  size_t key_index = 0;
  int count = 0;
  while (true) {
    while (pos < n && IsBlank(text[pos])) ++pos;
    if (pos >= n) break;
    const size_t key_start = pos;
    const int not_read = -int(std::min<size_t>(key_start, size_t(std::numeric_limits<int>::max()) - 1)) - 1;
    const size_t sep = text.find(separator, pos);
    if (sep == std::string_view::npos) return not_read;
    size_t key_end = sep;
    while (key_end > key_start && IsBlank(text[key_end - 1])) --key_end;
    const std::string_view key = text.substr(key_start, key_end - key_start);
    while (key_index < keys.Items.size() && ByteStringCompareText(keys.Items[key_index], key) != 0)
      ++key_index;
    if (key_index >= keys.Items.size()) return not_read;

    pos = sep + 1;
    while (pos < n && IsBlank(text[pos])) ++pos;
    size_t value_end = text.find(terminator, pos);
    const size_t next = value_end == std::string_view::npos ? n : value_end + 1;
    if (value_end == std::string_view::npos) value_end = n;
    while (value_end > pos && IsBlank(text[value_end - 1])) --value_end;
    if (value_end > pos) {
      const size_t slot = keys.IndexMap.empty() ? key_index : size_t(keys.IndexMap[key_index]);
      values.Items[slot] = TByteString(text.substr(pos, value_end - pos));
    }
    ++count;
    pos = next;
  }
  return count;
}

bool ByteStringFindLineEnd(std::string_view text, size_t start, size_t& length) noexcept {
  if (start >= text.size()) return false;
  size_t i = start;
  while (i < text.size() && text[i] != '\r' && text[i] != '\n') ++i;
  length = i - start;
  return true;
}

void ByteStringSkipLineBreak(std::string_view text, size_t& start, size_t& length) {
  size_t i = start + length;
  KAV_ASSERT_MSG(i < text.size() && (text[i] == '\r' || text[i] == '\n'), "No line break");
  const char first = text[i++];
  if (i < text.size() && (text[i] == '\r' || text[i] == '\n') && text[i] != first) ++i;
  start = i;
  if (!ByteStringFindLineEnd(text, start, length)) length = 0;
}

}  // namespace kav
