// Model-based test of the B+-tree: random inserts and removes against a
// std::multimap, with every tree invariant and every logical position checked
// after each phase, and once more after reopening the file from disk.
//
// TARN_INDEX_MODEL_SCALE (a percentage, default 100) shrinks the run, e.g. for
// sanitizer builds.

#include <ostream>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "index_test_fakes.h"

namespace tarn::testing {
namespace {

using TKey = std::vector<std::uint8_t>;

int Scaled(int n) {
  const char* env = std::getenv("TARN_INDEX_MODEL_SCALE");
  const int percent = env != nullptr ? std::max(1, std::atoi(env)) : 100;
  return std::max(20, n * percent / 100);
}

struct TModelConfig {
  TKeyCompression Compression;
  bool Unique;
  int KeySize;
  int Operations;
  std::int32_t BufferSize;  // session index-buffer setting: 16384 = 2 pages per slot
};

std::string Describe(const TModelConfig& c) {
  static const char* names[] = {"None", "DupByte", "TrailByte", "Full"};
  return std::string(names[static_cast<int>(c.Compression)]) + (c.Unique ? "_Unique_" : "_NonUnique_") +
         std::to_string(c.KeySize);
}

// Names the case in test listings (instead of a dump of its bytes).
void PrintTo(const TModelConfig& c, std::ostream* os) { *os << Describe(c); }

class TModelRun {
 public:
  TModelRun(const TModelConfig& config, std::uint32_t seed) : FConfig(config), FRandom(seed) {
    FFix.Owner.BufferSize = config.BufferSize;
    FSlot = FFix.File->AddIndexDescriptor(MakeIndexDef("ByName", config.KeySize, config.Unique, config.Compression));
  }

  // Keys over a small alphabet with zero tails: long shared prefixes and
  // trailing zero runs, so every compression has work to do; a few keys are
  // dense to the last byte.
  TKey RandomKey() {
    const int k = FConfig.KeySize;
    const int region = FConfig.Unique ? k : k - 4;
    TKey key(static_cast<std::size_t>(k), 0);
    std::uniform_int_distribution<int> lenDist(1, std::min(region, 12));
    int len = lenDist(FRandom);
    if (FRandom() % 16 == 0) len = region;
    for (int i = 0; i < len; ++i) {
      static const std::uint8_t alphabet[] = {0, 1, 2, 'A', 'B', 0xFF};
      key[static_cast<std::size_t>(i)] = alphabet[FRandom() % 6];
    }
    if (!FConfig.Unique) {
      // The RecAutoInc suffix: unique per key; zero bytes in it must survive.
      const std::uint32_t id = ++FNextId;
      for (int i = 0; i < 4; ++i) key[static_cast<std::size_t>(k - 4 + i)] = static_cast<std::uint8_t>(id >> (8 * (3 - i)));
    }
    return key;
  }

  void Insert() {
    TKey key = RandomKey();
    if (FModel.count(key) != 0) return;  // the caller checks uniqueness before AddKey
    const std::int32_t ref = static_cast<std::int32_t>(++FNextRef);
    FTree().AddKey(FCtx, key.data(), ref);
    FModel.emplace(key, ref);
    FKeys.push_back(key);
  }

  void Remove() {
    if (FKeys.empty()) return;
    const std::size_t at = FRandom() % FKeys.size();
    std::swap(FKeys[at], FKeys.back());
    FTree().RemoveKey(FCtx, FKeys.back().data());
    FModel.erase(FModel.find(FKeys.back()));
    FKeys.pop_back();
  }

  // A phase of n operations, inserting with the given probability.
  void Phase(int n, int insertPercent) {
    for (int i = 0; i < n; ++i) {
      if (static_cast<int>(FRandom() % 100) < insertPercent) {
        Insert();
      } else {
        Remove();
      }
    }
  }

