#pragma once
// What the record cache asks of the cursor that requests a record. The
// cursor (engine/cursor) implements this; pass nullptr for internal reads,
// which skip the change check and read ahead by the file's own count.

#include <cstdint>

namespace tarn {

class TRecordCacheClient {
 public:
  virtual ~TRecordCacheClient() = default;
  // The cursor's full change check before a disk read: read lock, re-read of
  // the file headers, comparison with the cursor's snapshot. True when the
  // table changed (its caches may have been emptied meanwhile); the record
  // request then reports the change and the cursor restarts its operation.
  virtual bool ChangeCheck() = 0;
  // The cursor's own read-ahead: how many consecutive records from recordNo
  // in the reading direction it expects to read (in natural order, the run
  // marked in its record bitmap; in index order, the run that follows in the
  // current leaf page), at most limit. Values below 1 count as 1.
  virtual std::int32_t ReadAheadCount(std::int32_t recordNo, bool forward, std::int32_t limit) = 0;
};

}  // namespace tarn
