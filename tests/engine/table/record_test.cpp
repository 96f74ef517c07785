#include "engine/table/record.h"

#include <vector>

#include <gtest/gtest.h>

#include "engine/base/byte_order.h"

namespace tarn {
namespace {

using TBytes = std::vector<std::uint8_t>;

TEST(RecordTest, ControlBytesAndRenumbering) {
  TRecord r(nullptr, 20);
  r.SetRecordNo(7);
  r.Clear(false);
  EXPECT_EQ(GetLEI32(r.Data(), 1), 7);  // an active record links to itself
  EXPECT_FALSE(r.Modified());
  EXPECT_EQ(r.GetFreeLink(), 0);

  r.SetRecordNo(8);  // renumbering is not a change of the record
  EXPECT_EQ(GetLEI32(r.Data(), 1), 8);
  EXPECT_FALSE(r.Modified());

  r.SetDeleted(true);
  r.SetLink(3);
  EXPECT_TRUE(r.Modified());
  EXPECT_EQ(r.GetFreeLink(), 3);
  r.SetRecordNo(9);  // a deleted record keeps its free-list link
  EXPECT_EQ(r.GetFreeLink(), 3);
  r.SetAutoInc(-5);
  EXPECT_EQ(r.GetAutoInc(), -5);
}

TEST(RecordTest, LoadStoreAndCompare) {
  TBytes raw(20);
  for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i + 1);
  raw[0] = 0;  // active
  TRecord r(nullptr, 20);
  r.SetRecordNo(4);
  r.MarkModified();
  r.LoadFrom(raw);
  EXPECT_FALSE(r.Modified());
  EXPECT_EQ(GetLEI32(r.Data(), 1), 4);  // RecLink follows the record number
  EXPECT_EQ(r.Data()[9], 10);

  TBytes out(20, 0xEE);
  r.MarkModified();
  r.StoreTo(out);
  EXPECT_FALSE(r.Modified());
  EXPECT_TRUE(r.SameAs(out));
  out[19] ^= 1;
  EXPECT_FALSE(r.SameAs(out));
  EXPECT_FALSE(r.SameAs(TBytes(10)));  // too short to be the same
}

TEST(RecordTest, CopiesTakeTheSmallerSize) {
  TRecord big(nullptr, 30);
  TRecord small(nullptr, 12);
  TBytes image(30);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(100 + i);
  big.CopyFields(image);  // the field area only
  EXPECT_TRUE(big.Modified());
  EXPECT_EQ(big.Data()[8], 0);
  EXPECT_EQ(big.Data()[9], 109);
  EXPECT_EQ(big.Data()[29], 129);

  big.SetRecordNo(3);
  small.CopyFrom(big);
  EXPECT_EQ(small.RecordNo(), 3);
  EXPECT_TRUE(small.Modified());
  EXPECT_EQ(small.Size(), 12);
  EXPECT_EQ(small.Data()[11], 111);

  big.SetSize(10);
  big.SetSize(30);  // bytes beyond a shrink come back zero
  EXPECT_EQ(big.Data()[20], 0);
}

TEST(RecordTest, PinsNeverGoBelowZero) {
  TRecord r(nullptr, 9);
  r.Pin();
  r.Pin();
  r.Unpin();
  EXPECT_TRUE(r.Pinned());
  r.Unpin();
  r.Unpin();
  EXPECT_EQ(r.PinCount(), 0);
  r.Pin();
  r.ClearPins();
  EXPECT_FALSE(r.Pinned());
}

TEST(RecordStackTest, PoolsAtMost64AndHandsOutCleanRecords) {
  TRecordStack stack(nullptr, 16);
  std::vector<std::unique_ptr<TRecord>> taken;
  for (int i = 0; i < 70; ++i) taken.push_back(stack.Get());
  for (auto& r : taken) {
    r->Pin();
    r->SetAutoInc(9);
    stack.Put(r);
    EXPECT_FALSE(r);  // the caller's reference is gone
  }
  EXPECT_EQ(stack.Count(), TRecordStack::MaxPooled);
  std::unique_ptr<TRecord> again = stack.Get();
  EXPECT_EQ(stack.Count(), TRecordStack::MaxPooled - 1);
  EXPECT_FALSE(again->Pinned());
  EXPECT_FALSE(again->Modified());
  EXPECT_EQ(again->GetAutoInc(), 0);
  EXPECT_EQ(again->Size(), 16);
}

TEST(RecordTest, SortKeyBuffer) {
  TRecord r(nullptr, 9);
  const TBytes key(100, 7);
  r.SetSortKey(key);
  EXPECT_EQ(TBytes(r.SortKey().begin(), r.SortKey().end()), key);
  r.SetSortKey(TBytes{1, 2});
  EXPECT_EQ(r.SortKey().size(), 2u);
}

}  // namespace
}  // namespace tarn