  void CheckAll(const std::string& when) {
    SCOPED_TRACE(Describe(FConfig) + " " + when);
    TBTree tree = FTree();
    auto expected = FModel.begin();
    bool sameEntries = true;
    const TTreeCheck check = tree.Check(FCtx, [&](const std::uint8_t* key, std::int32_t ref) {
      if (expected == FModel.end() || !std::equal(expected->first.begin(), expected->first.end(), key) ||
          expected->second != ref) {
        sameEntries = false;
      }
      if (expected != FModel.end()) ++expected;
    });
    ASSERT_TRUE(check.Ok) << check.Error;
    ASSERT_TRUE(sameEntries && expected == FModel.end()) << "tree entries differ from the model";
    ASSERT_EQ(check.KeyCount, static_cast<std::int64_t>(FModel.size()));
    EXPECT_EQ(tree.KeyCount(FCtx), static_cast<std::int64_t>(FModel.size()));
    ASSERT_TRUE(FFix.File->CheckInvariants());
    // Logical positions equal the model's ranks.
    std::int64_t rank = 1;
    for (const auto& [key, ref] : FModel) {
      const TKeyPosition pos = tree.FindKey(FCtx, key.data(), true);
      ASSERT_TRUE(pos.Found) << "rank " << rank;
      ASSERT_EQ(pos.SeqNo, rank);
      if (rank % 7 == 1) {  // and back from the rank to the key
        const TKeyPosition at = tree.FindSeqNo(FCtx, rank);
        ASSERT_EQ(at.SeqNo, rank);
        TPagePin leaf = FFix.File->GetPage(FCtx, at.LeafPage);
        ASSERT_TRUE(std::equal(key.begin(), key.end(), leaf->Key(at.Position))) << "rank " << rank;
      }
      ++rank;
    }
  }

  void Reopen() {
    FFix.Reopen();
  }

  void Run() {
    const int n = FConfig.Operations;
    Phase(n / 2, 100);
    CheckAll("after the first inserts");
    Phase(n / 4, 40);
    CheckAll("after mixed operations");
    Reopen();
    CheckAll("after reopening");
    Phase(n / 8, 60);
    while (FModel.size() > 3) Remove();
    CheckAll("after removing nearly everything");
    Phase(n / 8, 70);
    CheckAll("after inserting again");
    Reopen();
    CheckAll("after the second reopen");
    while (!FModel.empty()) Remove();
    CheckAll("when empty");
    EXPECT_EQ(FFix.File->Descriptor(FSlot).RootPage, 0);
  }

 private:
  TBTree FTree() { return TBTree(*FFix.File); }

  TModelConfig FConfig;
  std::mt19937 FRandom;
  TIndexFixture FFix;
  int FSlot = 0;
  TTestContext FCtx{1};
  std::multimap<TKey, std::int32_t> FModel;
  std::vector<TKey> FKeys;  // the model's keys, for picking one at random
  std::uint32_t FNextId = 0;
  std::uint32_t FNextRef = 0;
};

class BTreeModelTest : public ::testing::TestWithParam<TModelConfig> {};

TEST_P(BTreeModelTest, RandomOperationsMatchTheModel) {
  TModelRun run(GetParam(), 12345u + static_cast<std::uint32_t>(GetParam().KeySize));
  run.Run();
}

std::vector<TModelConfig> Configs() {
  std::vector<TModelConfig> out;
  for (auto c : {TKeyCompression::None, TKeyCompression::DupByte, TKeyCompression::TrailByte, TKeyCompression::Full}) {
    for (bool unique : {true, false}) {
      // Small keys with the default cache (2 pages per slot: constant eviction
      // and flushing) for unique indexes, a larger cache for non-unique ones.
      out.push_back({c, unique, unique ? 8 : 12, Scaled(14000), unique ? 16384 : 131072});
      out.push_back({c, unique, unique ? 300 : 304, Scaled(6000), 65536});
    }
  }
  return out;
}

INSTANTIATE_TEST_SUITE_P(AllCompressions, BTreeModelTest, ::testing::ValuesIn(Configs()),
                         [](const ::testing::TestParamInfo<TModelConfig>& info) { return Describe(info.param); });

}  // namespace
}  // namespace tarn::testing
