// Page images of every kind and compression, packing caps, in-page searches.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/index/index_page.h"

namespace tarn {
namespace {

using TKey = std::vector<std::uint8_t>;

TIndexDescriptor Desc(int keySize, bool unique, TKeyCompression c, bool noCounts = false) {
  TIndexDescriptor d;
  d.KeySize = static_cast<std::int16_t>(keySize);
  d.Unique = unique;
  d.Compression = c;
  d.NoCounts = noCounts;
  return d;
}

void Fill(TPage& page, const std::vector<TKey>& keys) {
  for (std::size_t i = 0; i < keys.size(); ++i) {
    page.InsertEntry(static_cast<int>(i), keys[i].data(), static_cast<std::int32_t>(100 + i),
                     static_cast<std::int32_t>(7 * i + 1));
  }
  page.Repack();
}

TKey K(std::initializer_list<int> bytes, int size) {
  TKey key(static_cast<std::size_t>(size), 0);
  int i = 0;
  for (int b : bytes) key[static_cast<std::size_t>(i++)] = static_cast<std::uint8_t>(b);
  return key;
}

struct TRoundTripCase {
  const char* Name;
  TPageType Type;
  TKeyCompression Compression;
  bool Unique;
  bool NoCounts;
  int Slot;
};

TEST(IndexPageImage, EveryKindRoundTripsThroughItsImage) {
  const TRoundTripCase cases[] = {
      {"interior with counts", TPageType::Interior, TKeyCompression::None, true, false, 1},
      {"interior without counts", TPageType::RootInterior, TKeyCompression::None, true, true, 1},
      {"interior of Sys Text", TPageType::Interior, TKeyCompression::Full, true, false, SysTextSlot},
      {"leaf NONE", TPageType::Leaf, TKeyCompression::None, false, false, 1},
      {"leaf DUPBYTE unique", TPageType::RootLeaf, TKeyCompression::DupByte, true, false, 1},
      {"leaf DUPBYTE non-unique", TPageType::Leaf, TKeyCompression::DupByte, false, false, 1},
      {"leaf TRAILBYTE unique", TPageType::Leaf, TKeyCompression::TrailByte, true, false, 1},
      {"leaf TRAILBYTE non-unique", TPageType::Leaf, TKeyCompression::TrailByte, false, false, 1},
      {"leaf FULL unique", TPageType::Leaf, TKeyCompression::Full, true, false, 1},
      {"leaf FULL non-unique", TPageType::Leaf, TKeyCompression::Full, false, false, 1},
  };
  const int k = 12;
  const std::vector<TKey> keys = {K({1, 2, 3}, k), K({1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 5}, k),
                                  K({1, 2, 4, 9}, k), K({1, 2, 4, 9, 0, 0, 0, 0, 1, 0, 0, 0}, k),
                                  K({7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7}, k)};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TPage page;
    page.Bind(9, c.Slot, Desc(k, c.Unique, c.Compression, c.NoCounts));
    page.Clear();
    page.SetType(c.Type);
    page.SetNeighbours(3, 11);
    Fill(page, keys);
    ASSERT_TRUE(page.CheckInvariants());
    std::array<std::uint8_t, 4096> image{};
    ASSERT_TRUE(page.WriteImage(image));
    EXPECT_EQ(image[0], static_cast<std::uint8_t>(c.Type));
    EXPECT_EQ(GetLEI16(image, 1), 5);
    EXPECT_EQ(GetLEI32(image, 3), 3);
    EXPECT_EQ(GetLEI32(image, 7), 11);
    EXPECT_EQ(GetLE16(image, 11), static_cast<std::uint16_t>(page.PackedSize()));

    TPage back;
    back.Bind(9, c.Slot, Desc(k, c.Unique, c.Compression, c.NoCounts));
    ASSERT_TRUE(back.ReadImage(image, false));
    ASSERT_EQ(back.EntryCount(), 5);
    const bool counts = !page.IsLeaf() && page.HasCounts();
    for (int i = 1; i <= 5; ++i) {
      EXPECT_EQ(0, std::memcmp(back.Key(i), keys[static_cast<std::size_t>(i - 1)].data(), k)) << "entry " << i;
      EXPECT_EQ(back.Ref(i), 99 + i);
      EXPECT_EQ(back.Count(i), counts ? 7 * (i - 1) + 1 : 0);
    }
    EXPECT_EQ(back.PackedSize(), page.PackedSize());
    EXPECT_TRUE(back.CheckInvariants());
  }
}

TEST(IndexPageImage, StoredEntriesHaveTheDocumentedBytes) {
  // Two unique 6-byte keys: 41 42 00 00 00 00 and 41 42 43 00 00 00, refs 0x01020304 and 5.
  const std::vector<TKey> keys = {K({0x41, 0x42}, 6), K({0x41, 0x42, 0x43}, 6)};
  struct TCase {
    TKeyCompression Compression;
    std::vector<std::uint8_t> Body;
  } cases[] = {
      {TKeyCompression::None,
       {0x41, 0x42, 0, 0, 0, 0, 4, 3, 2, 1, 0x41, 0x42, 0x43, 0, 0, 0, 5, 0, 0, 0}},
      {TKeyCompression::DupByte, {0, 0x41, 0x42, 0, 0, 0, 0, 4, 3, 2, 1, 2, 0x43, 0, 0, 0, 5, 0, 0, 0}},
      {TKeyCompression::TrailByte, {4, 0x41, 0x42, 4, 3, 2, 1, 3, 0x41, 0x42, 0x43, 5, 0, 0, 0}},
      {TKeyCompression::Full, {0, 4, 0x41, 0x42, 4, 3, 2, 1, 2, 3, 0x43, 5, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Compression));
    TPage page;
    page.Bind(1, 1, Desc(6, true, c.Compression));
    page.Clear();
    page.SetType(TPageType::RootLeaf);
    page.InsertEntry(0, keys[0].data(), 0x01020304, 0);
    page.InsertEntry(1, keys[1].data(), 5, 0);
    page.Repack();
    std::array<std::uint8_t, 4096> image{};
    ASSERT_TRUE(page.WriteImage(image));
    const std::vector<std::uint8_t> body(image.begin() + 13, image.begin() + 13 + static_cast<long>(c.Body.size()) + 4);
    std::vector<std::uint8_t> expected = c.Body;
    expected.insert(expected.end(), 4, 0);
    EXPECT_EQ(body, expected);
    EXPECT_EQ(GetLE16(image, 11), c.Compression == TKeyCompression::None ? 0 : c.Body.size());
  }
}

TEST(IndexPagePacking, DupAndTrailStopAt254) {
  // Keys of 310 bytes sharing their first 300 bytes; the second ends in 300 zero bytes.
  TKey a(310, 0x33);
  TKey b(310, 0x33);
  b[305] = 0x34;
  TKey zeros(310, 0);
  zeros[0] = 0x01;
  for (auto c : {TKeyCompression::DupByte, TKeyCompression::TrailByte, TKeyCompression::Full}) {
    TPage page;
    page.Bind(1, 1, Desc(310, true, c));
    page.Clear();
    page.SetType(TPageType::Leaf);
    page.InsertEntry(0, zeros.data(), 1, 0);
    page.InsertEntry(1, a.data(), 2, 0);
    page.InsertEntry(2, b.data(), 3, 0);
    page.Repack();
    if (c != TKeyCompression::TrailByte) {
      EXPECT_EQ(page.DupCount(3), 254) << static_cast<int>(c);
    }
    if (c != TKeyCompression::DupByte) {
      EXPECT_EQ(page.TrailCount(1), 254) << static_cast<int>(c);
    }
    std::array<std::uint8_t, 4096> image{};
    ASSERT_TRUE(page.WriteImage(image));
    TPage back;
    back.Bind(1, 1, Desc(310, true, c));
    ASSERT_TRUE(back.ReadImage(image, false));
    EXPECT_EQ(0, std::memcmp(back.Key(1), zeros.data(), 310));
    EXPECT_EQ(0, std::memcmp(back.Key(3), b.data(), 310));
  }
}

TEST(IndexPagePacking, RecAutoIncSuffixIsNeverTrimmed) {
  // Non-unique 10-byte keys: 6 key bytes then a 4-byte suffix that is zero or ends in zeros.
  const TKey first = K({5, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 10);
  const TKey second = K({5, 6, 0, 0, 0, 0, 0x80, 0, 0, 0}, 10);
  for (auto c : {TKeyCompression::TrailByte, TKeyCompression::Full}) {
    TPage page;
    page.Bind(1, 1, Desc(10, false, c));
    page.Clear();
    page.SetType(TPageType::Leaf);
    page.InsertEntry(0, first.data(), 1, 0);
    page.InsertEntry(1, second.data(), 2, 0);
    page.Repack();
    EXPECT_EQ(page.TrailCount(1), 5);  // key bytes 1..5, not the suffix
    EXPECT_EQ(page.TrailCount(2), 4);
    std::array<std::uint8_t, 4096> image{};
    ASSERT_TRUE(page.WriteImage(image));
    TPage back;
    back.Bind(1, 1, Desc(10, false, c));
    ASSERT_TRUE(back.ReadImage(image, false));
    EXPECT_EQ(0, std::memcmp(back.Key(1), first.data(), 10));
    EXPECT_EQ(0, std::memcmp(back.Key(2), second.data(), 10));
  }
  // FULL with fewer than 5 bytes after the shared prefix trims nothing.
  TPage page;
  page.Bind(1, 1, Desc(10, false, TKeyCompression::Full));
  page.Clear();
  page.SetType(TPageType::Leaf);
  const TKey a = K({1, 2, 3, 4, 5, 6, 0, 0, 0, 1}, 10);
  const TKey b = K({1, 2, 3, 4, 5, 6, 0, 0, 0, 2}, 10);
  page.InsertEntry(0, a.data(), 1, 0);
  page.InsertEntry(1, b.data(), 2, 0);
  page.Repack();
  EXPECT_EQ(page.DupCount(2), 9);
  EXPECT_EQ(page.TrailCount(2), 0);
  EXPECT_EQ(page.PackedSize(), (10 - 0 - 0 + 6) + (10 - 9 - 0 + 6));
}

TEST(IndexPageImage, MalformedImagesAreRejected) {
  TPage good;
  good.Bind(1, 1, Desc(6, true, TKeyCompression::Full));
  good.Clear();
  good.SetType(TPageType::Leaf);
  const TKey a = K({1, 2}, 6), b = K({1, 3}, 6);
  good.InsertEntry(0, a.data(), 1, 0);
  good.InsertEntry(1, b.data(), 2, 0);
  good.Repack();
  std::array<std::uint8_t, 4096> base{};
  ASSERT_TRUE(good.WriteImage(base));
  struct TCase {
    const char* Name;
    std::size_t At;
    std::uint8_t Value;
  } cases[] = {
      {"unknown page type", 0, 9},
      {"negative entry count", 2, 0x80},
      {"more entries than the body holds", 2, 0x03},
      {"first entry with a shared prefix", 13, 1},
      {"trail longer than the key", 14, 200},
  };
  for (const auto& c : cases) {
    auto image = base;
    image[c.At] = c.Value;
    TPage page;
    page.Bind(1, 1, Desc(6, true, TKeyCompression::Full));
    EXPECT_FALSE(page.ReadImage(image, false)) << c.Name;
  }
  // Truncated entries running past the page end.
  auto image = base;
  PutLEI16(image, 1, 800);
  TPage page;
  page.Bind(1, 1, Desc(6, true, TKeyCompression::Full));
  EXPECT_FALSE(page.ReadImage(image, false));
  // Taken from a free list: entries are ignored.
  EXPECT_TRUE(page.ReadImage(image, true));
  EXPECT_EQ(page.EntryCount(), 0);
}

// Stored Dup and Trail counts that decode, but are not what packing gives,
// would break the page's invariants at its next change.
TEST(IndexPageImage, UnpackedCompressedLeavesAreRejected) {
  for (const TKeyCompression compression : {TKeyCompression::DupByte, TKeyCompression::TrailByte, TKeyCompression::Full}) {
    TPage loose;
    loose.Bind(1, 1, Desc(6, true, compression));
    loose.Clear();
    loose.SetType(TPageType::Leaf);
    const TKey a = K({1, 2}, 6), b = K({1, 3}, 6);
    loose.InsertEntry(0, a.data(), 1, 0);  // Dup and Trail 0: the keys kept whole
    loose.InsertEntry(1, b.data(), 2, 0);
    std::array<std::uint8_t, 4096> image{};
    ASSERT_TRUE(loose.WriteImage(image));
    TPage page;
    page.Bind(1, 1, Desc(6, true, compression));
    EXPECT_FALSE(page.ReadImage(image, false)) << static_cast<int>(compression);
    loose.Repack();
    ASSERT_TRUE(loose.WriteImage(image));
    EXPECT_TRUE(page.ReadImage(image, false)) << static_cast<int>(compression);
    EXPECT_TRUE(page.CheckInvariants());
  }
}

TEST(IndexPageImage, FreePagesAreWrittenWithoutEntries) {
  TPage page;
  page.Bind(4, 1, Desc(8, true, TKeyCompression::None));
  page.Clear();
  page.SetType(TPageType::Leaf);
  const TKey a = K({1}, 8);
  page.InsertEntry(0, a.data(), 1, 0);
  page.SetNextPage(17);
  page.SetFree(true);
  std::array<std::uint8_t, 4096> image{};
  ASSERT_TRUE(page.WriteImage(image));
  EXPECT_EQ(GetLEI16(image, 1), 0);
  EXPECT_EQ(GetLEI32(image, 7), 17);
  EXPECT_TRUE(std::all_of(image.begin() + 13, image.end(), [](std::uint8_t v) { return v == 0; }));
}

TEST(IndexPageLimits, MaxEntriesAndOverflow) {
  struct TCase {
    TPageType Type;
    TKeyCompression Compression;
    bool NoCounts;
    int Slot;
    int Max;
  } cases[] = {
      {TPageType::Interior, TKeyCompression::None, false, 1, 4083 / 16},
      {TPageType::Interior, TKeyCompression::None, true, 1, 4083 / 12},
      {TPageType::Interior, TKeyCompression::None, false, SysTextSlot, 4083 / 12},
      {TPageType::Leaf, TKeyCompression::None, false, 1, 4083 / 12},
  };
  for (const auto& c : cases) {
    TPage page;
    page.Bind(1, c.Slot, Desc(8, true, c.Compression, c.NoCounts));
    page.Clear();
    page.SetType(c.Type);
    EXPECT_EQ(page.MaxEntries(), c.Max);
    page.SetEntryCount(c.Max);
    EXPECT_FALSE(page.Overflows());
    page.SetEntryCount(c.Max + 1);
    EXPECT_TRUE(page.Overflows());
    std::array<std::uint8_t, 4096> image{};
    EXPECT_FALSE(page.WriteImage(image));
  }
  // A compressed leaf overflows by packed size only.
  TPage page;
  page.Bind(1, 1, Desc(8, true, TKeyCompression::Full));
  page.Clear();
  page.SetType(TPageType::Leaf);
  for (int i = 0; i < 400; ++i) {
    TKey key = K({i >> 8, i & 0xFF, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}, 8);
    page.InsertEntry(i, key.data(), i, 0);
  }
  page.Repack();
  EXPECT_EQ(page.Overflows(), page.PackedSize() > 4083);
  EXPECT_TRUE(page.Overflows());  // 400 entries of at least 9 bytes
}

TEST(IndexPageSearch, TheThreeSearchesOverTable) {
  TPage leaf;
  leaf.Bind(1, 1, Desc(1, true, TKeyCompression::None));
  leaf.Clear();
  leaf.SetType(TPageType::Leaf);
  for (int i = 0; i < 3; ++i) {
    const std::uint8_t key = static_cast<std::uint8_t>(10 * (i + 1));
    leaf.InsertEntry(i, &key, i + 1, 1);
  }
  TPage interior;
  interior.Bind(2, 1, Desc(1, true, TKeyCompression::None));
  interior.Clear();
  interior.SetType(TPageType::Interior);
  interior.AppendFrom(leaf, 1, 3);
  auto cmp = [](const std::uint8_t* a, const std::uint8_t* b) { return *a < *b ? -1 : (*a > *b ? 1 : 0); };
  struct TCase {
    int Key;
    int Insert;
    int Child;
    bool ChildFound;
    int Before;
    int After;
    int InteriorPos;
  } cases[] = {
      {5, 0, 1, false, 1, 1, 1},     {10, 1, 1, true, 1, 1, 1},  {15, 1, 1, false, 1, 2, 1},
      {20, 2, 2, true, 2, 2, 2},     {25, 2, 2, false, 2, 3, 2}, {30, 3, 3, true, 3, 3, 3},
      {35, 3, 3, false, 3, 3, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Key);
    const std::uint8_t key = static_cast<std::uint8_t>(c.Key);
    EXPECT_EQ(leaf.SearchInsert(&key, cmp), c.Insert);
    bool found = false;
    EXPECT_EQ(leaf.SearchChild(&key, cmp, found), c.Child);
    EXPECT_EQ(found, c.ChildFound);
    EXPECT_EQ(leaf.SearchPositioned(&key, cmp, false, found), c.Before);
    EXPECT_EQ(found, c.ChildFound);
    EXPECT_EQ(leaf.SearchPositioned(&key, cmp, true, found), c.After);
    EXPECT_EQ(interior.SearchPositioned(&key, cmp, true, found), c.InteriorPos);
    EXPECT_EQ(interior.SearchChild(&key, cmp, found), c.Child);
  }
}

TEST(IndexPageEntries, ConsecutiveRefsAndSubtreeCount) {
  TPage leaf;
  leaf.Bind(1, 1, Desc(1, true, TKeyCompression::None));
  leaf.Clear();
  leaf.SetType(TPageType::Leaf);
  const std::int32_t refs[] = {4, 5, 6, 9, 8, 7};
  for (int i = 0; i < 6; ++i) {
    const std::uint8_t key = static_cast<std::uint8_t>(i);
    leaf.InsertEntry(i, &key, refs[i], 0);
  }
  EXPECT_EQ(leaf.ConsecutiveRefs(1, 10, true), 3);
  EXPECT_EQ(leaf.ConsecutiveRefs(1, 2, true), 2);
  EXPECT_EQ(leaf.ConsecutiveRefs(4, 10, true), 1);
  EXPECT_EQ(leaf.ConsecutiveRefs(6, 10, false), 1);  // 7, 8, 9 going back is ascending
  EXPECT_EQ(leaf.ConsecutiveRefs(3, 10, false), 3);  // 6, 5, 4
  EXPECT_EQ(leaf.ConsecutiveRefs(0, 10, true), 0);
  EXPECT_EQ(leaf.SubtreeCount(), 6);
  TPage interior;
  interior.Bind(2, 1, Desc(1, true, TKeyCompression::None));
  interior.Clear();
  interior.SetType(TPageType::Interior);
  interior.AppendFrom(leaf, 1, 5);
  const std::int32_t counts[] = {10, 20, 30, 1 << 30, 7};
  for (int i = 1; i <= 5; ++i) interior.SetCount(i, counts[i - 1]);
  EXPECT_EQ(interior.SubtreeCount(), 10 + 20 + 30 + (std::int64_t{1} << 30) + 7);
  // Every range, odd and even lengths, empty ones (last < first) included;
  // the sum is 64-bit.
  for (int first = 1; first <= 6; ++first) {
    for (int last = 0; last <= 5; ++last) {
      std::int64_t want = 0;
      for (int i = first; i <= last; ++i) want += counts[i - 1];
      EXPECT_EQ(interior.CountSum(first, last), want) << first << ".." << last;
    }
  }
  EXPECT_EQ(leaf.CountSum(1, 6), 0);  // a leaf keeps no counts
  // CountBefore sums from either end given the page's total, from the left
  // without one.
  for (int pos = 1; pos <= 5; ++pos) {
    EXPECT_EQ(interior.CountBefore(pos, interior.SubtreeCount()), interior.CountSum(1, pos - 1))
        << pos;
    EXPECT_EQ(interior.CountBefore(pos, -1), interior.CountSum(1, pos - 1)) << pos;
  }
}

// Leaves and interior pages lay their entries out differently (a leaf has no
// Count, a compressed leaf carries Dup/Trail): entries moved between the two,
// or kept across a change of type, keep their keys and Refs.
TEST(IndexPageEntries, EntriesSurviveAChangeOfLayout) {
  const int k = 6;
  const std::vector<TKey> keys = {K({1, 2}, k), K({1, 2, 3}, k), K({1, 2, 3, 4}, k), K({9}, k)};
  for (const TKeyCompression c : {TKeyCompression::None, TKeyCompression::Full}) {
    SCOPED_TRACE(static_cast<int>(c));
    TPage leaf;
    leaf.Bind(1, 1, Desc(k, true, c));
    leaf.Clear();
    leaf.SetType(TPageType::Leaf);
    Fill(leaf, keys);
    TPage interior;
    interior.Bind(2, 1, Desc(k, true, c));
    interior.Clear();
    interior.SetType(TPageType::Interior);
    interior.AppendFrom(leaf, 2, 4);
    leaf.SetType(TPageType::Interior);  // converted in place
    ASSERT_EQ(interior.EntryCount(), 3);
    for (int i = 1; i <= 3; ++i) {
      EXPECT_EQ(0, std::memcmp(interior.Key(i), keys[static_cast<std::size_t>(i)].data(), k));
      EXPECT_EQ(interior.Ref(i), 100 + i);
      EXPECT_EQ(interior.Count(i), 0);
    }
    for (int i = 1; i <= 4; ++i) {
      EXPECT_EQ(0, std::memcmp(leaf.Key(i), keys[static_cast<std::size_t>(i - 1)].data(), k));
      EXPECT_EQ(leaf.Ref(i), 99 + i);
    }
    leaf.SetCount(4, 12);
    EXPECT_EQ(leaf.SubtreeCount(), 12);
    // Back to a leaf, and copied into a leaf from an interior page.
    leaf.SetType(TPageType::RootLeaf);
    leaf.Repack();
    EXPECT_TRUE(leaf.CheckInvariants());
    TPage copy;
    copy.Bind(3, 1, Desc(k, true, c));
    copy.Clear();
    copy.SetType(TPageType::Leaf);
    copy.AppendFrom(interior, 1, 3);
    copy.Repack();
    EXPECT_TRUE(copy.CheckInvariants());
    std::array<std::uint8_t, 4096> image{};
    ASSERT_TRUE(copy.WriteImage(image));
    TPage back;
    back.Bind(3, 1, Desc(k, true, c));
    ASSERT_TRUE(back.ReadImage(image, false));
    ASSERT_EQ(back.EntryCount(), 3);
    for (int i = 1; i <= 3; ++i) {
      EXPECT_EQ(0, std::memcmp(back.Key(i), keys[static_cast<std::size_t>(i)].data(), k));
      EXPECT_EQ(back.Ref(i), 100 + i);
    }
  }
}

}  // namespace
}  // namespace tarn
