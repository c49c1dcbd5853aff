#include "VoRav/Text/vxTextVectorizer.h"

#include <atomic>

#include "VoRav/Text/vxTextDescriptors.h"

namespace kav {
namespace {

std::atomic<TVectorizerFactory> g_factory{nullptr};

}  // namespace

Ref<TVectorizer> CreateVectorizer() {
  TVectorizerFactory f = g_factory.load();
  return f ? f() : Ref<TVectorizer>();
}

TVectorizerFactory SetVectorizerFactory(TVectorizerFactory factory) { return g_factory.exchange(factory); }

void ParseGlyphFontKey(const std::u16string& key, std::u16string& face, uint8_t& style) {
  const size_t colon = key.find(u':');
  face = key.substr(0, colon);
  style = 0;
  if (colon == std::u16string::npos) return;
  // At most four names; blanks and tabs between them are skipped.
  std::u16string names;
  for (char16_t c : key.substr(colon + 1))
    if (c != u' ' && c != u'\t') names += c;
  int parts = 0;
  size_t pos = 0;
  while (pos <= names.size() && parts < 4) {
    size_t comma = names.find(u',', pos);
    if (comma == std::u16string::npos) comma = names.size();
    style |= FontStyleFromText(std::u16string_view(names).substr(pos, comma - pos));
    ++parts;
    pos = comma + 1;
  }
}

}  // namespace kav
