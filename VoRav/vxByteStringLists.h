// Lists inside byte strings: separated parts, arrays of byte strings, key and
// value pairs, and line scanning. Values in the INI model are often lists of
// numbers separated by commas, or of name and value pairs.
//
// Positions are 0-based byte indexes; part numbers are 0-based.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "VoRav/vxByteString.h"

namespace kav {

// A byte string and the positions of its separators. Up to 5 positions, each
// below 63, are packed into Positions (bit 31 set, position + 1 in 6-bit
// fields from bit 0 upward, a zero field ending the list). From the sixth
// position, or the first one of 63 or more, they live in Extra (8 entries at
// first, doubling) and Positions holds their count.
struct TByteStringParts {
  TByteString Text;
  uint32_t Positions = 0x80000000u;
  std::vector<int32_t> Extra;
};

// Records every position of the separator byte.
void ByteStringSplit(const TByteString& s, char separator, TByteStringParts& parts);
// The same on the library's UTF-8 form of wide text.
void ByteStringSplitWide(std::u16string_view text, char separator, TByteStringParts& parts);

// 0 for an empty string, else the number of separators + 1.
size_t ByteStringListCount(const TByteStringParts& parts) noexcept;
// Part n runs from after separator n-1 (from 0 for n = 0) to separator n (to
// the end for the last part). False when n is out of range or the part is
// empty.
bool ByteStringListPartBounds(const TByteStringParts& parts, ptrdiff_t n, size_t& start,
                              size_t& length) noexcept;
// Part n decoded (invalid UTF-8 raises the "Invalid UTF8 Char" assertion),
// as bytes, or parsed (vxByteStringUtils.h); empty text or the default when
// the part is absent or empty.
std::u16string ByteStringListGetString(const TByteStringParts& parts, ptrdiff_t n);
TByteString ByteStringListGetPart(const TByteStringParts& parts, ptrdiff_t n);
int32_t ByteStringListGetInt(const TByteStringParts& parts, ptrdiff_t n, int32_t def) noexcept;
double ByteStringListGetFloat(const TByteStringParts& parts, ptrdiff_t n, double def) noexcept;

// An array of byte strings. IndexMap, when not empty, gives for each stored
// entry the slot number it stands for (increasing).
struct TByteStringArray {
  std::vector<TByteString> Items;
  std::vector<int32_t> IndexMap;
};

inline size_t ByteStringArrayCount(const TByteStringArray& a) noexcept { return a.Items.size(); }
// Appends and returns the new index (the next slot when there is a map).
size_t ByteStringArrayAdd(TByteStringArray& a, TByteString s);
// Appends the UTF-8 text for `slot`, which must be greater than the last
// slot (an assertion otherwise); the slot goes into the index map when it
// differs from the entry's position.
void ByteStringListAppendWide(TByteStringArray& a, std::u16string_view text, int32_t slot);
// The number of slots: the last mapped slot + 1 with a map, else the count.
size_t ByteStringArraySlotCount(const TByteStringArray& a) noexcept;

// Reads "key<separator>value<terminator>..." pairs. The values array is
// cleared and sized to the keys' slot count. For each pair: bytes below 0x21
// are skipped; the key runs to the separator (none: stop), trailing bytes
// below 0x21 cut; it is looked up case-insensitively among the keys from the
// last matched one on, so keys must come in the list's order (not found:
// stop); the value follows, without leading and trailing bytes below 0x21,
// up to the terminator or the end; a non-empty value is stored in the key's
// slot. Returns the number of pairs read, or -(position + 1) of the first key
// that could not be read.
int ReadKeyValuePairs(const TByteStringArray& keys, TByteStringArray& values, std::string_view text,
                      char terminator, char separator);

// The length from start up to the next CR or LF (or the end); false when
// start is at or past the end.
bool ByteStringFindLineEnd(std::string_view text, size_t start, size_t& length) noexcept;
// The line break at start + length (an assertion when there is none) is
// stepped over (CR LF and LF CR count as one); start becomes the next line's
// start and length its length.
void ByteStringSkipLineBreak(std::string_view text, size_t& start, size_t& length);

}  // namespace kav
