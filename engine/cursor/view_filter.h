#pragma once
// What a cursor needs of one filter that restricts its view.
//
// The cursor keeps a list of view filters (owned elsewhere). While at least
// one of them is active the cursor works in bitmap mode: it asks every active
// filter for the set of record numbers it passes and navigates only over
// records whose bit is set in the AND of those sets, the live records and the
// key range. Records are never read to decide visibility during navigation.
//
// Threads: called on the cursor's thread, inside the cursor's operation.

#include "engine/table/records_bitmap.h"

namespace tarn {

class TDataCursor;

class TViewFilter {
 public:
  virtual ~TViewFilter() = default;

  // An inactive filter is ignored.
  virtual bool Active() const = 0;
  // Clears bits of candidates for records the filter does not pass. On entry
  // candidates covers every record slot of the table (its bit count) with the
  // live records of the range set; bits may only be cleared. The filter may
  // use the cursor's index access (switching index for a moment is its own
  // business and must be undone before it returns).
  virtual void Restrict(TDataCursor& cursor, TRecordsBitmap& candidates) = 0;
};

}  // namespace tarn
