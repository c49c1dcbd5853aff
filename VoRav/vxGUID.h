// GUIDs: creation and the braced text form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kav {

// A GUID in its in-memory layout: a 32-bit, two 16-bit fields and 8 bytes.
struct TGUID {
  uint32_t D1 = 0;
  uint16_t D2 = 0;
  uint16_t D3 = 0;
  uint8_t D4[8] = {};
  friend bool operator==(const TGUID&, const TGUID&) = default;
};

// A new random GUID (version 4) from the system's random source; when that
// fails, from the run-time random generator.
TGUID CreateGUID();

// 38 characters, upper-case hex: "{", D1 (8 digits), "-", D2 (4), "-", D3 (4),
// "-", D4[0..1] (2 each), "-", D4[2..7] (2 each), "}".
std::u16string GUIDToString(const TGUID& guid);

// Parses the form GUIDToString writes (hex digits of either case). False,
// with `guid` untouched, unless the text has 38 characters, braces at both
// ends, "-" at indexes 9, 14, 19 and 24 and hex digits everywhere else.
bool TryStringToGUID(std::u16string_view text, TGUID& guid);

}  // namespace kav
