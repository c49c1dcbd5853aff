// Building INI trees from text: the document parser, assignment from other
// writers, and the one-line value form.
#include <algorithm>
#include <climits>
#include <memory>
#include <unordered_map>
#include <vector>

#include "VoRav/vxIni.h"
#include "VoRav/vxUTF8.h"

namespace kav {

namespace {

// The sections of a document by name, the first of each name winning, so
// that each header costs one lookup however many sections or same-named
// keys the document holds.
class TSectionIndex {
 public:
  explicit TSectionIndex(TIniList* document) : document_(document) {
    for (int32_t i = 0; i < document->Count(); ++i)
      if (auto* s = dynamic_cast<TIniSection*>(document->GetItem(i))) Remember(s);
  }

  TIniSection* FindOrAdd(std::string_view name) {
    const auto range = by_hash_.equal_range(ByteStringHash(name));
    TIniSection* first = nullptr;
    for (auto it = range.first; it != range.second; ++it)
      if (ByteStringCompareText(it->second->NameBytes(), name) == 0 &&
          (!first || it->second->Index() < first->Index()))
        first = it->second;
    if (first) return first;
    auto* section = new TIniSection(TByteString(name));
    document_->Add(section);
    Remember(section);
    return section;
  }

 private:
  void Remember(TIniSection* s) { by_hash_.emplace(ByteStringHash(s->NameBytes()), s); }
  TIniList* document_;
  std::unordered_multimap<uint32_t, TIniSection*> by_hash_;
};

}  // namespace

bool TIniList::ParseText(TIniList* list, TIniParser& parser, TIniList* document, bool stop_at_outer_end) {
  // open.front() is the section (or list) being filled, open.back() the
  // innermost open object.
  std::vector<TIniList*> open{list};
  std::unique_ptr<TSectionIndex> sections;
  TIniLine line;
  // Objects still open when a header or the end of the text closes them
  // remember where: their end line is missing, which a reader may say.
  auto close_unended = [&open](int32_t at) {
    for (size_t k = 1; k < open.size(); ++k)
      if (auto* object = dynamic_cast<TIniObject*>(open[k])) object->SetClosedWithoutEnd(at);
  };
  for (size_t lines = 0; !parser.AtEnd(); ++lines) {
    if (lines >= kIniMaxLines) return false;
    IniParseLine(parser, line);
    TIniList* current = open.back();
    const int32_t number = int32_t(std::min<size_t>(lines + 1, INT32_MAX));
    // Each item remembers its line, so a reader can say where a problem is.
    auto add = [&](TIniItem* item) {
      item->SetLine(number);
      current->Add(item);
      return item;
    };
    switch (line.Kind) {
      case TIniLineKind::Plain:
        add(new TIniItem(TByteString(), TByteString(parser.Value(line))));
        break;
      case TIniLineKind::Key:
        add(new TIniItem(TByteString(parser.Name(line)), TByteString(parser.Value(line))));
        break;
      case TIniLineKind::Section: {
        if (!document) return true;
        // A header closes whatever objects are still open: the section is
        // never swallowed by an object that lacks its end line.
        if (!sections) sections = std::make_unique<TSectionIndex>(document);
        TIniSection* section = sections->FindOrAdd(parser.Name(line));
        if (section->Line() == 0) section->SetLine(number);
        else if (section->RepeatedAt() == 0) section->SetRepeatedAt(number);
        close_unended(number);
        open.assign(1, section);
        break;
      }
      case TIniLineKind::Object:
        if (open.size() > size_t(kIniMaxObjectDepth)) {
          add(new TIniItem(TByteString(), TByteString(parser.Line(line))));
        } else {
          auto* object = new TIniObject(TByteString(parser.Name(line)), TByteString(parser.Value(line)));
          add(object);
          open.push_back(object);
        }
        break;
      case TIniLineKind::End:
        if (open.size() > 1) {
          open.pop_back();
        } else if (stop_at_outer_end) {
          return true;
        } else {
          add(new TIniItem(TByteString(), TByteString("end")));
        }
        break;
    }
  }
  if (document) close_unended(-1);
  return true;
}

void TIniList::Assign(TTextWriter* source) {
  if (source == this) return;
  Ref<TTextWriter> keep(source);  // the source may lie inside this list
  Clear();
  if (!source) return;
  if (auto* list = dynamic_cast<TIniList*>(source)) {
    for (int32_t i = 0; i < list->Count(); ++i) Add(list->GetItem(i)->Clone().release());
    return;
  }
  auto saver = MakeRef<TBytesTextSaver>();
  source->SaveTo(saver.get());
  const std::string text = saver->TakeBytes();
  // Leading plain lines are skipped. A section or object header gives its
  // contents; a key starts the contents; an end line leaves nothing.
  TIniParser parser(text);
  TIniLine line;
  while (!parser.AtEnd()) {
    const size_t at = parser.Position;
    IniParseLine(parser, line);
    switch (line.Kind) {
      case TIniLineKind::Plain:
        continue;
      case TIniLineKind::Section:
        ParseText(this, parser, nullptr, false);
        return;
      case TIniLineKind::Object:
        ParseText(this, parser, nullptr, true);
        return;
      case TIniLineKind::Key:
        parser.Position = at;
        ParseText(this, parser, nullptr, false);
        return;
      case TIniLineKind::End:
        return;
    }
  }
}

void TIniFile::Assign(TTextWriter* source) {
  if (source == this) return;
  if (!source || dynamic_cast<TIniList*>(source)) {
    TIniList::Assign(source);
    return;
  }
  Ref<TTextWriter> keep(source);
  Clear();
  auto saver = MakeRef<TBytesTextSaver>();
  source->SaveTo(saver.get());
  const std::string text = saver->TakeBytes();
  TIniParser parser(text);
  ParseText(this, parser, this);
}

bool TIniFile::LoadFromBytes(std::string_view bytes) {
  Clear();
  TIniParser parser(bytes);
  if (ParseText(this, parser, this)) return true;
  Clear();
  return false;
}

bool TIniList::LoadFromValueText(std::string_view bytes) {
  Clear();
  std::string text;
  if (!IniUnescape(bytes, text)) return false;
  TIniParser parser(text);
  if (ParseText(this, parser, this)) return true;
  Clear();
  return false;
}

TByteString TIniList::SaveToValueText() {
  auto saver = MakeRef<TValueTextSaver>();
  TIniList::Save(saver.get(), 0);  // the contents, as LoadFromValueText reads them back
  return saver->TakeBytes();
}

std::u16string IniUnescapeToWide(std::string_view bytes) {
  std::string text;
  if (!IniUnescape(bytes, text)) return std::u16string();
  return UTF8Decode(text);
}

}  // namespace kav
