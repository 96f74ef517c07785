#include "engine/index/btree.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <set>

#include "engine/index/keys.h"

namespace tarn {

namespace {

// Compares stored keys against a search key in the slot's order.
using TSlotCompare = TKeyComparer;

std::int32_t ClampCount(std::int64_t n) { return static_cast<std::int32_t>(n); }

constexpr int BodyLimit = static_cast<int>(IndexPageLayout::BodySize);

// The result of a descent that reached its leaf: the entry the path ends on,
// whose logical position is seq (that of the leaf's first entry) + its
// position - 1.
TKeyPosition LeafPosition(const TDescentPath& path, bool found, std::int64_t seq) {
  TKeyPosition result;
  result.Empty = false;
  result.Found = found;
  result.LeafPage = path.PageNo[path.Level];
  result.Position = path.Position[path.Level];
  result.SeqNo = seq + result.Position - 1;
  return result;
}

}  // namespace

TPagePin TBTree::MustGet(TTreeContext& ctx, std::int32_t pageNo) {
  TPagePin pin = FFile.GetPage(ctx, pageNo);
  if (!pin) FFile.Raise(TARN_INDEXCORRUPT);  // only possible outside a suspension
  return pin;
}

TPagePin TBTree::MustAlloc(TTreeContext& ctx) {
  TPagePin pin = FFile.AllocPage(ctx);
  if (!pin) FFile.Raise(TARN_INDEXCORRUPT);
  return pin;
}

TPagePin TBTree::MustGetSibling(TTreeContext& ctx, std::int32_t pageNo, bool leaf) {
  TPagePin pin = MustGet(ctx, pageNo);
  // A link read from disk may point anywhere: only a live page of the same
  // level below the root is a neighbour.
  if (pin->Free() || pin->Type() == TPageType::TextParams || pin->IsRoot() || pin->IsLeaf() != leaf)
    FFile.Raise(TARN_INDEXCORRUPT);
  return pin;
}

void TBTree::CheckDescentPage(const TPage& page, int level) const {
  if (page.Free() || page.Type() == TPageType::TextParams || page.EntryCount() <= 0 ||
      page.IsRoot() != (level == 1)) {
    FFile.Raise(TARN_INDEXCORRUPT);
  }
}

template <class TChoose>
bool TBTree::Descend(TTreeContext& ctx, std::int32_t root, TPinPath* pins, TChoose&& choose) {
  TDescentPath& path = ctx.Path();
  std::int32_t pageNo = root;
  for (int level = 1;; ++level) {
    if (level > TDescentPath::MaxLevels) FFile.Raise(TARN_INDEXCORRUPT);
    TPagePin local;
    TPagePin& pin = pins != nullptr ? (*pins)[level] : local;
    pin = FFile.GetPage(ctx, pageNo);
    if (!pin) return false;
    TPage& page = *pin;
    CheckDescentPage(page, level);
    const int pos = choose(page);
    path.PageNo[level] = pageNo;
    path.ParentPage[level] = level > 1 ? path.PageNo[level - 1] : 0;
    path.Position[level] = pos;
    if (page.IsLeaf()) {
      path.Level = level;
      return true;
    }
    pageNo = page.Ref(pos);
  }
}

void TBTree::AdjustPathCounts(TPinPath& pins, const TDescentPath& path, int level, int delta) {
  for (int l = 1; l < level; ++l) {
    TPage& page = *pins[l];
    if (page.HasCounts()) page.SetCount(path.Position[l], page.Count(path.Position[l]) + delta);
  }
}

void TBTree::PropagateFirstKey(TPinPath& pins, const TDescentPath& path, int level) {
  for (int l = level; l > 1; --l) {
    TPage& parent = *pins[l - 1];
    const int p = path.Position[l - 1];
    parent.SetKey(p, pins[l]->Key(1));
    if (p != 1) break;
  }
}

void TBTree::AddKey(TTreeContext& ctx, const std::uint8_t* key, std::int32_t recordNumber) {
  const int slot = ctx.IndexSlot();
  const TSlotCompare cmp(FFile.KeyDef(slot));
  for (;;) {
    TDescentPath& path = ctx.Path();
    path.Reset();
    const std::int32_t root = FFile.Descriptor(slot).RootPage;
    if (root == 0) {
      TPagePin page = FFile.AllocPage(ctx);
      if (!page) continue;
      page->SetType(TPageType::RootLeaf);
      page->InsertEntry(0, key, recordNumber, 0);
      page->Repack();
      FFile.SetRootPage(slot, page->PageNo());
      path.PageNo[1] = page->PageNo();
      path.Position[1] = 1;
      path.Level = 1;
      return;
    }
    TPinPath pins;
    // In a leaf the entry to insert after (0: before the first); in an
    // interior page the child whose key range takes the key.
    const bool reached = Descend(ctx, root, &pins, [&](const TPage& page) {
      const int pos = page.SearchInsert(key, cmp);
      return page.IsLeaf() || pos != 0 ? pos : 1;
    });
    if (!reached) continue;
    const int level = path.Level;

    TIndexFile::TChangeCheckSuspension suspend(FFile);
    AdjustPathCounts(pins, path, level, +1);
    TPage& leaf = *pins[level];
    const int after = path.Position[level];
    leaf.InsertEntry(after, key, recordNumber, 0);
    leaf.RepackRange(after + 1, after + 2);
    path.Position[level] = after + 1;
    if (after == 0) PropagateFirstKey(pins, path, level);
    if (leaf.Overflows()) Split(ctx, pins, path, level);
    assert(leaf.CheckInvariants());
    assert(FFile.CheckInvariants());
    return;
  }
}

void TBTree::Split(TTreeContext& ctx, TPinPath& pins, TDescentPath& path, int level) {
  TPage& page = *pins[level];
  const int slot = ctx.IndexSlot();
  const bool leaf = page.IsLeaf();
  const bool wasRoot = page.IsRoot();
  const int n = page.EntryCount();
  const int keep = n - n / 2;

  TPagePin right = MustAlloc(ctx);
  right->SetType(leaf ? TPageType::Leaf : TPageType::Interior);
  page.SetType(leaf ? TPageType::Leaf : TPageType::Interior);
  right->AppendFrom(page, keep + 1, n);
  page.RemoveRange(keep + 1, n);
  const std::int32_t oldNext = page.NextPage();
  right->SetNeighbours(page.PageNo(), oldNext);
  if (oldNext != 0) {
    TPagePin after = MustGetSibling(ctx, oldNext, leaf);
    after->SetPrevPage(right->PageNo());
  }
  page.SetNextPage(right->PageNo());
  page.Repack();
  right->Repack();

  if (page.IsCompressedLeaf()) {
    if (page.PackedSize() > BodyLimit) {
      while (page.PackedSize() > BodyLimit && page.EntryCount() > 1) {
        const int last = page.EntryCount();
        right->InsertEntry(0, page.Key(last), page.Ref(last), 0);
        page.RemoveEntry(last);
        right->RepackRange(1, 2);
      }
      if (right->PackedSize() > BodyLimit) FFile.Raise(TARN_INDEXCORRUPT);
    } else if (right->PackedSize() > BodyLimit) {
      while (right->PackedSize() > BodyLimit && right->EntryCount() > 1) {
        page.InsertEntry(page.EntryCount(), right->Key(1), right->Ref(1), 0);
        page.RepackRange(page.EntryCount(), page.EntryCount());
        right->RemoveEntry(1);
        right->RepackRange(1, 1);
      }
      if (page.PackedSize() > BodyLimit) FFile.Raise(TARN_INDEXCORRUPT);
    }
    if (page.PackedSize() > BodyLimit || right->PackedSize() > BodyLimit) FFile.Raise(TARN_INDEXCORRUPT);
  }

  // The path follows its entry (the new key in the leaf, the child followed
  // above it) into whichever half now holds it.
  const bool movedRight = path.Position[level] > page.EntryCount();
  if (movedRight) {
    path.Position[level] -= page.EntryCount();
    path.PageNo[level] = right->PageNo();
    if (level < path.Level) path.ParentPage[level + 1] = right->PageNo();
  }

  const bool counts = page.HasCounts();
  if (wasRoot) {
    TPagePin root = MustAlloc(ctx);
    root->SetType(TPageType::RootInterior);
    root->InsertEntry(0, page.Key(1), page.PageNo(), counts ? ClampCount(page.SubtreeCount()) : 0);
    root->InsertEntry(1, right->Key(1), right->PageNo(), counts ? ClampCount(right->SubtreeCount()) : 0);
    FFile.SetRootPage(slot, root->PageNo());
    // A new level above the old root: every level of the path moves down one.
    if (path.Level <= TDescentPath::MaxLevels) {
      for (int l = path.Level; l >= 1; --l) {
        path.PageNo[l + 1] = path.PageNo[l];
        path.Position[l + 1] = path.Position[l];
        path.ParentPage[l + 1] = path.ParentPage[l];
      }
      path.PageNo[1] = root->PageNo();
      path.Position[1] = movedRight ? 2 : 1;
      path.ParentPage[1] = 0;
      path.ParentPage[2] = root->PageNo();
      ++path.Level;
    }
    return;
  }
  if (level < 2 || !pins[level - 1]) FFile.Raise(TARN_INDEXCORRUPT);
  TPage& parent = *pins[level - 1];
  const int p = path.Position[level - 1];
  if (parent.HasCounts()) parent.SetCount(p, ClampCount(page.SubtreeCount()));
  parent.InsertEntry(p, right->Key(1), right->PageNo(),
                     parent.HasCounts() ? ClampCount(right->SubtreeCount()) : 0);
  if (movedRight) path.Position[level - 1] = p + 1;
  right.Release();
  if (parent.Overflows()) Split(ctx, pins, path, level - 1);
}

void TBTree::RemoveKey(TTreeContext& ctx, const std::uint8_t* key) {
  const int slot = ctx.IndexSlot();
  const TSlotCompare cmp(FFile.KeyDef(slot));
  for (;;) {
    TDescentPath& path = ctx.Path();
    path.Reset();
    const std::int32_t root = FFile.Descriptor(slot).RootPage;
    if (root == 0) FFile.Raise(TARN_INDEXCORRUPT);
    TPinPath pins;
    bool found = false;
    const bool reached =
        Descend(ctx, root, &pins, [&](const TPage& page) { return page.SearchChild(key, cmp, found); });
    if (!reached) continue;
    const int level = path.Level;
    // A missing key is reported before anything changes.
    if (!found) FFile.Raise(TARN_INDEXCORRUPT);

    TIndexFile::TChangeCheckSuspension suspend(FFile);
    AdjustPathCounts(pins, path, level, -1);
    TPage& leaf = *pins[level];
    const int removed = path.Position[level];
    leaf.RemoveEntry(removed);
    leaf.RepackRange(removed, removed);
    if (path.Position[level] > leaf.EntryCount()) path.Position[level] = leaf.EntryCount();
    if (leaf.EntryCount() > 0 && removed == 1) PropagateFirstKey(pins, path, level);
    HandleUnderflow(ctx, pins, path, level);
    assert(leaf.CheckInvariants());
    assert(FFile.CheckInvariants());
    return;
  }
}

void TBTree::RemoveFromParent(TTreeContext& ctx, TPinPath& pins, TDescentPath& path, int level, int pos) {
  TPage& page = *pins[level];
  page.RemoveEntry(pos);
  if (page.EntryCount() > 0 && pos == 1) PropagateFirstKey(pins, path, level);
  HandleUnderflow(ctx, pins, path, level);
}

void TBTree::Unlink(TTreeContext& ctx, TPage& page) {
  const std::int32_t prev = page.PrevPage();
  const std::int32_t next = page.NextPage();
  if (prev != 0) {
    TPagePin left = MustGetSibling(ctx, prev, page.IsLeaf());
    left->SetNextPage(next);
  }
  if (next != 0) {
    TPagePin right = MustGetSibling(ctx, next, page.IsLeaf());
    right->SetPrevPage(prev);
  }
  page.SetNeighbours(0, 0);
}

void TBTree::HandleUnderflow(TTreeContext& ctx, TPinPath& pins, TDescentPath& path, int level) {
  TPage& page = *pins[level];
  const int slot = ctx.IndexSlot();
  if (level == 1) {
    if (page.IsLeaf()) {
      if (page.EntryCount() == 0) {
        FFile.FreePage(ctx, page);
        FFile.SetRootPage(slot, 0);
      }
    } else if (page.EntryCount() == 1) {
      const std::int32_t child = page.Ref(1);
      TPagePin newRoot = MustGet(ctx, child);
      if (newRoot->Free() || newRoot->Type() == TPageType::TextParams || newRoot->IsRoot())
        FFile.Raise(TARN_INDEXCORRUPT);
      FFile.FreePage(ctx, page);
      newRoot->SetType(newRoot->IsLeaf() ? TPageType::RootLeaf : TPageType::RootInterior);
      newRoot->SetNeighbours(0, 0);
      FFile.SetRootPage(slot, child);
    }
    return;
  }
  if (!pins[level - 1]) FFile.Raise(TARN_INDEXCORRUPT);
  TPage& parent = *pins[level - 1];
  const int p = path.Position[level - 1];

  if (page.IsCompressedLeaf()) {
    if (page.EntryCount() > 0) return;
    Unlink(ctx, page);
    FFile.FreePage(ctx, page);
    RemoveFromParent(ctx, pins, path, level - 1, p);
    return;
  }
  if (!page.Underflows()) return;

  const int maxEntries = page.MaxEntries();
  const int n = page.EntryCount();
  const bool useLeft = p == parent.EntryCount() || p != 1;
  if (useLeft) {
    if (p < 2 || page.PrevPage() == 0 || page.PrevPage() != parent.Ref(p - 1)) FFile.Raise(TARN_INDEXCORRUPT);
    TPagePin left = MustGetSibling(ctx, page.PrevPage(), page.IsLeaf());
    if (n + left->EntryCount() < maxEntries) {
      left->AppendFrom(page, 1, n);
      left->Repack();
      page.SetEntryCount(0);
      const std::int32_t next = page.NextPage();
      left->SetNextPage(next);
      if (next != 0) {
        TPagePin after = MustGetSibling(ctx, next, page.IsLeaf());
        after->SetPrevPage(left->PageNo());
      }
      page.SetNeighbours(0, 0);
      FFile.FreePage(ctx, page);
      if (parent.HasCounts()) parent.SetCount(p - 1, ClampCount(left->SubtreeCount()));
      left.Release();
      RemoveFromParent(ctx, pins, path, level - 1, p);
    } else {
      const int t = left->EntryCount() + n;
      const int leftKeeps = (t + 1) / 2;
      const int leftCount = left->EntryCount();
      page.InsertRange(0, *left, leftKeeps + 1, leftCount);
      left->RemoveRange(leftKeeps + 1, leftCount);
      page.Repack();
      left->Repack();
      parent.SetKey(p, page.Key(1));
      if (parent.HasCounts()) {
        parent.SetCount(p, ClampCount(page.SubtreeCount()));
        parent.SetCount(p - 1, ClampCount(left->SubtreeCount()));
      }
    }
    return;
  }
  // The first child of its parent: the right neighbour.
  if (p + 1 > parent.EntryCount() || page.NextPage() == 0 || page.NextPage() != parent.Ref(p + 1))
    FFile.Raise(TARN_INDEXCORRUPT);
  TPagePin right = MustGetSibling(ctx, page.NextPage(), page.IsLeaf());
  if (n + right->EntryCount() < maxEntries) {
    right->InsertRange(0, page, 1, n);
    right->Repack();
    page.SetEntryCount(0);
    const std::int32_t prev = page.PrevPage();
    right->SetPrevPage(prev);
    if (prev != 0) {
      TPagePin before = MustGetSibling(ctx, prev, page.IsLeaf());
      before->SetNextPage(right->PageNo());
    }
    page.SetNeighbours(0, 0);
    FFile.FreePage(ctx, page);
    parent.SetKey(p + 1, right->Key(1));
    if (parent.HasCounts()) parent.SetCount(p + 1, ClampCount(right->SubtreeCount()));
    right.Release();
    RemoveFromParent(ctx, pins, path, level - 1, p);
  } else {
    const int t = right->EntryCount() + n;
    const int pageKeeps = t / 2;
    const int move = pageKeeps - n;
    page.AppendFrom(*right, 1, move);
    right->RemoveRange(1, move);
    page.Repack();
    right->Repack();
    parent.SetKey(p + 1, right->Key(1));
    if (parent.HasCounts()) {
      parent.SetCount(p, ClampCount(page.SubtreeCount()));
      parent.SetCount(p + 1, ClampCount(right->SubtreeCount()));
    }
  }
}

TKeyPosition TBTree::FindKey(TTreeContext& ctx, const std::uint8_t* key, bool after) {
  const int slot = ctx.IndexSlot();
  const TSlotCompare cmp(FFile.KeyDef(slot));
  for (;;) {
    ctx.Path().Reset();
    const std::int32_t root = FFile.Descriptor(slot).RootPage;
    if (root == 0) return TKeyPosition{};
    std::int64_t seq = 1;
    std::int64_t below = -1;  // the current page's subtree count, from its parent entry
    bool found = false;
    const bool reached = Descend(ctx, root, nullptr, [&](const TPage& page) {
      const int pos = page.SearchPositioned(key, cmp, after, found);
      if (!page.IsLeaf() && page.HasCounts()) {
        seq += page.CountBefore(pos, below);
        below = page.Count(pos);
      }
      return pos;
    });
    if (reached) return LeafPosition(ctx.Path(), found, seq);
  }
}

TKeyPosition TBTree::FindSeqNo(TTreeContext& ctx, std::int64_t n) {
  const int slot = ctx.IndexSlot();
  for (;;) {
    ctx.Path().Reset();
    const std::int32_t root = FFile.Descriptor(slot).RootPage;
    if (root == 0) return TKeyPosition{};
    std::int64_t wanted = std::max<std::int64_t>(n, 1);
    std::int64_t seq = 1;
    const bool reached = Descend(ctx, root, nullptr, [&](const TPage& page) {
      if (page.IsLeaf()) return static_cast<int>(std::min<std::int64_t>(wanted, page.EntryCount()));
      int pos = 1;
      while (pos < page.EntryCount() && wanted > page.Count(pos)) {
        wanted -= page.Count(pos);
        seq += page.Count(pos);
        ++pos;
      }
      return pos;
    });
    if (reached) return LeafPosition(ctx.Path(), true, seq);
  }
}

bool TBTree::KeyExists(TTreeContext& ctx, const std::uint8_t* key) { return FindKey(ctx, key, true).Found; }

std::int64_t TBTree::KeyCount(TTreeContext& ctx) {
  for (;;) {
    const std::int32_t root = FFile.Descriptor(ctx.IndexSlot()).RootPage;
    if (root == 0) return 0;
    TPagePin pin = FFile.GetPage(ctx, root);
    if (!pin) continue;
    if (pin->Free() || pin->Type() == TPageType::TextParams || !pin->IsRoot()) FFile.Raise(TARN_INDEXCORRUPT);
    return pin->SubtreeCount();
  }
}

TTreeCheck TBTree::Check(TTreeContext& ctx,
                         const std::function<void(const std::uint8_t* key, std::int32_t ref)>& visit) {
  TTreeCheck out;
  const int slot = ctx.IndexSlot();
  const TSlotCompare cmp(FFile.KeyDef(slot));
  const int keySize = FFile.Descriptor(slot).KeySize;
  auto fail = [&](const std::string& why) {
    if (out.Ok) {
      out.Ok = false;
      out.Error = why;
    }
  };
  std::vector<std::vector<std::int32_t>> levels;
  std::vector<std::uint8_t> lastKey;
  bool haveLast = false;
  std::set<std::int32_t> seen;

  // Depth-first, left to right; returns the subtree's key count.
  std::function<std::int64_t(std::int32_t, int, const std::uint8_t*)> walk =
      [&](std::int32_t pageNo, int level, const std::uint8_t* parentKey) -> std::int64_t {
    if (!out.Ok) return 0;
    if (level > TDescentPath::MaxLevels) {
      fail("too deep");
      return 0;
    }
    if (!seen.insert(pageNo).second) {
      fail("page reached twice: " + std::to_string(pageNo));
      return 0;
    }
    out.Pages.push_back(pageNo);
    TPagePin pin;
    while (!(pin = FFile.GetPage(ctx, pageNo))) {
    }
    TPage& page = *pin;
    if (static_cast<int>(levels.size()) < level) levels.emplace_back();
    levels[level - 1].push_back(pageNo);
    if (page.Free()) fail("free page in tree: " + std::to_string(pageNo));
    if (page.IsRoot() != (level == 1)) fail("root type wrong at page " + std::to_string(pageNo));
    if (page.EntryCount() == 0) fail("empty page " + std::to_string(pageNo));
    if (page.Overflows()) fail("overflow at page " + std::to_string(pageNo));
    if (!page.CheckInvariants()) fail("packing wrong at page " + std::to_string(pageNo));
    if (level > 1 && !page.IsCompressedLeaf() && page.EntryCount() < page.MaxEntries() / 2)
      fail("underfull page " + std::to_string(pageNo));
    if (parentKey != nullptr && page.EntryCount() > 0 && std::memcmp(parentKey, page.Key(1), keySize) != 0)
      fail("parent key differs from first key of page " + std::to_string(pageNo));
    for (int i = 2; i <= page.EntryCount(); ++i) {
      if (cmp(page.Key(i - 1), page.Key(i)) >= 0) fail("order inside page " + std::to_string(pageNo));
    }
    if (page.IsLeaf()) {
      if (out.Depth == 0) out.Depth = level;
      if (out.Depth != level) fail("leaves at different depths");
      for (int i = 1; i <= page.EntryCount(); ++i) {
        if (haveLast && cmp(lastKey.data(), page.Key(i)) >= 0) fail("order across leaves");
        lastKey.assign(page.Key(i), page.Key(i) + keySize);
        haveLast = true;
        if (visit) visit(page.Key(i), page.Ref(i));
      }
      return page.EntryCount();
    }
    std::int64_t total = 0;
    for (int i = 1; i <= page.EntryCount() && out.Ok; ++i) {
      std::vector<std::uint8_t> key(page.Key(i), page.Key(i) + keySize);
      const std::int32_t child = page.Ref(i);
      const std::int32_t count = page.Count(i);
      const bool counts = page.HasCounts();
      const std::int64_t sub = walk(child, level + 1, key.data());
      if (counts && sub != count)
        fail("count of entry " + std::to_string(i) + " in page " + std::to_string(pageNo) + " is " +
             std::to_string(count) + ", subtree holds " + std::to_string(sub));
      total += sub;
    }
    return total;
  };
  const std::int32_t root = FFile.Descriptor(slot).RootPage;
  if (root != 0) out.KeyCount = walk(root, 1, nullptr);

  // Page links on every level.
  for (const auto& row : levels) {
    for (std::size_t i = 0; i < row.size() && out.Ok; ++i) {
      TPagePin pin;
      while (!(pin = FFile.GetPage(ctx, row[i]))) {
      }
      const std::int32_t wantPrev = i == 0 ? 0 : row[i - 1];
      const std::int32_t wantNext = i + 1 == row.size() ? 0 : row[i + 1];
      if (pin->PrevPage() != wantPrev || pin->NextPage() != wantNext)
        fail("links of page " + std::to_string(row[i]) + " are wrong");
    }
  }
  // The free list: pages of this slot, none reachable, no cycle.
  std::int32_t freePage = FFile.Descriptor(slot).FreePageList;
  std::set<std::int32_t> freeSeen;
  while (freePage != 0 && out.Ok) {
    if (!freeSeen.insert(freePage).second) {
      fail("free list cycle");
      break;
    }
    if (seen.count(freePage) != 0) fail("page both reachable and free: " + std::to_string(freePage));
    out.FreePages.push_back(freePage);
    TPagePin pin;
    while (!(pin = FFile.GetPage(ctx, freePage, true))) {
    }
    freePage = pin->NextPage();
  }
  return out;
}

}  // namespace tarn
