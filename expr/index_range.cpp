#include "expr/index_range.h"

#include <algorithm>

#include "engine/index/btree.h"

namespace tarn {

bool CollectIndexRange(TIndexFile& file, TTreeContext& ctx, const std::uint8_t* low, const std::uint8_t* high,
                       TRecordsBitmap& bitmap) {
  const int slot = ctx.IndexSlot();
  bitmap.ClearAll();
  if (file.CompareKeys(slot, low, high) > 0) return true;
  TBTree tree(file);
  const TKeyPosition pos = tree.FindKey(ctx, low, true);
  if (pos.Empty) return true;
  TPagePin page = file.GetPage(ctx, pos.LeafPage);
  if (!page) return false;
  int i = std::max(pos.Position, 1);
  if (i <= page->EntryCount() && file.CompareKeys(slot, page->Key(i), low) < 0) ++i;
  for (;;) {
    while (i > page->EntryCount()) {
      const std::int32_t next = page->NextPage();
      if (next == 0) return true;
      page = file.GetPage(ctx, next);
      if (!page) return false;
      i = 1;
    }
    if (file.CompareKeys(slot, page->Key(i), high) > 0) return true;
    const std::int32_t ref = page->Ref(i);
    if (ref > 0) bitmap.SetBit(static_cast<std::uint32_t>(ref));
    ++i;
  }
}

namespace {

// Keys that sort before key (or, with orEqual, not after it); -1 when a read
// reported a table change.
std::int64_t KeysBefore(TIndexFile& file, TTreeContext& ctx, const std::uint8_t* key, bool orEqual) {
  const int slot = ctx.IndexSlot();
  TBTree tree(file);
  const TKeyPosition pos = tree.FindKey(ctx, key, true);
  if (pos.Empty) return 0;
  TPagePin page = file.GetPage(ctx, pos.LeafPage);
  if (!page) return -1;
  const int i = std::max(pos.Position, 1);
  if (i > page->EntryCount()) return pos.SeqNo - 1;
  const int c = file.CompareKeys(slot, page->Key(i), key);
  if (c < 0 || (c == 0 && orEqual)) return pos.SeqNo;
  return pos.SeqNo - 1;
}

}  // namespace

std::int64_t CountIndexRange(TIndexFile& file, TTreeContext& ctx, const std::uint8_t* low,
                             const std::uint8_t* high) {
  const int slot = ctx.IndexSlot();
  if (file.Descriptor(slot).NoCounts) return -1;
  if (file.CompareKeys(slot, low, high) > 0) return 0;
  const std::int64_t upTo = KeysBefore(file, ctx, high, true);
  const std::int64_t before = KeysBefore(file, ctx, low, false);
  if (upTo < 0 || before < 0) return -1;
  return std::max<std::int64_t>(upTo - before, 0);
}

}  // namespace tarn
