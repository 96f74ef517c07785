#pragma once
// What the B+-tree operations need of the cursor they run for.
//
// Tree operations run on the cursor's current index: the slot it holds. The
// cursor keeps the descent path of its last tree operation and runs its change
// check before any page is read from disk. The cursor implements
// TTreeContext; tests use a small fake.
//
// Descent path: levels 1..64, level 1 is the root.
//   ParentPage[level]  page number of the parent of the page at that level
//                      (0 at the root)
//   Position[level]    1-based entry chosen in the page at that level
//   PageNo[level]      the page at that level
//   Level              the level of the last page reached (the leaf)
// Invariants: (1) ParentPage[l + 1] == PageNo[l] for 1 <= l < Level;
// (2) Level <= MaxLevels. Only levels 1..Level mean anything; a descent cut
// short may leave values past Level, which nobody reads.

#include <algorithm>
#include <array>
#include <cstdint>

namespace tarn {

struct TDescentPath {
  static constexpr int MaxLevels = 64;
  std::array<std::int32_t, MaxLevels + 2> ParentPage{};
  std::array<std::int32_t, MaxLevels + 2> Position{};
  std::array<std::int32_t, MaxLevels + 2> PageNo{};
  int Level = 1;

  // Level 1, and levels 0..Level + 1 of the last path zero (a complete
  // path, root splits included, writes no level past its Level): clearing
  // the levels in use costs a few words, not every possible level.
  void Reset() {
    const auto n = static_cast<std::size_t>(std::min(Level + 2, MaxLevels + 2));
    std::fill_n(ParentPage.begin(), n, 0);
    std::fill_n(Position.begin(), n, 0);
    std::fill_n(PageNo.begin(), n, 0);
    Level = 1;
  }
};

class TTreeContext {
 public:
  virtual ~TTreeContext() = default;

  // The index slot the operation runs on: 0 primary, 1..30 secondary,
  // 31 "Sys Deleted", 32 "Sys Text".
  virtual int IndexSlot() const = 0;
  // The cursor's descent path, written by every descent.
  virtual TDescentPath& Path() = 0;
  // The cursor's change check, run before a page is read from disk (unless
  // strict change detection already ran it). It may re-read the table's
  // headers and discard cached pages that are not pinned. True when another
  // program changed the table: the read is void and the tree operation starts
  // again from the root.
  virtual bool TableChanged() = 0;
};

// The context of an index nobody else can change while it is used: a table
// being created, or files a single program holds. It never reports a change.
class TFixedTreeContext : public TTreeContext {
 public:
  explicit TFixedTreeContext(int slot = 0) : FSlot(slot) {}
  int IndexSlot() const override { return FSlot; }
  void SetSlot(int slot) { FSlot = slot; }
  TDescentPath& Path() override { return FPath; }
  bool TableChanged() override { return false; }

 private:
  int FSlot;
  TDescentPath FPath;
};

}  // namespace tarn
