// Randomized runs of save, load and delete against an in-memory model of the
// values, ending with a check of the whole file after reopening it: every
// block belongs to exactly one chain or to the free list, and freed blocks
// are reused before the file grows.

#include <ostream>
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <vector>

#include "blob_fixture.h"
#include "engine/base/error_codes.h"

namespace {

using namespace tarn;
using blob_test::Pattern;

struct TModelConfig {
  const char* Name;
  std::int32_t BlockSize;
  std::int32_t CacheBytes;  // session setting: small values force eviction
  bool Encrypted;
  std::uint32_t Seed;
};

// Names the case in test listings (instead of a dump of its bytes).
void PrintTo(const TModelConfig& c, std::ostream* os) { *os << c.Name; }


class BlobModelTest : public blob_test::TBlobFixture,
                      public ::testing::WithParamInterface<TModelConfig> {
 protected:
  // Checks the file against the model: values, chains and the free list
  // together cover every block exactly once.
  void CheckFile(const std::map<int, TRef>& refs,
                 const std::map<int, std::vector<std::uint8_t>>& model) {
    std::set<std::int32_t> seen;
    const std::int64_t d = File->BlockDataSize();
    for (const auto& [key, ref] : refs) {
      const auto& value = model.at(key);
      ASSERT_EQ(Load(ref), value) << "key " << key;
      if (value.empty()) {
        EXPECT_EQ(ref.First, 0);
        continue;
      }
      const auto chain = Chain(ref.First);
      EXPECT_EQ(static_cast<std::int64_t>(chain.size()),
                (static_cast<std::int64_t>(value.size()) + d - 1) / d);
      for (std::int32_t n : chain)
        EXPECT_TRUE(seen.insert(n).second) << "block " << n << " in two chains";
    }
    const auto freeList = FreeList();
    for (std::int32_t n : freeList)
      EXPECT_TRUE(seen.insert(n).second) << "free block " << n << " also in use";
    const std::int32_t blocks = File->Header().NextBlockNumber - 1;
    EXPECT_EQ(static_cast<std::int32_t>(seen.size()), blocks) << "blocks leaked";
    if (!seen.empty()) {
      EXPECT_EQ(*seen.begin(), 1);
      EXPECT_EQ(*seen.rbegin(), blocks);
    }
    EXPECT_NO_THROW(File->VerifyBlobHeader());
    EXPECT_TRUE(File->CheckInvariants());
  }
};

TEST_P(BlobModelTest, RandomSaveLoadDeleteMatchesTheModel) {
  const TModelConfig& cfg = GetParam();
  Owner.Encrypted = cfg.Encrypted;
  Owner.BufferSize = cfg.CacheBytes;
  Create(cfg.BlockSize);
  std::mt19937 rng(cfg.Seed);
  const std::int32_t d = cfg.BlockSize - 18;
  auto randomSize = [&]() -> std::size_t {
    switch (rng() % 7) {
      case 0:
        return 0;
      case 1:
        return static_cast<std::size_t>(d);  // exactly one block
      case 2:
        return static_cast<std::size_t>(d) + 1;  // one byte into a second
      case 3:
        return rng() % 16;
      case 6:  // now and then long enough to be read and appended past the cache
        if (rng() % 8 != 0) return rng() % (static_cast<std::size_t>(d) * 12);
        return static_cast<std::size_t>(d) * static_cast<std::size_t>(File->UncachedChainBlocks() + 1) +
               rng() % (static_cast<std::size_t>(d) * 40);
      default:
        return rng() % (static_cast<std::size_t>(d) * 12);
    }
  };

  constexpr int Keys = 24;
  std::map<int, TRef> refs;
  std::map<int, std::vector<std::uint8_t>> model;
  for (int step = 0; step < 1500; ++step) {
    const int key = static_cast<int>(rng() % Keys);
    const unsigned op = rng() % 10;
    if (op < 5) {
      const auto value = Pattern(randomSize(), rng());
      refs[key] = Save(value, refs.count(key) ? refs[key] : TRef{});
      model[key] = value;
    } else if (op < 8) {
      if (refs.count(key)) {
        ASSERT_EQ(Load(refs[key]), model[key]) << "step " << step;
      }
    } else if (refs.count(key)) {
      Delete(refs[key]);
      refs.erase(key);
      model.erase(key);
    }
    if (step % 500 == 499) Reopen();  // some steps start from a cold cache
  }

  Reopen();
  CheckFile(refs, model);

  // Reuse: values that fit in the free blocks take them, last freed first,
  // and the file does not grow.
  const auto freeList = FreeList();
  const std::int32_t next = File->Header().NextBlockNumber;
  if (!freeList.empty()) {
    const std::size_t take = std::min<std::size_t>(freeList.size(), 5);
    const auto value = Pattern(take * static_cast<std::size_t>(d), 99);
    const TRef ref = Save(value);
    EXPECT_EQ(Chain(ref.First),
              std::vector<std::int32_t>(freeList.begin(), freeList.begin() + take));
    EXPECT_EQ(File->Header().NextBlockNumber, next);
    refs[Keys] = ref;
    model[Keys] = value;
  }
  Reopen();
  CheckFile(refs, model);
}

INSTANTIATE_TEST_SUITE_P(Configurations, BlobModelTest,
                         ::testing::Values(TModelConfig{"Tiny64", 64, 64 * 6, false, 1},
                                           TModelConfig{"Default512", 512, 32768, false, 2},
                                           TModelConfig{"Encrypted512SmallCache", 512, 512 * 3,
                                                        true, 3},
                                           TModelConfig{"Block4096", 4096, 32768, false, 4}),
                         [](const ::testing::TestParamInfo<TModelConfig>& info) {
                           return std::string(info.param.Name);
                         });

}  // namespace
