// Index file speed: 1,000,000 random unique 8-byte keys inserted into one
// index and each looked up again, for NONE and FULL leaf compression, with the
// session's default page cache (2 pages per index) and with a 4 MB cache.
// Reports inserts/s, lookups/s and the index file's size.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_owners.h"
#include "engine/index/btree.h"
#include "engine/index/index_file.h"
#include "engine/table/field_types.h"

namespace {

using namespace tarn;

void InsertAndLookUp(benchmark::State& state) {
  const auto compression = static_cast<TKeyCompression>(state.range(0));
  const auto cacheBytes = static_cast<std::int32_t>(state.range(1));
  const int keyCount = static_cast<int>(state.range(2));
  const std::string dir = (std::filesystem::temp_directory_path() / "tarn_index_bench").string();
  std::filesystem::create_directories(dir);

  std::mt19937_64 random(42);
  std::vector<std::uint64_t> keys(static_cast<std::size_t>(keyCount));
  for (auto& k : keys) k = random();

  for (auto _ : state) {
    bench::TBenchIndexOwner owner;
    owner.BufferSize = cacheBytes;
    owner.Dir = dir + "/";
    TIndexFile file(owner);
    file.SetFileName(dir + "/BENCH.IDX");
    file.CreateFile();
    TIndexDescriptor def;
    def.IndexName = "ByKey";
    def.KeySize = 8;
    def.Unique = true;
    def.Compression = compression;
    def.FieldCount = 1;
    def.FieldNumbers[0] = 1;
    TFixedTreeContext ctx(file.AddIndexDescriptor(def));
    TBTree tree(file);
    std::uint8_t key[8];
    auto encode = [&](std::uint64_t v) {
      for (int i = 0; i < 8; ++i) key[i] = static_cast<std::uint8_t>(v >> (8 * (7 - i)));
    };

    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < keyCount; ++i) {
      encode(keys[static_cast<std::size_t>(i)]);
      tree.AddKey(ctx, key, i + 1);
    }
    file.FlushPages(false);
    file.WriteIndexHeader(false);
    const auto t1 = std::chrono::steady_clock::now();
    std::int64_t found = 0;
    for (int i = 0; i < keyCount; ++i) {
      encode(keys[static_cast<std::size_t>(i)]);
      found += tree.FindKey(ctx, key).Found ? 1 : 0;
    }
    const auto t2 = std::chrono::steady_clock::now();
    if (found != keyCount) state.SkipWithError("a key was not found");

    const double insertSeconds = std::chrono::duration<double>(t1 - t0).count();
    const double lookupSeconds = std::chrono::duration<double>(t2 - t1).count();
    state.counters["inserts/s"] = keyCount / insertSeconds;
    state.counters["lookups/s"] = keyCount / lookupSeconds;
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(dir + "/BENCH.IDX")) / 1e6;
    file.CloseFile();
  }
  std::filesystem::remove_all(dir);
}

// Arguments: compression (0 NONE, 3 FULL), cache bytes, key count.
BENCHMARK(InsertAndLookUp)
    ->Args({0, 16384, 1000000})
    ->Args({3, 16384, 1000000})
    ->Args({0, 4 << 20, 1000000})
    ->Args({3, 4 << 20, 1000000})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
