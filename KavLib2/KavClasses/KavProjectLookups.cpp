#include "KavLib2/KavClasses/KavProjectLookups.h"

#include <algorithm>
#include <vector>

#include "KavLib2/KavClasses/KavSlideOrder.h"
#include "VoRav/vxConvert.h"

namespace kav {

namespace {

bool IsClass(const TIniObject* o, std::u16string_view cls) {
  return ByteStringCompareWideText(o->GetValueBytes(), cls) == 0;
}

bool HasGuid(const TIniObject* o, std::u16string_view guid) {
  const TIniItem* key = o->FindKey(u"ClipGUID");
  return key && ByteStringCompareWideText(key->GetValueBytes(), guid) == 0;
}

// Depth first over the objects below `list`, KeyPoint objects skipped.
bool TreeHoldsVideo(TIniList* list, std::u16string_view guid) {
  std::vector<TIniObject*> pending;
  for (TIniObject* o = list->FirstObject(); o; o = list->NextObject(o)) pending.push_back(o);
  std::reverse(pending.begin(), pending.end());
  while (!pending.empty()) {
    TIniObject* o = pending.back();
    pending.pop_back();
    if (IsClass(o, u"KeyPoint")) continue;
    if (IsClass(o, u"Video") && (guid.empty() || HasGuid(o, guid))) return true;
    const size_t mark = pending.size();
    for (TIniObject* c = o->FirstObject(); c; c = o->NextObject(c)) pending.push_back(c);
    std::reverse(pending.begin() + ptrdiff_t(mark), pending.end());
  }
  return false;
}

}  // namespace

TIniObject* FindRootContainer(TIniList* object) {
  for (TIniObject* o = object->FirstObject(); o; o = object->NextObject(o))
    if (ByteStringCompareWideText(o->NameBytes(), u"Root") == 0) return o;
  return CreateIniItem<TIniObject>(object, u"Root", u"Container");
}

TIniObject* FindVideoClipByGUID(TIniList* object, std::u16string_view guid) {
  for (TIniObject* o = object->FirstObject(); o; o = object->NextObject(o))
    if (IsClass(o, u"VideoClip") && HasGuid(o, guid)) return o;
  return nullptr;
}

double FindVideoClipStartTime(TIniFile* ini, std::u16string_view guid) {
  if (!ini) return -1;
  TIniList* times = ini->FindSection(u"Times");
  if (!ini->FindSection(u"Main") || !times) return -1;
  const int32_t count = ReadSlidesCount(ini);
  for (int32_t n = 1; n <= count; ++n) {
    TIniList* section = ini->FindSection(u"Slide" + IntToStr(n));
    if (!section || !TreeHoldsVideo(section, guid)) continue;
    return n == 1 ? 0 : IniGetFloat(times->FindKey(u"opt_synchpos" + IntToStr(n - 1)), 0);
  }
  return -1;
}

std::u16string MakeIndexedName(std::u16string_view name, int32_t index) {
  return std::u16string(name) + u":" + IntToStr(index);
}

std::u16string SplitIndexedName(std::u16string_view text) {
  const size_t colon = text.find(u':');
  return colon == std::u16string_view::npos ? std::u16string() : std::u16string(text.substr(colon + 1));
}

}  // namespace kav
