#include "VoRav/Composite/vxThemedControlImageCache.h"

namespace kav {

int32_t TThemedControlImageCache::Find(const std::u16string& key) const {
  for (int32_t i = Count() - 1; i >= 0; --i)
    if (entries_[size_t(i)].Key == key) return i;
  return -1;
}

bool TThemedControlImageCache::Get(const std::u16string& key, Ref<TImage>& picture, TPoint& offset) const {
  const int32_t i = Find(key);
  if (i < 0) {
    picture = nullptr;
    offset = TPoint{0, 0};
    return false;
  }
  picture = entries_[size_t(i)].Picture;
  offset = entries_[size_t(i)].Offset;
  return true;
}

void TThemedControlImageCache::Put(const std::u16string& key, TImage* picture, TPoint offset) {
  const int32_t i = Find(key);
  if (i >= 0) {
    entries_[size_t(i)].Picture = Ref<TImage>(picture);
    entries_[size_t(i)].Offset = offset;
    return;
  }
  entries_.push_back(TEntry{key, Ref<TImage>(picture), offset});
}

}  // namespace kav
