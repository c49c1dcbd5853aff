// Integer rectangles and a list of rectangles kept disjoint, used to collect
// the dirty areas of a frame.
#pragma once

#include <cstdint>
#include <vector>

#include "VoRav/SysObj2.h"
#include "VoRav/wpTypes.h"

namespace kav {

inline TRect Rect(int32_t l, int32_t t, int32_t r, int32_t b) { return TRect{l, t, r, b}; }

// Grows a to include b (plain minimum and maximum of the edges).
void UnionRectInPlace(TRect& a, const TRect& b);
// a lies inside b.
bool RectContainsRect(const TRect& a, const TRect& b);
// Moves r; coordinates wrap around at the 32-bit range like the original's
// integer arithmetic.
void OffsetRect(TRect& r, int32_t dx, int32_t dy);

// A list of non-empty rectangles. Include keeps them disjoint; Add does not
// check. Not thread-safe: one owner at a time.
struct TRectList {
  // The most rectangles a list holds; adding more is an assertion failure.
  static constexpr int32_t kMaxCount = 1 << 22;

  std::vector<TRect> Items;

  int32_t Count() const { return static_cast<int32_t>(Items.size()); }
  const TRect& operator[](int32_t i) const { return Items[static_cast<size_t>(i)]; }

  // Count 0, storage released.
  void Init();
  void Clear();
  // Appends r unless it is empty; returns its index, or -1 for an empty r.
  int32_t Add(const TRect& r);
  // The union of all rectangles; the all-zero rectangle for an empty list.
  TRect Bounds() const;
  // Adds the parts of r not yet covered, so the list stays disjoint.
  void Include(const TRect& r);
  // Adds the parts of r outside entries [i, end) (entries below i are taken
  // as already checked).
  void AddDisjoint(int32_t i, int32_t end, const TRect& r);
  void Offset(int32_t dx, int32_t dy);
  // True when some rectangle holds the point (right and bottom exclusive).
  bool ContainsPoint(int32_t x, int32_t y) const;
};

// A copy of one rectangle list as a reference-counted object.
class TRectListWrapper : public TRefObject {
 public:
  explicit TRectListWrapper(const TRectList& list) : List(list) {}
  TRectList List;
};

}  // namespace kav
