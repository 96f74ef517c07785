#pragma once
// One page of an index file held in memory (`TPage`), and its on-disk image.
//
// Page image (4096 bytes at file offset pageNo x 4096; all integers little-endian):
//   offset  size  field
//        0     1  PageType    0 RootInterior, 1 Interior, 2 Leaf, 3 RootLeaf, 4 TextParams
//        1     2  EntryCount  signed 16-bit; 0 for a page on a free list
//        3     4  PrevPage    left neighbour on the same level, 0 = none
//        7     4  NextPage    right neighbour; next free page on a free list; next
//                             page of the chain on a TextParams page
//       11     2  PackedSize  body bytes used by a compressed leaf; 0 otherwise
//       13  4083  body        entries packed from the first byte, the rest zero
//
// Entries as stored in the body (K = KeySize):
//   interior             key (K), Ref (4), Count (4; left out without counts)
//   leaf, NONE           key (K), Ref (4)
//   leaf, DUPBYTE        Dup (1), key[Dup..K), Ref (4)                       = K - Dup + 5
//   leaf, TRAILBYTE      Trail (1), key less Trail zero bytes, Ref (4)         = K - Trail + 5
//   leaf, FULL           Dup (1), Trail (1), key[Dup..) less Trail, Ref (4)    = K - Dup - Trail + 6
//   TextParams           4083 raw bytes
// Ref is the child page (interior) or the record number (leaf). In a non-unique
// index the last 4 key bytes (the RecAutoInc suffix) are never trimmed: the
// zero bytes removed are those just before the suffix, which follows the shortened
// key. In FULL mode a non-unique entry with K - Dup < 5 is not trimmed at all.
//
// Entries in memory, positions 1-based, integers little-endian as on disk:
//   interior with counts     key (K), Ref (4), Count (4)                  stride K + 8
//   interior without counts,
//   uncompressed leaf        key (K), Ref (4)                             stride K + 4
//   compressed leaf          key (K), Ref (4), Count (4, always 0),
//                            DupCount (1), TrailCount (1)                 stride K + 10
// So an uncompressed page holds its entries exactly as its body stores them:
// reading and writing such a page copies the body whole, and a search runs on
// the bytes read. Count is 0 (and SetCount does nothing) on a page whose
// layout has no count; DupCount and TrailCount are 0 outside compressed leaves.
// The stride follows the page's type: changing a page between leaf and
// interior converts the entries it holds.
//
// Invariants (checked by CheckInvariants):
//   (1) Dup of entry 1 is 0; of entry i > 1 the common prefix with entry i - 1,
//       at most min(K, 254); Trail is the zero run at the end of the trimmable
//       region, at most min(region length, 254) (compressed leaves only);
//   (2) PackedSize is the sum of the stored sizes on a compressed leaf, else 0;
//   (3) a page that is written never overflows (PackedSize <= 4083, EntryCount <= MaxEntries).

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/index/index_descriptor.h"

namespace tarn {

class TPageCache;

namespace IndexPageLayout {
inline constexpr std::size_t PageSize = 4096;
inline constexpr std::size_t PageType = 0;
inline constexpr std::size_t EntryCount = 1;
inline constexpr std::size_t PrevPage = 3;
inline constexpr std::size_t NextPage = 7;
inline constexpr std::size_t PackedSize = 11;
inline constexpr std::size_t HeaderSize = 13;
inline constexpr std::size_t BodySize = PageSize - HeaderSize;
static_assert(PackedSize + 2 == HeaderSize);
static_assert(BodySize == 4083);
// Longest common prefix and trailing zero run an entry may record.
inline constexpr int MaxDupTrail = 254;
}  // namespace IndexPageLayout

enum class TPageType : std::uint8_t {
  RootInterior = 0,
  Interior = 1,
  Leaf = 2,
  RootLeaf = 3,
  TextParams = 4,
};

// Slots of the two internal indexes.
inline constexpr int SysDeletedSlot = 31;
inline constexpr int SysTextSlot = 32;
inline constexpr int IndexSlotCount = 33;

// A page in memory. It belongs to exactly one slot cache or to the spare pool of
// its index file; the cache owns it. Not thread-safe: the index file is used by
// one thread at a time.
class TPage {
 public:
  TPage() = default;
  TPage(const TPage&) = delete;
  TPage& operator=(const TPage&) = delete;

