// The picture cache of a themed control: one ready-made picture per part
// key (a text such as the part name plus a state word) with the place of
// its top-left corner in the control. A nil picture is a valid entry (the
// painter had nothing for the key). GUI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "VoRav/Graphics/vxImage.h"
#include "VoRav/wpTypes.h"

namespace kav {

class TThemedControlImageCache {
 public:
  struct TEntry {
    std::u16string Key;
    Ref<TImage> Picture;  // owned by the entry; may be nil
    TPoint Offset;
  };

  // The index of the key (exact comparison, searched from the last entry to
  // the first), or -1.
  int32_t Find(const std::u16string& key) const;
  // False, a nil picture and the origin offset when the key is absent.
  bool Get(const std::u16string& key, Ref<TImage>& picture, TPoint& offset) const;
  // Replaces (and releases) the picture under the same key, else appends.
  void Put(const std::u16string& key, TImage* picture, TPoint offset);
  // Releases every picture.
  void Clear() { entries_.clear(); }
  int32_t Count() const { return int32_t(entries_.size()); }

 private:
  std::vector<TEntry> entries_;
};

}  // namespace kav
