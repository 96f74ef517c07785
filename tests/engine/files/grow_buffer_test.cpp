#include "engine/files/grow_buffer.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

TEST(GrowBufferTest, RoundsUpAndNeverShrinks) {
  struct TCase {
    std::int64_t StartCapacity;
    std::int64_t Size;
    std::int64_t Granularity;
    std::int64_t Expected;
  };
  const TCase cases[] = {
      {0, 1, 4096, 4096},       {0, 4096, 4096, 4096},  // a multiple stays
      {0, 4097, 4096, 8192},    {8192, 100, 4096, 8192},  // never shrinks
      {4096, 4096, 4096, 4096}, {0, 10, 3, 12},
      {12, 13, 3, 15},          {4096, 0, 4096, 0},  // 0 frees
      {4096, -1, 4096, 0},      {0, 0, 4096, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.StartCapacity << " " << c.Size << " " << c.Granularity);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(c.StartCapacity), 0x11);
    std::int64_t capacity = c.StartCapacity;
    GrowBuffer(c.Size, c.Granularity, buffer, capacity);
    EXPECT_EQ(capacity, c.Expected);
    EXPECT_EQ(static_cast<std::int64_t>(buffer.size()), c.Expected);
  }
}

TEST(GrowBufferTest, KeepsContentsAndZeroFillsTheNewTail) {
  std::vector<std::uint8_t> buffer;
  GrowBuffer(10, 16, buffer);
  ASSERT_EQ(buffer.size(), 16u);
  for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<std::uint8_t>(i + 1);
  GrowBuffer(17, 16, buffer);
  ASSERT_EQ(buffer.size(), 32u);
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(buffer[i], i + 1);
  for (std::size_t i = 16; i < 32; ++i) EXPECT_EQ(buffer[i], 0);
}

}  // namespace
}  // namespace tarn
