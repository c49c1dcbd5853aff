#include "VoRav/Text/vxTextDescriptors.h"

namespace kav {
namespace {

constexpr const char16_t* kStyleNames[4] = {u"Bold", u"Italic", u"Underline", u"StrikeOut"};

}  // namespace

std::u16string FontStyleToText(uint8_t style) {
  std::u16string text;
  for (int bit = 0; bit < 4; ++bit) {
    if (!(style & (1 << bit))) continue;
    if (!text.empty()) text += u',';
    text += kStyleNames[bit];
  }
  return text;
}

uint8_t FontStyleFromText(std::u16string_view text) {
  uint8_t style = 0;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t comma = text.find(u',', pos);
    if (comma == std::u16string_view::npos) comma = text.size();
    const std::u16string_view part = text.substr(pos, comma - pos);
    for (int bit = 0; bit < 4; ++bit)
      if (part == kStyleNames[bit]) style |= uint8_t(1 << bit);
    pos = comma + 1;
  }
  return style;
}

}  // namespace kav

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>

#include "VoRav/wpStringUtils.h"

namespace kav {

const char16_t* const kDefaultFaceName = u"Arial";
const char16_t* const kDefaultText = u"Text";
const char16_t* const kShortDatePattern = u"DD.MM.YYYY";
const char16_t* const kLongDatePattern = u"D MMMM YYYY";

namespace {

constexpr std::u16string_view kTextPrefix = u"Text: ";
constexpr std::u16string_view kVectPrefix = u"VectTxt2: ";
std::atomic<TTranslateHook> g_translate{nullptr};

std::string Narrow(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out += c < 128 ? char(c) : '?';
  return out;
}

// A whole-field number; false for anything else (blank, trailing text,
// not finite).
bool ParseDouble(std::u16string_view field, double& out) {
  const std::string s = Narrow(field);
  if (s.empty() || s.find_first_of(" \t") != std::string::npos) return false;
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

// The nine fields of a key body: eight up to each ":", the ninth the rest.
std::vector<std::u16string_view> KeyFields(std::u16string_view body, size_t count) {
  std::vector<std::u16string_view> fields;
  while (fields.size() + 1 < count) {
    const size_t colon = body.find(u':');
    if (colon == std::u16string_view::npos) break;
    fields.push_back(body.substr(0, colon));
    body.remove_prefix(colon + 1);
  }
  fields.push_back(body);
  return fields;
}

}  // namespace

std::u16string FormatKeyFloat(double value, int decimals) {
  if (!std::isfinite(value)) value = 0;
  char buf[400];
  const int n = std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  size_t len = n > 0 ? std::min(size_t(n), sizeof buf - 1) : 0;
  if (std::memchr(buf, '.', len)) {
    while (len > 0 && buf[len - 1] == '0') --len;
    if (len > 0 && buf[len - 1] == '.') --len;
  }
  if (len == 2 && buf[0] == '-' && buf[1] == '0') return std::u16string(1, u'0');
  return std::u16string(buf, buf + len);
}

std::u16string TextParamsKey(const TTextParams& p, const std::vector<std::u16string>& lines) {
  const std::u16string fields[] = {p.FaceName,
                                   FormatKeyFloat(p.Scale, 6),
                                   FormatKeyFloat(p.Float1, 6),
                                   FormatKeyFloat(p.Float2, 6),
                                   FontStyleToText(p.Style),
                                   FormatKeyFloat(p.Alignment, 0),
                                   FormatKeyFloat(p.Value, 6),
                                   FormatKeyFloat(p.LineSpacing, 2),
                                   JoinQuotedLines(lines)};
  std::u16string key(kTextPrefix);
  for (const std::u16string& f : fields) {
    if (&f != fields) key += u':';
    key += f;
  }
  return key;
}

void ParseTextParamsKey(std::u16string_view key, std::vector<std::u16string>& lines, TTextParams& params) {
  params = TTextParams();
  lines.clear();
  if (key.size() < kTextPrefix.size() + 1) return;
  const auto f = KeyFields(key.substr(kTextPrefix.size()), 9);
  const TTextParams def;
  double v;
  if (f.size() > 0) params.FaceName = std::u16string(f[0]);
  if (f.size() > 1) params.Scale = ParseDouble(f[1], v) ? v : def.Scale;
  if (f.size() > 2) params.Float1 = ParseDouble(f[2], v) && std::fabs(v) <= 3.4e38 ? float(v) : def.Float1;
  if (f.size() > 3) params.Float2 = ParseDouble(f[3], v) && std::fabs(v) <= 3.4e38 ? float(v) : def.Float2;
  if (f.size() > 4) params.Style = FontStyleFromText(f[4]);
  if (f.size() > 5) params.Alignment = ParseDouble(f[5], v) && v >= 0 && v <= 255 ? uint8_t(v) : def.Alignment;
  if (f.size() > 6) params.Value = ParseDouble(f[6], v) ? v : def.Value;
  if (f.size() > 7)
    params.LineSpacing = ParseDouble(f[7], v) && std::fabs(v) < 2e9 ? int32_t(std::nearbyint(v)) : def.LineSpacing;
  if (f.size() > 8) SplitQuotedLines(f[8], lines);
}

std::u16string VectTxtKeyFromTextKey(std::u16string_view key) {
  std::u16string out(kVectPrefix);
  if (key.size() < kTextPrefix.size()) return out;
  const auto f = KeyFields(key.substr(kTextPrefix.size()), 9);
  out += f.size() > 0 ? f[0] : u"";
  out += u':';
  out += f.size() > 4 ? f[4] : u"";
  out += u':';
  out += f.size() > 8 ? f[8] : u"";
  return out;
}

void ParseVectTxtKey(std::u16string_view key, std::vector<std::u16string>& lines, std::u16string& face,
                     uint8_t& style) {
  lines.clear();
  face.clear();
  style = 0;
  if (key.size() < kVectPrefix.size()) return;
  const auto f = KeyFields(key.substr(kVectPrefix.size()), 3);
  if (f.size() > 0) face = std::u16string(f[0]);
  if (f.size() > 1) style = FontStyleFromText(f[1]);
  if (f.size() > 2) SplitQuotedLines(f[2], lines);
}

void SplitQuotedLines(std::u16string_view text, std::vector<std::u16string>& lines) {
  if (text.size() >= 2) {
    if (text.front() == u'"') text.remove_prefix(1);
    if (!text.empty() && text.back() == u'"') text.remove_suffix(1);
  }
  std::u16string line;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      lines.push_back(line);
      line.clear();
      const char16_t other = c == u'\r' ? u'\n' : u'\r';
      if (i + 1 < text.size() && text[i + 1] == other) ++i;
    } else {
      line += c;
    }
  }
  lines.push_back(line);
}

