#include "KavLib2/KavViewer/KavShowNames.h"

#include "VoRav/vxCaseFolding.h"
#include "VoRav/vxPaths.h"

namespace kav {

bool NormalShowName(std::u16string_view name, std::u16string& normal) {
  normal.clear();
  size_t i = 0;
  for (; i < name.size() && IsPathDelimiter(name[i]); ++i) normal += u'\\';
  const size_t lead = normal.size();
  while (i < name.size()) {
    size_t end = i;
    while (end < name.size() && !IsPathDelimiter(name[end])) ++end;
    const std::u16string_view part = name.substr(i, end - i);
    if (IsParentComponent(part)) {
      normal.clear();
      return false;
    }
    if (!part.empty() && part != u".") {
      if (normal.size() > lead) normal += u'\\';
      normal += part;
    }
    i = end + 1;
  }
  return normal.size() > lead;
}

std::u16string ShowNameMatchKey(std::u16string_view name) {
  std::u16string normal;
  return NormalShowName(name, normal) ? FileNameMatchKey(normal) : std::u16string();
}

}  // namespace kav