  // Binds the page to an index: page number, slot and the key settings of the descriptor.
  void Bind(std::int32_t pageNo, int slot, const TIndexDescriptor& d);
  // Header fields to zero, no entries, clean, unpinned, not free; the binding stays.
  void Clear();

  std::int32_t PageNo() const { return FPageNo; }
  int Slot() const { return FSlot; }
  int KeySize() const { return FKeySize; }
  bool Unique() const { return FUnique; }
  bool Descending() const { return FDescending; }
  TKeyCompression Compression() const { return FCompression; }

  TPageType Type() const { return FType; }
  // Converts the entries held when the entry layout changes (leaf <-> interior).
  void SetType(TPageType t);
  bool IsLeaf() const { return FType == TPageType::Leaf || FType == TPageType::RootLeaf; }
  bool IsRoot() const { return FType == TPageType::RootLeaf || FType == TPageType::RootInterior; }
  bool IsCompressedLeaf() const { return IsLeaf() && FCompression != TKeyCompression::None; }
  // Interior entries carry subtree counts (not with NoCounts, nor in slot 32).
  bool HasCounts() const { return !FNoCounts && FSlot != SysTextSlot; }

  int EntryCount() const { return FEntryCount; }
  // Sets the count, growing the buffer in 4096-byte steps; entries beyond the count are zeroed.
  void SetEntryCount(int n);
  std::int32_t PrevPage() const { return FPrevPage; }
  std::int32_t NextPage() const { return FNextPage; }
  void SetPrevPage(std::int32_t p) { FPrevPage = p; FDirty = true; }
  void SetNextPage(std::int32_t p) { FNextPage = p; FDirty = true; }
  void SetNeighbours(std::int32_t prev, std::int32_t next) { FPrevPage = prev; FNextPage = next; FDirty = true; }
  int PackedSize() const { return FPackedSize; }

  bool Dirty() const { return FDirty; }
  void MarkDirty() { FDirty = true; }
  void MarkClean() { FDirty = false; }
  int Pins() const { return FPins; }
  void Pin() { ++FPins; }
  void Unpin() { if (FPins > 0) --FPins; }
  bool Free() const { return FFree; }
  void SetFree(bool f) { FFree = f; FDirty = true; }
  // Taken out of its cache while still pinned (DiscardPages); the last unpin
  // gives it back to the spare pool.
  bool Orphan() const { return FOrphan; }
  void SetOrphan(bool o) { FOrphan = o; }

  // Entry access, 1 <= i <= EntryCount (i <= EntryCount + 1 while inserting).
  std::uint8_t* Key(int i) { return FEntries.data() + Offset(i); }
  const std::uint8_t* Key(int i) const { return FEntries.data() + Offset(i); }
  std::int32_t Ref(int i) const { return ReadI32(Offset(i) + FKeySize); }
  void SetRef(int i, std::int32_t v) { WriteI32(Offset(i) + FKeySize, v); FDirty = true; }
  std::int32_t Count(int i) const { return FCountField ? ReadI32(Offset(i) + FKeySize + 4) : 0; }
  void SetCount(int i, std::int32_t v) {
    if (!FCountField) return;
    WriteI32(Offset(i) + FKeySize + 4, v);
    FDirty = true;
  }
  int DupCount(int i) const { return FPackFields ? FEntries[Offset(i) + FKeySize + 8] : 0; }
  int TrailCount(int i) const { return FPackFields ? FEntries[Offset(i) + FKeySize + 9] : 0; }

  // Inserts a new entry after position `after` (0 = in front). Does not repack.
  void InsertEntry(int after, const std::uint8_t* key, std::int32_t ref, std::int32_t count);
  // Removes entry p. Does not repack.
  void RemoveEntry(int p);
  // Overwrites the key of entry p.
  void SetKey(int p, const std::uint8_t* key);
  // Inserts entries first..last of another page of the same index after `after`.
  // PackedSize follows inserts and removals with the entries' current Dup/Trail;
  // a RepackRange (or Repack) of the entries around the change makes it exact.
  void InsertRange(int after, const TPage& other, int first, int last);
  // Appends entries first..last of another page of the same index.
  void AppendFrom(const TPage& other, int first, int last);
  // Removes entries first..last.
  void RemoveRange(int first, int last);

