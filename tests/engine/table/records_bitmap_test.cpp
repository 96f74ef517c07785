#include "engine/table/records_bitmap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "engine/table/records_bitmap_stack.h"

namespace tarn {
namespace {

// A plain model: model[n] for n = 1..size() - 1.
using TModel = std::vector<bool>;

TModel ModelOf(const TRecordsBitmap& b) {
  TModel m(b.BitCount() + 1, false);
  for (std::uint32_t n = 1; n <= b.BitCount(); ++n) m[n] = b.TestBit(n);
  return m;
}

TRecordsBitmap FromBits(std::uint32_t count, std::initializer_list<std::uint32_t> bits) {
  TRecordsBitmap b(count);
  for (std::uint32_t n : bits) b.SetBit(n);
  return b;
}

TEST(RecordsBitmapTest, BitNLivesInBitNMinusOneOfTheWords) {
  // Bit 1 is the least significant bit of word 0, bit 33 the lowest of word 1:
  // counting before 33 sees exactly the first word.
  TRecordsBitmap b(64);
  b.SetBit(1);
  b.SetBit(32);
  b.SetBit(33);
  EXPECT_EQ(b.CountSetBefore(33), 2u);
  EXPECT_EQ(b.CountSetBefore(34), 3u);
  EXPECT_TRUE(b.TestBit(32));
  EXPECT_FALSE(b.TestBit(0));
  EXPECT_FALSE(b.TestBit(65));
}

TEST(RecordsBitmapTest, SizesRoundAndTheBufferGrowsIn256ByteSteps) {
  struct TCase {
    std::uint32_t Bits, Rounded, Words, Bytes;
  } cases[] = {
      {0, 0, 0, 0},       {1, 32, 1, 256},     {32, 32, 1, 256},      {33, 64, 2, 256},
      {2048, 2048, 64, 256}, {2049, 2080, 65, 512}, {8192, 8192, 256, 1024},
  };
  for (const TCase& c : cases) {
    TRecordsBitmap b(c.Bits);
    EXPECT_EQ(b.RoundedBits(), c.Rounded) << c.Bits;
    EXPECT_EQ(b.WordCount(), c.Words) << c.Bits;
    EXPECT_EQ(b.BufferBytes(), c.Bytes) << c.Bits;
    EXPECT_TRUE(b.CheckInvariants());
  }
}

TEST(RecordsBitmapTest, ShrinkingClearsTheBitsPastTheNewEnd) {
  TRecordsBitmap b(100);
  b.SetAll();
  b.SetBitCount(40);
  EXPECT_EQ(b.CountSet(), 40u);
  EXPECT_TRUE(b.CheckInvariants());
  b.SetBitCount(100);  // growing again must not bring old bits back
  EXPECT_EQ(b.CountSet(), 40u);
  EXPECT_FALSE(b.TestBit(41));
  EXPECT_EQ(b.BufferBytes(), 256u);  // the buffer never shrinks
}

TEST(RecordsBitmapTest, SetBitGrowsClearBitBeyondTheEndDoesNothing) {
  TRecordsBitmap b(10);
  b.SetBit(1000);
  EXPECT_EQ(b.BitCount(), 1000u);
  EXPECT_TRUE(b.TestBit(1000));
  b.ClearBit(5000);
  b.SetBit(0);
  EXPECT_EQ(b.BitCount(), 1000u);
  EXPECT_EQ(b.CountSet(), 1u);
}

TEST(RecordsBitmapTest, InvertAndSetAllKeepTheTailClear) {
  TRecordsBitmap b(37);
  b.Invert();
  EXPECT_EQ(b.CountSet(), 37u);
  EXPECT_TRUE(b.CheckInvariants());
  b.ClearBit(37);
  b.Invert();
  EXPECT_EQ(b.CountSet(), 1u);
  EXPECT_TRUE(b.TestBit(37));
  b.SetAll();
  EXPECT_EQ(b.CountSet(), 37u);
  EXPECT_TRUE(b.CheckInvariants());
}

TEST(RecordsBitmapTest, AndOrWithBitmapsOfOtherSizes) {
  TRecordsBitmap big = FromBits(100, {1, 40, 99});
  const TRecordsBitmap small = FromBits(50, {1, 2, 40});
  TRecordsBitmap a;
  a.CopyFrom(big);
  a.AndWith(small);  // bits past 50 are cleared: 99 goes
  EXPECT_EQ(a.BitCount(), 100u);
  EXPECT_EQ(a.CountSet(), 2u);
  EXPECT_TRUE(a.TestBit(1) && a.TestBit(40) && !a.TestBit(99));

  TRecordsBitmap o;
  o.CopyFrom(small);
  o.OrWith(big);  // grows to 100
  EXPECT_EQ(o.BitCount(), 100u);
  EXPECT_EQ(o.CountSet(), 4u);
  EXPECT_TRUE(o.CheckInvariants());
}

struct TMoveCase {
  std::uint32_t Start;
  std::uint32_t Count;
  bool Found;
  std::uint32_t End;
  std::int64_t SeqDelta;
};

// Set bits: 3, 31, 32, 33, 64..96 (all of word 2), 200.
TRecordsBitmap MoveFixture() {
  TRecordsBitmap b(210);
  for (std::uint32_t n : {3u, 31u, 32u, 33u, 200u}) b.SetBit(n);
  for (std::uint32_t n = 65; n <= 96; ++n) b.SetBit(n);
  b.SetBit(64);
  return b;
}

TEST(RecordsBitmapTest, NextSetMovesToTheCountthSetBit) {
  const TRecordsBitmap b = MoveFixture();
  const TMoveCase cases[] = {
      {0, 1, true, 3, 1},      {3, 1, true, 31, 1},    {0, 4, true, 33, 4},
      {33, 1, true, 64, 1},    {33, 33, true, 96, 33},  // through a word of ones
      {33, 34, true, 200, 34}, {96, 1, true, 200, 1},   // over words of zeros
      {200, 1, false, 200, 0}, {100, 2, false, 200, 1}, // one found, then the end
      {201, 1, false, 201, 0}, {210, 1, false, 210, 0}, {0, 100, false, 200, 38},
  };
  for (const TMoveCase& c : cases) {
    std::uint32_t pos = c.Start;
    std::int64_t seq = 10;
    EXPECT_EQ(b.NextSet(pos, c.Count, seq), c.Found) << c.Start << "+" << c.Count;
    EXPECT_EQ(pos, c.End) << c.Start << "+" << c.Count;
    EXPECT_EQ(seq, 10 + c.SeqDelta) << c.Start << "+" << c.Count;
  }
}

TEST(RecordsBitmapTest, PrevSetMovesToTheCountthSetBitBackwards) {
  const TRecordsBitmap b = MoveFixture();
  const TMoveCase cases[] = {
      {211, 1, true, 200, 1},  {1000, 1, true, 200, 1}, {200, 1, true, 96, 1},
      {200, 33, true, 64, 33}, {64, 1, true, 33, 1},     {33, 3, true, 3, 3},
      {3, 1, false, 3, 0},     {32, 3, false, 3, 2},     {1, 1, false, 1, 0},
  };
  for (const TMoveCase& c : cases) {
    std::uint32_t pos = c.Start;
    std::int64_t seq = 100;
    EXPECT_EQ(b.PrevSet(pos, c.Count, seq), c.Found) << c.Start << "-" << c.Count;
    EXPECT_EQ(pos, c.End) << c.Start << "-" << c.Count;
    EXPECT_EQ(seq, 100 - c.SeqDelta) << c.Start << "-" << c.Count;
  }
}

// Random operations against a vector<bool>, checking every query.
TEST(RecordsBitmapTest, MatchesAPlainModelUnderRandomOperations) {
  std::mt19937 rng(12345);
  TRecordsBitmap b(300);
  TModel m(301, false);
  auto pick = [&](std::uint32_t hi) { return std::uniform_int_distribution<std::uint32_t>(0, hi)(rng); };
  for (int step = 0; step < 3000; ++step) {
    const std::uint32_t size = static_cast<std::uint32_t>(m.size() - 1);
    const std::uint32_t n = pick(size + 40);
    switch (pick(9)) {
      case 0:
      case 1:
      case 2:
        b.SetBit(n);
        if (n > 0) {
          if (n > size) m.resize(n + 1, false);
          m[n] = true;
        }
        break;
      case 3:
      case 4:
        b.ClearBit(n);
        if (n > 0 && n <= size) m[n] = false;
        break;
      case 5:
        if (pick(20) == 0) {
          b.Invert();
          for (std::uint32_t i = 1; i <= size; ++i) m[i] = !m[i];
        }
        break;
      case 6:
        if (pick(30) == 0) {
          const std::uint32_t newSize = pick(600);
          b.SetBitCount(newSize);
          m.resize(newSize + 1, false);
        }
        break;
      default:
        break;
    }
    ASSERT_TRUE(b.CheckInvariants());
    ASSERT_EQ(ModelOf(b), m);
    std::uint32_t expectBefore = 0;
    for (std::uint32_t i = 1; i < n && i < m.size(); ++i) expectBefore += m[i];
    ASSERT_EQ(b.CountSetBefore(n), expectBefore);
    // NextSet / PrevSet by one against a linear search.
    std::uint32_t pos = n;
    std::uint32_t expectNext = 0;
    for (std::uint32_t i = n + 1; i < m.size(); ++i)
      if (m[i]) {
        expectNext = i;
        break;
      }
    ASSERT_EQ(b.NextSet(pos), expectNext != 0);
    if (expectNext != 0) {
      ASSERT_EQ(pos, expectNext);
    }
    pos = n;
    std::uint32_t expectPrev = 0;
    for (std::uint32_t i = std::min<std::uint32_t>(n, static_cast<std::uint32_t>(m.size())); i-- > 1;)
      if (m[i]) {
        expectPrev = i;
        break;
      }
    ASSERT_EQ(b.PrevSet(pos), expectPrev != 0);
    if (expectPrev != 0) {
      ASSERT_EQ(pos, expectPrev);
    }
  }
  std::uint32_t total = 0;
  for (bool bit : m) total += bit;
  EXPECT_EQ(b.CountSet(), total);
}

TEST(RecordsBitmapStackTest, HandsOutClearedBitmapsAndKeepsAtMostCapacity) {
  TRecordsBitmapStack pool;
  {
    TPooledBitmap first(100, pool);
    first->SetAll();
  }
  EXPECT_EQ(pool.SpareCount(), 1u);
  {
    TPooledBitmap again(100, pool);  // the spare comes back without its bits
    EXPECT_EQ(pool.SpareCount(), 0u);
    EXPECT_EQ(again->CountSet(), 0u);
    EXPECT_EQ(again->BitCount(), 100u);
  }
  {
    std::vector<TPooledBitmap> many;
    for (std::size_t i = 0; i < TRecordsBitmapStack::Capacity + 5; ++i) many.emplace_back(8, pool);
  }
  EXPECT_EQ(pool.SpareCount(), TRecordsBitmapStack::Capacity);
}

TEST(RecordsBitmapStackTest, BitmapsWithHugeBuffersAreNotKept) {
  TRecordsBitmapStack pool;
  {
    TPooledBitmap big(0, pool);
    big->SetBit(200000000);
  }
  EXPECT_EQ(pool.SpareCount(), 0u);
}

TEST(RecordsBitmapStackTest, ReleaseIsIdempotentAndMovesTransferOwnership) {
  TRecordsBitmapStack pool;
  TPooledBitmap a(10, pool);
  TPooledBitmap b = std::move(a);
  b.Release();
  b.Release();
  EXPECT_EQ(pool.SpareCount(), 1u);
}

}  // namespace
}  // namespace tarn
