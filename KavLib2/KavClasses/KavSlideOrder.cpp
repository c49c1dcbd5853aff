#include "KavLib2/KavClasses/KavSlideOrder.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "VoRav/vxConvert.h"
#include "VoRav/vxIni.h"

namespace kav {

namespace {

struct TOrders {
  std::mutex lock;
  std::unordered_map<std::u16string, std::vector<TSlideOrderEntry>> by_path;
};

TOrders& Orders() {
  static TOrders* orders = new TOrders;
  return *orders;
}

void GrowIdentity(std::vector<TSlideOrderEntry>& order, int32_t count) {
  for (int32_t i = int32_t(order.size()); i < count; ++i) order.push_back({i, 0});
}

}  // namespace

int32_t ReadSlidesCount(TIniFile* ini) {
  return std::clamp(IniReadInteger(ini, u"Times", u"opt_slidescount", 0), 0, EffectSlidesLimit());
}

int32_t ReadCustomDialogsCount(TIniFile* ini) {
  return std::clamp(IniReadInteger(ini, u"Main", u"opt_customdialogscount", 0), 0, kMaxCustomDialogsCount);
}

namespace {

// The selection sort of the shuffle, step for step, with each step's search
// for the largest key done by a tournament tree instead of a scan, so a show
// of 100,000 slides sorts in n log n instead of hanging for minutes. Each
// step takes the largest key of places 0..k-1 and swaps it into place k-1;
// among equal keys place 0 wins, then the highest place, as the scan from
// k-1 down to 1 (replacing only on a strictly larger key) chooses.
class TSelectionTree {
 public:
  explicit TSelectionTree(std::span<const TSlideOrderEntry> entries) : keys_(entries.size()) {
    size_ = 1;
    while (size_ < entries.size()) size_ <<= 1;
    tree_.assign(2 * size_, kNone);
    for (size_t i = 0; i < entries.size(); ++i) {
      keys_[i] = entries[i].Key;
      tree_[size_ + i] = i;
    }
    for (size_t n = size_ - 1; n >= 1; --n) tree_[n] = Better(tree_[2 * n], tree_[2 * n + 1]);
  }
  // The place the scan chooses among places still in the tree.
  size_t Best() const { return tree_[1]; }
  void SetKey(size_t place, int32_t key) {
    keys_[place] = key;
    Update(place);
  }
  void Remove(size_t place) {
    tree_[size_ + place] = kNone;
    Update(place);
  }

 private:
  static constexpr size_t kNone = SIZE_MAX;
  size_t Better(size_t a, size_t b) const {
    if (a == kNone) return b;
    if (b == kNone) return a;
    if (keys_[a] != keys_[b]) return keys_[a] > keys_[b] ? a : b;
    if (a == 0 || b == 0) return 0;
    return std::max(a, b);
  }
  void Update(size_t place) {
    for (size_t n = (size_ + place) >> 1; n >= 1; n >>= 1) tree_[n] = Better(tree_[2 * n], tree_[2 * n + 1]);
  }
  std::vector<int32_t> keys_;
  std::vector<size_t> tree_;
  size_t size_ = 1;
};

}  // namespace

void SortByShuffleKeys(std::span<TSlideOrderEntry> entries) {
  if (entries.size() < 2) return;
  TSelectionTree tree(entries);
  for (size_t k = entries.size(); k >= 2; --k) {
    const size_t best = tree.Best();
    std::swap(entries[best], entries[k - 1]);
    tree.SetKey(best, entries[best].Key);
    tree.Remove(k - 1);
  }
}

void ShuffleOrder(std::span<TSlideOrderEntry> entries, TKavRandom& random) {
  random.Randomize();
  for (TSlideOrderEntry& e : entries) e.Key = random.Random(1000000);
  SortByShuffleKeys(entries);
}

void ShuffleOrder(std::span<TSlideOrderEntry> entries) {
  static std::mutex lock;
  static TKavRandom random;
  std::lock_guard<std::mutex> hold(lock);
  ShuffleOrder(entries, random);
}

int32_t SlideSectionNumber(TIniFile* ini, int32_t index) {
  KAV_ASSERT(ini != nullptr);
  if (index < 0) return 0;
  const std::u16string path = IniReadString(ini, u"Main", u"ProjectFilePath", u"");
  if (path.empty() || index >= kMaxSlidesCount) return index + 1;
  TOrders& o = Orders();
  std::lock_guard<std::mutex> hold(o.lock);
  auto [it, made] = o.by_path.try_emplace(path);
  if (made) GrowIdentity(it->second, ReadSlidesCount(ini));
  if (size_t(index) >= it->second.size()) GrowIdentity(it->second, index + 1);
  return it->second[size_t(index)].Index + 1;
}

TIniList* GetSlideSection(TIniFile* ini, int32_t index) {
  const int32_t n = SlideSectionNumber(ini, index);
  if (n <= 0) return nullptr;
  return ini->FindSection(u"Slide" + IntToStr(n));
}

std::vector<TSlideOrderEntry> ProjectSlideOrder(const std::u16string& project_path) {
  TOrders& o = Orders();
  std::lock_guard<std::mutex> hold(o.lock);
  auto it = o.by_path.find(project_path);
  return it == o.by_path.end() ? std::vector<TSlideOrderEntry>() : it->second;
}

void ClearProjectSlideOrders() {
  TOrders& o = Orders();
  std::lock_guard<std::mutex> hold(o.lock);
  o.by_path.clear();
}

}  // namespace kav