  // Sum of Count over an interior page, EntryCount for a leaf.
  std::int64_t SubtreeCount() const;
  // Sum of Count(first..last); 0 when the range is empty or the entries keep
  // no counts. A descent adds the counts left of its path per interior level
  // (CountBefore) to learn its leaf entry's sequence number.
  std::int64_t CountSum(int first, int last) const;
  // CountSum(1, pos - 1). When total >= 0 it is the page's subtree count as
  // the parent entry records it (a consistent tree keeps the two equal), and
  // the shorter side is summed: total - CountSum(pos, EntryCount) when that
  // takes fewer entries.
  std::int64_t CountBefore(int pos, std::int64_t total) const;
  // Copies header and entries of another page of the same key size (not pins or cache links).
  void CopyFrom(const TPage& other);
  // In a leaf: the number of entries from `pos` on (towards the end when forward,
  // else towards the start), at most `count`, whose Refs are consecutive record
  // numbers (ascending when forward, descending otherwise). 0 when pos is out of range.
  int ConsecutiveRefs(int pos, int count, bool forward) const;

  // floor(4083 / (K + 8)) for an interior page with counts, floor(4083 / (K + 4))
  // for one without counts and for an uncompressed leaf; compressed leaves have no limit.
  int MaxEntries() const;
  bool Overflows() const;
  // Interior pages and uncompressed leaves below floor(MaxEntries / 2).
  bool Underflows() const { return !IsCompressedLeaf() && FEntryCount < MaxEntries() / 2; }

  // Recomputes DupCount, TrailCount and PackedSize of every entry (compressed leaves);
  // sets PackedSize 0 on any other page.
  void Repack();
  // The same for entries first..last only, adjusting PackedSize by the difference;
  // used after a change that affects only those entries.
  void RepackRange(int first, int last);
  // Stored size of entry i with its current Dup/Trail (compressed leaves).
  int StoredSize(int i) const;

  // Writes the 4096-byte image. False (nothing usable written) when a compressed
  // leaf does not fit. Does not change the dirty flag.
  [[nodiscard]] bool WriteImage(std::span<std::uint8_t> image) const;
  // Parses an image into this bound page. With isNew the entries are ignored and
  // the page starts empty. False when the image is malformed: an unknown type,
  // entries that do not fit the body, or a compressed leaf whose stored Dup and
  // Trail counts are not the ones packing gives (so a page read always meets
  // CheckInvariants).
  [[nodiscard]] bool ReadImage(std::span<const std::uint8_t> image, bool isNew);

  // Raw body of a TextParams page (4083 bytes).
  std::span<std::uint8_t> Body();

  // The three in-page searches; `cmp(entryKey, searchKey)` returns -1, 0 or +1
  // (-1: the entry sorts first). Requires EntryCount > 0.
  // Insert position: the equal entry, else the number of entries sorting before the key.
  template <class TCmp>
  int SearchInsert(const std::uint8_t* key, TCmp&& cmp) const;
  // Child or exact: in an interior page the entry whose child covers the key
  // (1 when the key sorts first); in a leaf the equal entry if `found`.
  template <class TCmp>
  int SearchChild(const std::uint8_t* key, TCmp&& cmp, bool& found) const;
  // Positioned search: in an interior page the entry whose child covers the key;
  // in a leaf, without a match, the last entry before the key (after = false) or
  // the first entry after it (after = true). Like the insert search, every probe
  // moves the position to the probed entry first, so a key beyond every entry
  // lands on the last one (the caller then looks at the neighbouring leaf).
  template <class TCmp>
  int SearchPositioned(const std::uint8_t* key, TCmp&& cmp, bool after, bool& found) const;

  // Checks invariants (1)-(2) of the layout comment and count/capacity sanity.
  bool CheckInvariants() const;
  // Memory the page holds: the object and its entry buffer.
  std::size_t MemoryBytes() const { return sizeof(TPage) + FEntries.capacity(); }

