// TSorter: quicksort and binary search over anything indexable.
//
// A descendant says how many elements there are, how two elements compare,
// how a search key compares with an element and how two elements trade
// places; the sorter drives the algorithms through those four operations and
// never touches the elements itself. The sorted lists of the library derive
// from it.
#pragma once

#include <cstdint>

#include "VoRav/SysObj2.h"

namespace kav {

class TSorter : public TRefObject {
 public:
  // Number of elements; indexes run 0..Count()-1.
  virtual int32_t Count() const = 0;
  // Negative when element i sorts before element j, 0 when equal, positive after.
  virtual int32_t Compare(int32_t i, int32_t j) const = 0;
  // Compares a search key with element j, with the sign convention of Compare.
  // The key's type is the descendant's business.
  virtual int32_t CompareKey(const void* key, int32_t j) const = 0;
  virtual void Swap(int32_t i, int32_t j) = 0;

  // Sorts all elements (nothing to do for fewer than 2). Not stable.
  virtual void Sort();
  // Sorts elements first..last; the range is cut to the valid indexes and
  // nothing happens unless last > first. The recursion always goes into the
  // smaller part, so the stack stays logarithmic whatever the input; an
  // inconsistent Compare gives an unspecified order but never an index
  // outside the range.
  virtual void SortRange(int32_t first, int32_t last);
  // Binary search over all elements, which must be sorted. True when an
  // element equal to the key is found (index is its position); otherwise
  // index is where the key would have to be inserted to keep the order.
  virtual bool Find(const void* key, int32_t& index) const;
  // Binary search over first..last (cut to the valid indexes), with the same
  // answers as Find; a miss gives an index in first..last+1.
  virtual bool FindInRange(const void* key, int32_t first, int32_t& index, int32_t last) const;
};

}  // namespace kav
