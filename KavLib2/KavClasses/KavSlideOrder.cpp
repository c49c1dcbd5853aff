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
  return std::clamp(IniReadInteger(ini, u"Times", u"opt_slidescount", 0), 0, kMaxSlidesCount);
}

int32_t ReadCustomDialogsCount(TIniFile* ini) {
  return std::clamp(IniReadInteger(ini, u"Main", u"opt_customdialogscount", 0), 0, kMaxCustomDialogsCount);
}

void ShuffleOrder(std::span<TSlideOrderEntry> entries, TKavRandom& random) {
  random.Randomize();
  for (TSlideOrderEntry& e : entries) e.Key = random.Random(1000000);
  for (size_t k = entries.size(); k >= 2; --k) {
    size_t best = 0;
    for (size_t j = k - 1; j >= 1; --j)
      if (entries[j].Key > entries[best].Key) best = j;
    std::swap(entries[best], entries[k - 1]);
  }
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
