// The "Sys Text" parameter chain: round trips, items placed whole, reuse and
// release of chain pages, and damaged chains.

#include <gtest/gtest.h>

#include <fstream>

#include "engine/base/byte_order.h"
#include "engine/index/text_params_chain.h"
#include "index_test_fakes.h"

namespace tarn::testing {
namespace {

bool SameParams(const TTextIndexParams& a, const TTextIndexParams& b) {
  return a.StopWords == b.StopWords && a.SpaceChars == b.SpaceChars && a.IncludeChars == b.IncludeChars;
}

TEST(IndexTextParams, AbsentChainMeansDefaults) {
  TIndexFixture fix;
  TTestContext ctx(0);
  TTextIndexParams params = TTextIndexParams::Defaults();
  EXPECT_FALSE(TTextParamsChain(*fix.File).Read(ctx, params));
  EXPECT_TRUE(SameParams(params, TTextIndexParams::Defaults()));
}

TEST(IndexTextParams, RoundTripsAcrossPagesAndReopening) {
  TIndexFixture fix;
  TTestContext ctx(0);
  TTextIndexParams big = TTextIndexParams::Defaults();
  for (int i = 0; i < 60; ++i) big.StopWords.push_back(std::string(200, static_cast<char>('A' + i % 26)) + std::to_string(i));
  big.StopWords.push_back(std::string(300, 'Z'));  // stored cut to 255 characters
  big.SpaceChars.Add(200);
  TTextParamsChain(*fix.File).Write(ctx, big);
  const std::int32_t first = fix.File->Descriptor(SysTextSlot).TextParamsPage;
  ASSERT_NE(first, 0);
  fix.Reopen();

  TTextIndexParams read;
  ASSERT_TRUE(TTextParamsChain(*fix.File).Read(ctx, read));
  TTextIndexParams expected = big;
  expected.StopWords.back().resize(255);
  EXPECT_TRUE(SameParams(read, expected));

  // Every length sits whole on a page: the first page holds the count and
  // the first words; nothing crosses a body's end.
  const auto raw = [&] {
    std::ifstream in(fix.FileName(), std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
  }();
  const std::span<const std::uint8_t> page(raw.data() + static_cast<std::size_t>(first) * 4096, 4096);
  EXPECT_EQ(page[0], 4);
  EXPECT_EQ(GetLEI32(page, 13), 83);  // 22 default words + 61
  EXPECT_NE(GetLEI32(page, 7), 0);    // the chain goes on

  // A shorter set reuses the first page and frees the rest.
  TTextParamsChain(*fix.File).Write(ctx, TTextIndexParams::Defaults());
  EXPECT_EQ(fix.File->Descriptor(SysTextSlot).TextParamsPage, first);
  EXPECT_NE(fix.File->Descriptor(SysTextSlot).FreePageList, 0);
  ASSERT_TRUE(TTextParamsChain(*fix.File).Read(ctx, read));
  EXPECT_TRUE(SameParams(read, TTextIndexParams::Defaults()));
}

TEST(IndexTextParams, DamagedChainsAreIndexCorrupt) {
  struct TCase {
    const char* Name;
    std::size_t At;
    std::uint8_t Value;
  } cases[] = {
      {"first page of another type", 0, 2},
      {"negative word count", 13 + 3, 0x80},
      {"word longer than 255", 13 + 4 + 1, 0x10},
  };
  for (const auto& c : cases) {
    TIndexFixture fix;
    TTestContext ctx(0);
    TTextParamsChain(*fix.File).Write(ctx, TTextIndexParams::Defaults());
    const std::int32_t first = fix.File->Descriptor(SysTextSlot).TextParamsPage;
    fix.Reopen();
    fix.File->CloseFile();
    {
      std::fstream io(fix.FileName(), std::ios::binary | std::ios::in | std::ios::out);
      io.seekp(static_cast<std::streamoff>(static_cast<std::size_t>(first) * 4096 + c.At));
      io.put(static_cast<char>(c.Value));
    }
    fix.File->OpenFile();
    TTextIndexParams read;
    EXPECT_EQ(CodeOf([&] { TTextParamsChain(*fix.File).Read(ctx, read); }), TARN_INDEXCORRUPT) << c.Name;
    EXPECT_TRUE(NothingPinned(*fix.File));
  }
}

}  // namespace
}  // namespace tarn::testing
