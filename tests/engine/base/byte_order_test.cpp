#include "engine/base/byte_order.h"

#include <gtest/gtest.h>

#include <array>

namespace tarn {
namespace {

TEST(ByteOrder, PinsLittleEndianLayout) {
  std::array<std::uint8_t, 8> buf{};
  PutLE32(buf, 0, 0x04030201u);
  EXPECT_EQ((std::array<std::uint8_t, 8>{1, 2, 3, 4, 0, 0, 0, 0}), buf);
  PutLE16(buf, 4, 0x0605);
  EXPECT_EQ(5, buf[4]);
  EXPECT_EQ(6, buf[5]);
  EXPECT_EQ(0x04030201u, GetLE32(buf, 0));

  PutLE64(buf, 0, 0x0807060504030201ull);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(i + 1, buf[i]);
  EXPECT_EQ(0x0807060504030201ull, GetLE64(buf, 0));
}

TEST(ByteOrder, SignedAndDoubleRoundTrip) {
  std::array<std::uint8_t, 8> buf{};
  PutLEI16(buf, 0, -2);
  EXPECT_EQ(0xFE, buf[0]);
  EXPECT_EQ(0xFF, buf[1]);
  EXPECT_EQ(-2, GetLEI16(buf, 0));
  PutLEI32(buf, 0, -1);
  EXPECT_EQ(-1, GetLEI32(buf, 0));
  PutLEI64(buf, 0, INT64_MIN);
  EXPECT_EQ(INT64_MIN, GetLEI64(buf, 0));
  PutLEDouble(buf, 0, -0.5);
  EXPECT_EQ(-0.5, GetLEDouble(buf, 0));
  EXPECT_EQ(0xBF, buf[7]);  // sign and exponent in the last byte
}

}  // namespace
}  // namespace tarn
