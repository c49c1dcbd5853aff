// The IPTC data of a JPEG: the datasets of the IPTC-NAA resource block
// (Photoshop APP13) in records 1 to 9, and their values as texts, numbers
// and dates. Read only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "VoRav/SysObj2.h"
#include "VoRav/vxStream.h"

namespace kav {

KAV_DECLARE_COMMON_EXCEPTION(EInvalidIPTCData, TCommonException);

class TIPTCSection;
class TIPTCData;
class TStringList;

// One dataset.
class TIPTCTag : public TRefObject {
 public:
  TIPTCTag(TIPTCSection* section, uint8_t dataset, std::vector<uint8_t> data)
      : section_(section), dataset_(dataset), data_(std::move(data)) {}
  TIPTCSection* Section() const noexcept { return section_; }
  uint8_t Dataset() const noexcept { return dataset_; }
  const std::vector<uint8_t>& Data() const noexcept { return data_; }
  // The value as text: the numeric datasets (1:0, 1:20, 1:22, 1:120, 1:122,
  // 2:0) of 1, 2 or 4 bytes in decimal; anything else as UTF-8 when the
  // owner's UTF-8 flag is set, else as 8-bit text.
  std::u16string AsString() const;

 protected:
  // Leaves the section's list (when still in one) and frees the data.
  void Dispose() override;

 private:
  friend class TIPTCSection;
  TIPTCSection* section_;
  uint8_t dataset_;
  std::vector<uint8_t> data_;
};

// The datasets of one record, in file order.
class TIPTCSection : public TRefObject {
 public:
  TIPTCSection(TIPTCData* owner, uint8_t record) : owner_(owner), record_(record) {}
  TIPTCData* Owner() const noexcept { return owner_; }
  uint8_t Record() const noexcept { return record_; }
  int32_t Count() const noexcept { return static_cast<int32_t>(tags_.size()); }
  TIPTCTag* Tag(int32_t index) const noexcept;
  // True while the dataset numbers do not decrease in file order.
  bool Sorted() const noexcept { return sorted_; }
  bool Modified() const noexcept { return modified_; }

  // Appends a dataset (the list keeps the new tag's reference).
  TIPTCTag* Add(uint8_t dataset, std::vector<uint8_t> data);
  // Releases every tag.
  void Clear();
  // Recomputes the sorted flag and clears the modified flag.
  void Loaded();

  // The first tag of the dataset, or nil.
  TIPTCTag* Find(uint8_t dataset) const;
  // The first value's text; empty when absent.
  std::u16string GetString(uint8_t dataset) const;
  // The texts of every tag of the dataset, in order.
  std::vector<std::u16string> GetRepeatableValues(uint8_t dataset) const;
  // Adds those texts to `list`, clearing it first when asked.
  void GetRepeatableValuesToStrings(uint8_t dataset, TStringList* list, bool clear_first) const;
  // Lines "<name>=<value>" of two datasets taken pairwise; the shorter list
  // is padded with empty values.
  std::vector<std::u16string> GetNameValuePairs(uint8_t name_dataset, uint8_t value_dataset) const;
  // A CCYYMMDD text as days from 30 December 1899; 0 when it is not a
  // valid Gregorian date of the years 1..9999.
  int32_t GetDate(uint8_t dataset) const;
  // A number 1..99, else 0.
  int32_t GetNumber99(uint8_t dataset) const;
  // A priority byte: its position in NUL,"8","7","6","5","4","3","2","1",
  // "9","0" (so "1" gives 8 and "0" gives 10); 0 when absent, not one byte
  // long or not in the table.
  int32_t GetPriority(uint8_t dataset) const;

 protected:
  void Dispose() override;

 private:
  friend class TIPTCTag;
  friend class TIPTCData;
  void Remove(TIPTCTag* tag);

  TIPTCData* owner_;
  uint8_t record_;
  std::vector<TIPTCTag*> tags_;  // one reference each
  bool sorted_ = true;
  bool modified_ = false;
};

class TIPTCData : public TRefObject {
 public:
  TIPTCData();

  // Section of a record 1..9 (an assertion for any other number).
  TIPTCSection* Section(int32_t record) const;
  TIPTCSection* Envelope() const { return Section(1); }
  TIPTCSection* Application() const { return Section(2); }
  // True when every section is empty.
  bool Empty() const;
  void Clear();

  // How the texts of a block are read when it does not say (dataset 1:90).
  bool DefaultUTF8 = false;
  // True when the texts read as UTF-8.
  bool UTF8 = true;

  // Loads the first IPTC-NAA block of the Photoshop APP13 segments of the
  // JPEG in `stream` (from its position); every section is empty when there
  // is none. Raises EInvalidJPEGHeader when the stream does not start with
  // FF D8, EInvalidIPTCData for a record number outside 1..9 or an extended
  // size field of other than 1, 2 or 4 bytes, and EStreamReadError for a
  // dataset that runs past the block; after a failure every section is
  // empty and the UTF-8 flag is as before.
  void LoadFromJPEG(TStream* stream);
  // Loads the datasets of one IPTC block (as above).
  void LoadFromIPTC(const uint8_t* data, size_t size);

  // The datasets the show's text macros quote (record 2).
  std::u16string DocumentTitle() const { return Application()->GetString(5); }
  std::u16string SpecialInstructions() const { return Application()->GetString(40); }
  std::vector<std::u16string> ByLines() const { return Application()->GetRepeatableValues(80); }
  std::vector<std::u16string> ByLineTitles() const { return Application()->GetRepeatableValues(85); }
  std::u16string City() const { return Application()->GetString(90); }
  std::u16string SubLocation() const { return Application()->GetString(92); }
  std::u16string ProvinceState() const { return Application()->GetString(95); }
  std::u16string Country() const { return Application()->GetString(101); }
  std::u16string OriginalTransmissionRef() const { return Application()->GetString(103); }
  std::u16string Headline() const { return Application()->GetString(105); }
  std::u16string Credit() const { return Application()->GetString(110); }
  std::u16string Source() const { return Application()->GetString(115); }
  std::u16string Copyright() const { return Application()->GetString(116); }
  std::u16string Caption() const { return Application()->GetString(120); }
  std::vector<std::u16string> CaptionWriters() const { return Application()->GetRepeatableValues(122); }
  std::vector<std::u16string> Keywords() const { return Application()->GetRepeatableValues(25); }
  // By-line (2:80) with by-line title (2:85); location code (2:26) with name (2:27).
  std::vector<std::u16string> ByLineDetails() const { return Application()->GetNameValuePairs(80, 85); }
  std::vector<std::u16string> ContentLocations() const { return Application()->GetNameValuePairs(26, 27); }
  int32_t DateCreated() const { return Application()->GetDate(55); }
  int32_t ActionAdvised() const { return Application()->GetNumber99(42); }
  int32_t Urgency() const { return Application()->GetPriority(10); }
  int32_t EnvelopePriority() const { return Envelope()->GetPriority(60); }

 protected:
  void Dispose() override;

 private:
  Ref<TIPTCSection> sections_[9];
};

// Bytes as upper-case hexadecimal text, high nibble first.
std::u16string IPTCBinaryToHex(const std::vector<uint8_t>& data);

}  // namespace kav