std::u16string JoinQuotedLines(const std::vector<std::u16string>& lines) {
  std::u16string out(1, u'"');
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) out += u"\r\n";
    out += lines[i];
  }
  out += u'"';
  return out;
}

std::vector<std::u16string> EscapeMarkupLines(const std::vector<std::u16string>& lines) {
  std::vector<std::u16string> out;
  for (const std::u16string& line : lines) {
    std::u16string e;
    bool in_caps = false;
    const std::u16string lower = WideLowerCase(line);
    for (size_t i = 0; i < line.size(); ++i) {
      const char16_t c = line[i];
      const bool cap = lower.size() == line.size() && lower[i] != c;
      if (cap && !in_caps) e += u'<';
      if (!cap && in_caps) e += u'>';
      in_caps = cap;
      if (c == u'<') e += u"<<";
      else if (c == u'>') e += u">>";
      else e += c;
    }
    if (in_caps) e += u'>';
    out.push_back(std::move(e));
  }
  return out;
}

std::u16string StripMarkupTags(std::u16string_view text) {
  std::u16string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if ((c == u'<' || c == u'>') && i + 1 < text.size() && text[i + 1] == c) {
      out += c;
      ++i;
    } else if (c == u'<') {
      const size_t close = text.find(u'>', i + 1);
      if (close == std::u16string_view::npos) break;  // an unclosed tag runs to the end
      i = close;
    } else {
      out += c;
    }
  }
  return out;
}

void SetTranslateHook(TTranslateHook hook) { g_translate = hook; }

std::u16string TranslateString(const std::u16string& text) {
  TTranslateHook hook = g_translate.load();
  return hook ? hook(text) : text;
}

}  // namespace kav
