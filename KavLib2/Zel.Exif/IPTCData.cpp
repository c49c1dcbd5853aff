// The IPTC model: tags, sections and the values read from them.
#include "KavLib2/Zel.Exif/IPTCData.h"

#include <algorithm>
#include <string>

#include "VoRav/vxConvert.h"
#include "VoRav/vxStrings.h"
#include "VoRav/vxTime.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpStringUtils.h"

namespace kav {

namespace {

bool IsNumericDataset(uint8_t record, uint8_t dataset) {
  if (record == 1) return dataset == 0 || dataset == 20 || dataset == 22 || dataset == 120 || dataset == 122;
  return record == 2 && dataset == 0;
}

}  // namespace

// --- tags ---------------------------------------------------------------------

std::u16string TIPTCTag::AsString() const {
  const size_t n = data_.size();
  if (section_ && IsNumericDataset(section_->Record(), dataset_) && (n == 1 || n == 2 || n == 4)) {
    uint32_t v = 0;
    for (uint8_t b : data_) v = v << 8 | b;
    const std::string s = std::to_string(v);
    return std::u16string(s.begin(), s.end());
  }
  const std::string_view bytes(reinterpret_cast<const char*>(data_.data()), n);
  const bool utf8 = section_ && section_->Owner() && section_->Owner()->UTF8;
  return utf8 ? SystemUTF8ToWide(bytes) : AnsiToWideRange(bytes, 0, static_cast<ptrdiff_t>(n), CP_ACP);
}

void TIPTCTag::Dispose() {
  if (section_) section_->Remove(this);
  section_ = nullptr;
  std::vector<uint8_t>().swap(data_);
  TRefObject::Dispose();
}

// --- sections -----------------------------------------------------------------

TIPTCTag* TIPTCSection::Tag(int32_t index) const noexcept {
  return index >= 0 && index < Count() ? tags_[static_cast<size_t>(index)] : nullptr;
}

TIPTCTag* TIPTCSection::Add(uint8_t dataset, std::vector<uint8_t> data) {
  tags_.reserve(tags_.size() + 1);
  auto* tag = new TIPTCTag(this, dataset, std::move(data));
  tags_.push_back(tag);
  return tag;
}

void TIPTCSection::Remove(TIPTCTag* tag) {
  auto it = std::find(tags_.begin(), tags_.end(), tag);
  if (it != tags_.end()) tags_.erase(it);
}

void TIPTCSection::Clear() {
  std::vector<TIPTCTag*> tags;
  tags.swap(tags_);
  for (TIPTCTag* tag : tags) {
    tag->section_ = nullptr;
    RefRelease(tag);
  }
  sorted_ = true;
}

void TIPTCSection::Loaded() {
  modified_ = false;
  sorted_ = std::is_sorted(tags_.begin(), tags_.end(),
                           [](const TIPTCTag* a, const TIPTCTag* b) { return a->Dataset() < b->Dataset(); });
}

void TIPTCSection::Dispose() {
  Clear();
  owner_ = nullptr;
  TRefObject::Dispose();
}

TIPTCTag* TIPTCSection::Find(uint8_t dataset) const {
  for (TIPTCTag* tag : tags_) {
    if (tag->Dataset() == dataset) return tag;
    if (sorted_ && tag->Dataset() > dataset) break;
  }
  return nullptr;
}

std::u16string TIPTCSection::GetString(uint8_t dataset) const {
  const TIPTCTag* tag = Find(dataset);
  return tag ? tag->AsString() : std::u16string();
}

std::vector<std::u16string> TIPTCSection::GetRepeatableValues(uint8_t dataset) const {
  std::vector<std::u16string> values;
  for (const TIPTCTag* tag : tags_)
    if (tag->Dataset() == dataset) values.push_back(tag->AsString());
  return values;
}

void TIPTCSection::GetRepeatableValuesToStrings(uint8_t dataset, TStringList* list, bool clear_first) const {
  if (!list) return;
  if (clear_first) list->Clear();
  for (const std::u16string& v : GetRepeatableValues(dataset)) list->Add(v);
}

std::vector<std::u16string> TIPTCSection::GetNameValuePairs(uint8_t name_dataset, uint8_t value_dataset) const {
  const std::vector<std::u16string> names = GetRepeatableValues(name_dataset);
  const std::vector<std::u16string> values = GetRepeatableValues(value_dataset);
  std::vector<std::u16string> lines(std::max(names.size(), values.size()));
  for (size_t i = 0; i < lines.size(); ++i)
    lines[i] = (i < names.size() ? names[i] : u"") + u"=" + (i < values.size() ? values[i] : u"");
  return lines;
}

int32_t TIPTCSection::GetDate(uint8_t dataset) const {
  const std::u16string s = GetString(dataset);
  if (s.size() != 8 || !std::all_of(s.begin(), s.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; }))
    return 0;
  auto num = [&](size_t from, size_t len) {
    int32_t v = 0;
    for (size_t i = from; i < from + len; ++i) v = v * 10 + (s[i] - u'0');
    return v;
  };
  const int32_t year = num(0, 4), month = num(4, 2), day = num(6, 2);
  static const int8_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || month < 1 || month > 12 || day < 1) return 0;
  if (day > kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0)) return 0;
  return DayNumber(year, month, day) - DayNumber(1899, 12, 30);
}

int32_t TIPTCSection::GetNumber99(uint8_t dataset) const {
  const int32_t v = StrToIntDef(GetString(dataset), 0);
  return v >= 1 && v <= 99 ? v : 0;
}

int32_t TIPTCSection::GetPriority(uint8_t dataset) const {
  static const char kTable[] = {'\0', '8', '7', '6', '5', '4', '3', '2', '1', '9', '0'};
  const TIPTCTag* tag = Find(dataset);
  if (!tag || tag->Data().size() != 1) return 0;
  for (int32_t i = 0; i < 11; ++i)
    if (static_cast<uint8_t>(kTable[i]) == tag->Data()[0]) return i;
  return 0;
}

// --- the whole model ----------------------------------------------------------

TIPTCData::TIPTCData() {
  for (int32_t r = 0; r < 9; ++r) sections_[r] = MakeRef<TIPTCSection>(this, static_cast<uint8_t>(r + 1));
}

void TIPTCData::Dispose() {
  // A section someone still holds outlives its owner: it forgets it.
  for (auto& s : sections_) {
    s->owner_ = nullptr;
    s = nullptr;
  }
  TRefObject::Dispose();
}

TIPTCSection* TIPTCData::Section(int32_t record) const {
  KAV_ASSERT(record >= 1 && record <= 9);
  return sections_[record - 1].get();
}

bool TIPTCData::Empty() const {
  return std::all_of(std::begin(sections_), std::end(sections_), [](const auto& s) { return s->Count() == 0; });
}

void TIPTCData::Clear() {
  for (auto& s : sections_) s->Clear();
}

std::u16string IPTCBinaryToHex(const std::vector<uint8_t>& data) {
  static const char16_t kDigits[] = u"0123456789ABCDEF";
  std::u16string s;
  s.reserve(data.size() * 2);
  for (uint8_t b : data) {
    s += kDigits[b >> 4];
    s += kDigits[b & 15];
  }
  return s;
}

}  // namespace kav
