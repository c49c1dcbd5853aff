// The line parser of INI text, and the one-line value form's unescaping.
//
// The parser walks UTF-8 bytes one line at a time and tells what each line
// is; it builds nothing. "Blank" is any byte 0..32 other than CR and LF;
// ranges are trimmed of blanks at their right end. Values are taken verbatim:
// no quoting, no escapes.
//
//   [name]                      section header (text after "]" ignored)
//   object name:Class           object header ("object" in any case)
//   end                         end of the innermost object
//   name = value                key
//   ; comment / anything else   plain line (its whole trimmed text)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kav {

enum class TIniLineKind : uint8_t { Plain, Key, Section, Object, End };
enum class TIniLineBreak : uint8_t { CRLF, LFCR, CR, LF, EndOfText };

// One parsed line. Ranges are byte offsets into the parser's text.
struct TIniLine {
  TIniLineKind Kind = TIniLineKind::Plain;
  size_t NameStart = 0, NameLength = 0;    // key, section and object names
  size_t ValueStart = 0, ValueLength = 0;  // key value, object class, plain text
  size_t LineStart = 0, LineLength = 0;    // the line without indentation, trimmed
  int32_t Indent = 0;                      // leading blanks
  TIniLineBreak Break = TIniLineBreak::EndOfText;
};

struct TIniParser {
  std::string_view Text;
  size_t Position = 0;

  explicit TIniParser(std::string_view text) noexcept : Text(text) {}
  bool AtEnd() const noexcept { return Position >= Text.size(); }
  std::string_view Name(const TIniLine& l) const noexcept { return Text.substr(l.NameStart, l.NameLength); }
  std::string_view Value(const TIniLine& l) const noexcept { return Text.substr(l.ValueStart, l.ValueLength); }
  std::string_view Line(const TIniLine& l) const noexcept { return Text.substr(l.LineStart, l.LineLength); }
};

// Reads the line at the parser's position and steps past its line break
// (CR LF and LF CR count as one). At the end of the text it answers an empty
// plain line. Linear in the line's length; never reads outside the text.
void IniParseLine(TIniParser& parser, TIniLine& line) noexcept;

// The one-line value form back to text: a backslash pair becomes one
// backslash and backslash "n" becomes CR LF. False (and `out` undefined) when
// a backslash is followed by anything else or stands alone at the end.
bool IniUnescape(std::string_view bytes, std::string& out);

}  // namespace kav
