#include "VoRav/vxRectUtils.h"

#include <algorithm>

namespace kav {

namespace {

bool RectsOverlap(const TRect& a, const TRect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

int32_t WrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

}  // namespace

void UnionRectInPlace(TRect& a, const TRect& b) {
  a.left = std::min(a.left, b.left);
  a.top = std::min(a.top, b.top);
  a.right = std::max(a.right, b.right);
  a.bottom = std::max(a.bottom, b.bottom);
}

bool RectContainsRect(const TRect& a, const TRect& b) {
  return a.left >= b.left && a.top >= b.top && a.right <= b.right && a.bottom <= b.bottom;
}

void OffsetRect(TRect& r, int32_t dx, int32_t dy) {
  r.left = WrapAdd(r.left, dx);
  r.right = WrapAdd(r.right, dx);
  r.top = WrapAdd(r.top, dy);
  r.bottom = WrapAdd(r.bottom, dy);
}

void TRectList::Init() { Clear(); }

void TRectList::Clear() {
  Items.clear();
  Items.shrink_to_fit();
}

int32_t TRectList::Add(const TRect& r) {
  if (RectIsEmpty(r)) return -1;
  KAV_ASSERT(Count() < kMaxCount);
  if (Items.capacity() == 0) Items.reserve(4);
  Items.push_back(r);
  return Count() - 1;
}

TRect TRectList::Bounds() const {
  if (Items.empty()) return TRect{};
  TRect b = Items[0];
  for (size_t i = 1; i < Items.size(); ++i) UnionRectInPlace(b, Items[i]);
  return b;
}

void TRectList::Include(const TRect& r) {
  if (RectIsEmpty(r)) return;
  if (Count() == 1) {
    if (RectContainsRect(Items[0], r)) {
      Items[0] = r;
      return;
    }
    if (RectContainsRect(r, Items[0])) return;
  }
  AddDisjoint(0, Count(), r);
}

void TRectList::AddDisjoint(int32_t i, int32_t end, const TRect& r) {
  // Depth-first over the pieces of r, in the order a recursion over the
  // entries would visit them (above, below, left, right), but with an explicit
  // stack so that a long list cannot exhaust the call stack.
  struct Piece {
    int32_t index;
    TRect rect;
  };
  end = std::min(end, Count());
  std::vector<Piece> pending{{i, r}};
  while (!pending.empty()) {
    Piece p = pending.back();
    pending.pop_back();
    // Skip the entries this piece does not touch.
    while (p.index < end && !RectsOverlap(p.rect, Items[static_cast<size_t>(p.index)])) ++p.index;
    if (p.index >= end) {
      Add(p.rect);
      continue;
    }
    const TRect e = Items[static_cast<size_t>(p.index)];
    if (RectContainsRect(p.rect, e)) continue;
    const TRect& q = p.rect;
    const int32_t mid_top = std::max(q.top, e.top);
    const int32_t mid_bottom = std::min(q.bottom, e.bottom);
    const TRect parts[4] = {
        {q.left, q.top, q.right, e.top},                 // above the entry
        {q.left, e.bottom, q.right, q.bottom},           // below it
        {q.left, mid_top, e.left, mid_bottom},           // left of it, within its height
        {e.right, mid_top, q.right, mid_bottom},         // right of it
    };
    for (int k = 3; k >= 0; --k) {
      if (!RectIsEmpty(parts[k])) pending.push_back({p.index + 1, parts[k]});
    }
  }
}

void TRectList::Offset(int32_t dx, int32_t dy) {
  for (TRect& r : Items) OffsetRect(r, dx, dy);
}

bool TRectList::ContainsPoint(int32_t x, int32_t y) const {
  for (const TRect& r : Items) {
    if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
  }
  return false;
}

}  // namespace kav
