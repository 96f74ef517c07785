#pragma once
// B+-tree operations on one index of an index file, run for a cursor.
//
// Tree shape (one per index slot; pages in index_page.h):
//   - the root is a RootLeaf or a RootInterior page; all other pages are Leaf or
//     Interior; every leaf lies at the same depth (at most 64 levels);
//   - interior entry i holds the first key of child Ref(i) and, with counts,
//     Count(i) = the number of leaf entries below that child;
//   - the pages of one level are linked left to right by PrevPage/NextPage;
//   - keys ascend strictly (CompareKeys of keys.h) along each level;
//   - pages other than the root and compressed leaves hold at least
//     floor(MaxEntries / 2) entries; no page overflows once an operation ends.
// The logical position of a leaf entry (its sequence number in index order) is
// 1 + the Counts of the entries left of the path in every interior page + the
// entry's position in its leaf - 1.
//
// Every operation takes pages through the index file's cache and pins them with
// TPagePin guards, so every page is given back on every path, failures included.
// A read that the cursor's change check voids (the table changed on disk)
// restarts the operation from the root. Modifying operations first descend
// without changing anything; once they start to change pages the change check
// is suspended (the caller holds the table's write lock), so an operation never
// restarts half-way.

#include <cassert>
#include <cstdint>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "engine/index/index_file.h"
#include "engine/index/tree_context.h"

namespace tarn {

// Where a positioned search landed.
struct TKeyPosition {
  bool Empty = true;         // the index has no keys (nothing else is set)
  bool Found = false;        // the leaf entry equals the key
  std::int32_t LeafPage = 0;
  int Position = 0;          // 1-based entry in the leaf
  std::int64_t SeqNo = 0;    // logical position (meaningful with counts)
};

// What a full check of one tree found.
struct TTreeCheck {
  bool Ok = true;
  std::string Error;               // the first rule broken
  std::int64_t KeyCount = 0;
  int Depth = 0;
  std::vector<std::int32_t> Pages;      // reachable pages
  std::vector<std::int32_t> FreePages;  // the slot's free list
};

class TBTree {
 public:
  explicit TBTree(TIndexFile& file) : FFile(file) {}

  // Inserts key with Ref = recordNumber into the context's index. The caller has
  // checked uniqueness. Throws 8965 for a damaged tree, 9479 when the file is full.
  void AddKey(TTreeContext& ctx, const std::uint8_t* key, std::int32_t recordNumber);
  // Removes key, which must be present: 8965 (and nothing changed) when it is
  // not, or when the index is empty.
  void RemoveKey(TTreeContext& ctx, const std::uint8_t* key);
  // Positioned search: the equal key, else in the leaf the first entry after the
  // key (after = true) or the last entry before it (after = false); at a leaf's
  // edge the position may be the neighbouring entry of the other side (the
  // caller looks at the next or previous leaf). Records the descent path.
  TKeyPosition FindKey(TTreeContext& ctx, const std::uint8_t* key, bool after = true);
  // The leaf entry at logical position n (1-based; clamped to 1..KeyCount),
  // choosing in each interior page the entry whose cumulative Count holds n.
  // Requires an index with counts. Records the descent path; Empty for an
  // empty index.
  TKeyPosition FindSeqNo(TTreeContext& ctx, std::int64_t n);
  // True when the key is present.
  bool KeyExists(TTreeContext& ctx, const std::uint8_t* key);
  // SubtreeCount of the root (0 for an empty index). Throws 8965 when the
  // root page is not a root page.
  std::int64_t KeyCount(TTreeContext& ctx);

  // Checks every tree invariant of the context's index and its free list.
  // `visit` (optional) sees every leaf entry in index order.
  TTreeCheck Check(TTreeContext& ctx,
                   const std::function<void(const std::uint8_t* key, std::int32_t ref)>& visit = {});

 private:
  // The pins of one operation, by level (0 .. MaxLevels + 1). A slot is
  // constructed when first indexed, so an operation pays for the levels it
  // reaches, not for the deepest tree possible; pins are given back deepest
  // first.
  class TPinPath {
   public:
    TPinPath() = default;
    TPinPath(const TPinPath&) = delete;
    TPinPath& operator=(const TPinPath&) = delete;
    ~TPinPath() {
      for (int l = FCount - 1; l >= 0; --l) Slot(l)->~TPagePin();
    }
    TPagePin& operator[](int level) {
      assert(level >= 0 && level < Capacity);
      while (FCount <= level) new (Slot(FCount++)) TPagePin();
      return *Slot(level);
    }

   private:
    static constexpr int Capacity = TDescentPath::MaxLevels + 2;
    TPagePin* Slot(int level) {
      return std::launder(reinterpret_cast<TPagePin*>(FStorage + static_cast<std::size_t>(level) * sizeof(TPagePin)));
    }
    int FCount = 0;  // slots 0 .. FCount - 1 are constructed
    alignas(TPagePin) unsigned char FStorage[Capacity * sizeof(TPagePin)];
  };

  TPagePin MustGet(TTreeContext& ctx, std::int32_t pageNo);
  TPagePin MustAlloc(TTreeContext& ctx);
  // MustGet of a page reached through a PrevPage or NextPage link: 8965 unless
  // it is a live Leaf (leaf) or Interior page.
  TPagePin MustGetSibling(TTreeContext& ctx, std::int32_t pageNo, bool leaf);
  void CheckDescentPage(const TPage& page, int level) const;
  // One descent from root to a leaf, recording ctx.Path() level by level
  // (PageNo, ParentPage, Position; Level at the leaf). In each page,
  // choose(page) gives the 1-based entry to follow, or at the leaf the entry
  // found. With pins, each page stays pinned in (*pins)[level]; without, a
  // page is given back before the next one is read. False when a read was
  // voided by the change check: the caller starts again from the root.
  // Throws 8965 for a damaged page or a tree deeper than MaxLevels.
  template <class TChoose>
  bool Descend(TTreeContext& ctx, std::int32_t root, TPinPath* pins, TChoose&& choose);
  // Adds delta to the Count of the entry followed in every interior page of
  // the path above level.
  static void AdjustPathCounts(TPinPath& pins, const TDescentPath& path, int level, int delta);
  void PropagateFirstKey(TPinPath& pins, const TDescentPath& path, int level);
  void Split(TTreeContext& ctx, TPinPath& pins, TDescentPath& path, int level);
  void RemoveFromParent(TTreeContext& ctx, TPinPath& pins, TDescentPath& path, int level, int pos);
  void HandleUnderflow(TTreeContext& ctx, TPinPath& pins, TDescentPath& path, int level);
  void Unlink(TTreeContext& ctx, TPage& page);

  TIndexFile& FFile;
};

}  // namespace tarn
