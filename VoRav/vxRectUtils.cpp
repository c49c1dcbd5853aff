#include "VoRav/vxRectUtils.h"

#include <algorithm>

namespace kav {

namespace {

bool RectsOverlap(const TRect& a, const TRect& b) {
  return a.Left < b.Right && b.Left < a.Right && a.Top < b.Bottom && b.Top < a.Bottom;
}

int32_t WrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

}  // namespace

void UnionRectInPlace(TRect& a, const TRect& b) {
  a.Left = std::min(a.Left, b.Left);
  a.Top = std::min(a.Top, b.Top);
  a.Right = std::max(a.Right, b.Right);
  a.Bottom = std::max(a.Bottom, b.Bottom);
}

bool RectContainsRect(const TRect& a, const TRect& b) {
  return a.Left >= b.Left && a.Top >= b.Top && a.Right <= b.Right && a.Bottom <= b.Bottom;
}

void OffsetRect(TRect& r, int32_t dx, int32_t dy) {
  r.Left = WrapAdd(r.Left, dx);
  r.Right = WrapAdd(r.Right, dx);
  r.Top = WrapAdd(r.Top, dy);
  r.Bottom = WrapAdd(r.Bottom, dy);
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
    const int32_t mid_top = std::max(q.Top, e.Top);
    const int32_t mid_bottom = std::min(q.Bottom, e.Bottom);
    const TRect parts[4] = {
        {q.Left, q.Top, q.Right, e.Top},                 // above the entry
        {q.Left, e.Bottom, q.Right, q.Bottom},           // below it
        {q.Left, mid_top, e.Left, mid_bottom},           // left of it, within its height
        {e.Right, mid_top, q.Right, mid_bottom},         // right of it
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
    if (x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom) return true;
  }
  return false;
}

}  // namespace kav