 private:
  friend class TPageCache;

  std::size_t Stride() const { return FStride; }
  std::size_t Offset(int i) const { return static_cast<std::size_t>(i - 1) * FStride; }
  // Entry integers are little-endian; on a little-endian host they are loaded
  // and stored as they lie (searches sum the Counts of whole pages).
  std::int32_t ReadI32(std::size_t at) const {
    if constexpr (std::endian::native == std::endian::little) {
      std::int32_t v;
      std::memcpy(&v, FEntries.data() + at, 4);
      return v;
    } else {
      return GetLEI32(FEntries, at);
    }
  }
  void WriteI32(std::size_t at, std::int32_t v) {
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(FEntries.data() + at, &v, 4);
    } else {
      PutLEI32(FEntries, at, v);
    }
  }
  // Entry layout of the page's current type and binding.
  void UpdateLayout();
  // Bytes of one entry as the body stores it (uncompressed pages).
  std::size_t DiskEntrySize() const { return static_cast<std::size_t>(FKeySize) + (FCountField ? 8 : 4); }
  void Reserve(int n);
  // Dup/Trail of entry i given the previous key (nullptr for the first entry).
  void ComputeDupTrail(int i, const std::uint8_t* prev, int& dup, int& trail) const;
  int StoredSizeFor(int dup, int trail) const;

  std::int32_t FPageNo = 0;
  int FSlot = 0;
  int FKeySize = 0;
  bool FDescending = false;
  bool FUnique = true;
  bool FNoCounts = false;
  TKeyCompression FCompression = TKeyCompression::None;
  // Entry layout (UpdateLayout): stride and the optional fields.
  std::size_t FStride = 8;
  bool FCountField = true;
  bool FPackFields = false;

  TPageType FType = TPageType::RootInterior;
  int FEntryCount = 0;
  std::int32_t FPrevPage = 0;
  std::int32_t FNextPage = 0;
  int FPackedSize = 0;
  bool FDirty = false;
  int FPins = 0;
  bool FFree = false;
  bool FOrphan = false;

  std::vector<std::uint8_t> FEntries;

  // Recently-used list of the slot cache.
  TPage* FPrevUsed = nullptr;
  TPage* FNextUsed = nullptr;
};

template <class TCmp>
int TPage::SearchInsert(const std::uint8_t* key, TCmp&& cmp) const {
  int lo = 1, hi = FEntryCount, pos = 0;
  while (lo <= hi) {
    const int mid = (lo + hi) / 2;
    pos = mid;
    const int c = cmp(Key(mid), key);
    if (c < 0) {
      lo = mid + 1;
    } else if (c == 0) {
      return pos;
    } else {
      hi = mid - 1;
      if (hi < lo) pos = hi;
    }
  }
  return pos;
}

template <class TCmp>
int TPage::SearchChild(const std::uint8_t* key, TCmp&& cmp, bool& found) const {
  int lo = 1, hi = FEntryCount, pos = 1;
  found = false;
  while (lo <= hi) {
    const int mid = (lo + hi) / 2;
    pos = mid;
    const int c = cmp(Key(mid), key);
    if (c < 0) {
      lo = mid + 1;
    } else if (c == 0) {
      found = true;
      return pos;
    } else {
      hi = mid - 1;
      if (hi < lo && hi > 0) pos = hi;
    }
  }
  return pos;
}

template <class TCmp>
int TPage::SearchPositioned(const std::uint8_t* key, TCmp&& cmp, bool after, bool& found) const {
  int lo = 1, hi = FEntryCount, pos = 1;
  found = false;
  const bool leaf = IsLeaf();
  while (lo <= hi) {
    const int mid = (lo + hi) / 2;
    pos = mid;
    const int c = cmp(Key(mid), key);
    if (c < 0) {
      lo = mid + 1;
      if (leaf && after && hi < lo && lo <= FEntryCount) pos = lo;
    } else if (c == 0) {
      found = true;
      return mid;
    } else {
      hi = mid - 1;
      if ((!leaf || !after) && hi < lo && hi > 0) pos = hi;
    }
  }
  return pos;
}

}  // namespace tarn
