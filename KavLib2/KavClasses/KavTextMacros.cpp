#include "KavLib2/KavClasses/KavTextMacros.h"

#include <array>

#include "VoRav/wpStringUtils.h"

namespace kav {

namespace {

// Macros whose value is the resolver's answer for the macro itself.
constexpr std::array<std::u16string_view, 22> kResolved = {
    u"<%SlideIndex%>",
    u"<%SlidesCount%>",
    u"<%MainImg.Width%>",
    u"<%MainImg.Height%>",
    u"<%MainImg.Exif.Comment%>",
    u"<%MainImg.Exif.Description%>",
    u"<%MainImg.PathNameExt%>",
    u"<%MainImg.IPTC.DocumentTitle%>",
    u"<%MainImg.IPTC.SpecialInstructions%>",
    u"<%MainImg.IPTC.AuthorByline%>",
    u"<%MainImg.IPTC.AuthorTitle%>",
    u"<%MainImg.IPTC.City%>",
    u"<%MainImg.IPTC.Sublocation%>",
    u"<%MainImg.IPTC.ProvinceState%>",
    u"<%MainImg.IPTC.Country%>",
    u"<%MainImg.IPTC.OTR%>",
    u"<%MainImg.IPTC.Headline%>",
    u"<%MainImg.IPTC.Credits%>",
    u"<%MainImg.IPTC.Source%>",
    u"<%MainImg.IPTC.Copyright%>",
    u"<%MainImg.IPTC.CaptionDescription%>",
    u"<%MainImg.IPTC.CaptionWriter%>",
};

enum Derivation { kFileName, kPathName, kFileNameExt, kFolderPath, kFolderName, kExifDate, kExifTime };

// Macros computed here, in the order of Derivation.
constexpr std::array<std::u16string_view, 7> kDerived = {
    u"<%MainImg.FileName%>",   u"<%MainImg.PathName%>",  u"<%MainImg.FileNameExt%>", u"<%MainImg.FolderPath%>",
    u"<%MainImg.FolderName%>", u"<%MainImg.Exif.Date%>", u"<%MainImg.Exif.Time%>",
};

constexpr std::u16string_view kPathNameExt = u"<%MainImg.PathNameExt%>";

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// Index of the last separator, or npos.
size_t LastSeparator(std::u16string_view path) {
  for (size_t i = path.size(); i > 0; --i)
    if (IsSeparator(path[i - 1])) return i - 1;
  return std::u16string_view::npos;
}

// The macro (ASCII) equals text[at..] ignoring the case of the macro's
// letters; `lower` is the lower-cased text.
bool MacroAt(std::u16string_view lower, size_t at, std::u16string_view macro) {
  if (lower.size() - at < macro.size()) return false;
  for (size_t k = 0; k < macro.size(); ++k) {
    char16_t m = macro[k];
    if (m >= u'A' && m <= u'Z') m = char16_t(m + 32);
    if (lower[at + k] != m) return false;
  }
  return true;
}

}  // namespace

std::u16string TMTParser::Resolve(std::u16string_view macro) {
  std::u16string value;
  resolver_(this, macro, value);
  return value;
}

std::u16string TMTParser::Derived(int which) {
  if (which == kExifDate || which == kExifTime) {
    const std::u16string dt = Resolve(kDerived[size_t(which)]);
    const size_t blank = dt.find(u' ');
    if (blank == std::u16string::npos) return dt;
    return which == kExifDate ? dt.substr(0, blank) : dt.substr(blank + 1);
  }
  const std::u16string path = Resolve(kPathNameExt);
  const size_t sep = LastSeparator(path);
  const size_t name_start = sep == std::u16string::npos ? 0 : sep + 1;
  const std::u16string_view name = std::u16string_view(path).substr(name_start);
  const size_t dot = name.rfind(u'.');
  const size_t name_len = dot == std::u16string_view::npos ? name.size() : dot;
  switch (which) {
    case kFileName: return std::u16string(name.substr(0, name_len));
    case kPathName: return path.substr(0, name_start + name_len);
    case kFileNameExt: return std::u16string(name);
    default: break;
  }
  // The folder: everything before the last separator; a root folder keeps
  // its separator ("C:\", "/").
  std::u16string folder;
  if (sep != std::u16string::npos) {
    folder = path.substr(0, sep);
    if (folder.empty() || folder.back() == u':') folder = path.substr(0, sep + 1);
  }
  if (which == kFolderPath) return folder;
  if (!folder.empty() && IsSeparator(folder.back())) return {};  // a root has no name
  const size_t fsep = LastSeparator(folder);
  return fsep == std::u16string::npos ? folder : folder.substr(fsep + 1);
}

void TMTParser::Expand(std::u16string_view text, std::u16string& result) {
  KAV_ASSERT(resolver_.Assigned());
  // Lower-casing keeps the length (one UTF-16 unit for one), so positions
  // in `lower` are positions in `text`.
  const std::u16string lower = WideLowerCase(text);
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == u'<' && i + 1 < text.size() && text[i + 1] == u'%') {
      size_t len = 0;
      for (std::u16string_view m : kResolved)
        if (MacroAt(lower, i, m)) {
          out += Resolve(m);
          len = m.size();
          break;
        }
      if (len == 0)
        for (size_t d = 0; d < kDerived.size(); ++d)
          if (MacroAt(lower, i, kDerived[d])) {
            out += Derived(int(d));
            len = kDerived[d].size();
            break;
          }
      if (len != 0) {
        i += len;
        continue;
      }
    }
    out += text[i++];
  }
  if (out.empty()) out.push_back(u' ');
  result = std::move(out);
}

}  // namespace kav
