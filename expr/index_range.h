#pragma once
// Reading key ranges of an index for filters: collecting the record numbers
// of a range into a bitmap, and counting a range with subtree counts.
//
// The cursor's TFilterCursor::CollectKeyRange and CountKeyRange are meant to
// run these on the slot the tree context holds (the cursor switches to that
// index first and back afterwards).
//
// Threads: under the table's read lock, on the cursor's thread.

#include <cstdint>

#include "engine/index/index_file.h"
#include "engine/index/tree_context.h"
#include "engine/table/records_bitmap.h"

namespace tarn {

// Clears bitmap, then sets the record number (Ref) of every key of the
// context's slot from low to high inclusive: nothing when low sorts after
// high. Descends to the first key not below low and walks the leaves along
// NextPage until a key sorts after high. False when a page read reported a
// table change (the bitmap is then incomplete). Throws 8965 for a damaged
// tree.
bool CollectIndexRange(TIndexFile& file, TTreeContext& ctx, const std::uint8_t* low, const std::uint8_t* high,
                       TRecordsBitmap& bitmap);

// Keys of the context's slot from low to high inclusive, from the subtree
// counts (two descents); -1 when the index keeps no counts or a read
// reported a table change.
std::int64_t CountIndexRange(TIndexFile& file, TTreeContext& ctx, const std::uint8_t* low,
                             const std::uint8_t* high);

}  // namespace tarn
