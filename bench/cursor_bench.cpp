// Cursor speed on a 1,000,000-record table, next to the same work done on
// the B+-tree alone (TBTree and the index file's page chain, no cursor).
//
// Table: Num (32-bit integer, primary index, inserted in random order, so
// index order and record order differ) and Name (string 12). Session caches:
// 8 MB of index pages per table, the default record cache. Cursor benchmarks
// run on a shared cursor (change check and read lock before every read from
// disk) and on an exclusive one (no change detection). Reports records/s or
// operations/s per benchmark.

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/cursor/data_cursor.h"
#include "engine/index/btree.h"
#include "engine/index/keys.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"

namespace {

using namespace tarn;

constexpr int RecordCount = 1'000'000;

// The table, built once for every benchmark of the program.
struct TBenchTable {
  std::string Dir;
  std::unique_ptr<TDataSession> Session;
  TDataDirectory* Directory = nullptr;
  std::unique_ptr<TDataCursor> Ordered;    // primary index
  std::unique_ptr<TDataCursor> Unordered;  // natural order
  bool Exclusive = false;

  TBenchTable() {
    Dir = (std::filesystem::temp_directory_path() / "tarn_cursor_bench").string();
    std::filesystem::remove_all(Dir);
    std::filesystem::create_directories(Dir);
    Session = std::make_unique<TDataSession>();
    Session->SetMaxIndexBufferSize(8 << 20);
    Directory = &Session->OpenDirectory("Bench", Dir);
    Build();
    Ordered = Open(false);
    Unordered = Open(true);
  }
  // The cursor in index order (or natural order), shared or exclusive.
  TDataCursor& Cursor(bool unordered, bool exclusive) {
    if (exclusive != Exclusive) {
      Ordered.reset();
      Unordered.reset();
      Exclusive = exclusive;
      Ordered = Open(false);
      if (!exclusive) Unordered = Open(true);
    }
    if (unordered && !Unordered) {
      Ordered.reset();
      Unordered = Open(true);
    }
    if (!unordered && !Ordered) {
      Unordered.reset();
      Ordered = Open(false);
    }
    return unordered ? *Unordered : *Ordered;
  }
  ~TBenchTable() {
    Ordered.reset();
    Unordered.reset();
    Session.reset();
    std::filesystem::remove_all(Dir);
  }

  std::unique_ptr<TDataCursor> Open(bool unordered) {
    auto c = std::make_unique<TDataCursor>(*Directory);
    c->SetTableName("Bench");
    c->SetUnordered(unordered);
    c->SetExclusive(Exclusive);
    c->OpenCursor();
    return c;
  }

  void Build() {
    TTableDefinition def;
    def.Fields.push_back(MakeFieldDesc(1, "Num", FieldType::Int32));
    def.Fields.push_back(MakeFieldDesc(2, "Name", FieldType::String, 0, 12));
    AssignFieldOffsets(def.Fields);
    def.Primary.FieldCount = 1;
    def.Primary.FieldNumbers[0] = 1;
    def.Primary.Unique = true;
    def.Primary.KeySize = static_cast<std::int16_t>(KeyFieldSize(FieldType::Int32, 0) + 1);
    TDataTable& table = Directory->CreateTable("Bench", false, false, def);
    TDataFile& data = table.DataFile();
    TIndexFile& index = table.IndexFile();
    TBTree tree(index);
    TFixedTreeContext primary(0);
    TFixedTreeContext deleted(SysDeletedSlot);
    std::vector<std::int32_t> nums(RecordCount);
    std::iota(nums.begin(), nums.end(), 1);
    std::shuffle(nums.begin(), nums.end(), std::mt19937(7));
    std::array<std::uint8_t, 5> key{};
    std::array<std::uint8_t, 5> deletedKey{};
    const std::span<const TFieldDesc> fields = data.FieldDefs();
    for (std::int32_t num : nums) {
      TRecordPin pin = data.AllocateRecord(nullptr);
      pin->Clear(true);
      std::array<std::uint8_t, 4> value{};
      PutLE32(value, 0, static_cast<std::uint32_t>(num));
      SetFieldValue(pin->MutableData(), fields[0], std::span<const std::uint8_t>(value));
      const std::string name = "n" + std::to_string(num % 50000);
      SetFieldValue(pin->MutableData(), fields[1],
                    std::span<const std::uint8_t>(
                        reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
      pin->MarkModified();
      BuildKey(index.KeyDef(0), pin->Data(), key);
      tree.AddKey(primary, key.data(), pin->RecordNo());
      deletedKey[0] = 0;
      EncodeAutoIncKey(pin->GetAutoInc(), std::span<std::uint8_t>(deletedKey).subspan(1));
      tree.AddKey(deleted, deletedKey.data(), pin->RecordNo());
      index.IncRecordCount();
    }
    table.WriteBuffers(true, true, false, false, true);
    Directory->ReleaseTable(table, false);
  }

  std::vector<std::uint8_t> KeyOf(std::int32_t num) const {
    std::vector<std::uint8_t> key(5);
    key[0] = 1;
    EncodeAutoIncKey(num, std::span<std::uint8_t>(key).subspan(1));
    return key;
  }
};

TBenchTable& Table() {
  static TBenchTable table;
  return table;
}

template <class TFn>
double Seconds(TFn&& fn) {
  const auto t0 = std::chrono::steady_clock::now();
  fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// ---- cursor ----

void CursorScan(benchmark::State& state) {
  TDataCursor& c = Table().Cursor(state.range(0) == 1, state.range(1) == 1);
  std::vector<std::uint8_t> buf(c.RecordSize());
  for (auto _ : state) {
    std::int64_t n = 0;
    const double s = Seconds([&] {
      c.SetToBegin();
      while (c.GetNextRecord(buf) == TARN_NONE) ++n;
    });
    if (n != RecordCount) state.SkipWithError("scan count wrong");
    state.counters["records/s"] = static_cast<double>(n) / s;
  }
}

void CursorSeeks(benchmark::State& state) {
  TDataCursor& c = Table().Cursor(false, state.range(0) == 1);
  std::mt19937 random(3);
  std::vector<std::vector<std::uint8_t>> keys;
  keys.reserve(RecordCount);
  for (int i = 0; i < RecordCount; ++i)
    keys.push_back(Table().KeyOf(1 + static_cast<std::int32_t>(random() % RecordCount)));
  for (auto _ : state) {
    std::int64_t found = 0;
    const double s = Seconds([&] {
      for (const auto& key : keys) found += c.SetToKey(true, key) ? 1 : 0;
    });
    if (found != RecordCount) state.SkipWithError("a key was not found");
    state.counters["seeks/s"] = RecordCount / s;
  }
}

void CursorMoveBy(benchmark::State& state) {
  TDataCursor& c = Table().Cursor(false, state.range(0) == 1);
  const int rounds = 20000;
  for (auto _ : state) {
    c.SetToBegin();
    (void)c.GetNextRecord();
    const double s = Seconds([&] {
      for (int i = 0; i < rounds; ++i) {
        if (c.MoveBy(i % 2 == 0 ? 1000 : -999) != TARN_NONE) state.SkipWithError("MoveBy failed");
      }
    });
    state.counters["moves/s"] = rounds / s;
  }
}

void CursorSeqNo(benchmark::State& state) {
  TDataCursor& c = Table().Cursor(false, state.range(0) == 1);
  std::mt19937 random(5);
  const int rounds = 200000;
  std::vector<std::int64_t> targets(rounds);
  for (auto& t : targets) t = 1 + static_cast<std::int64_t>(random() % RecordCount);
  for (auto _ : state) {
    const double s = Seconds([&] {
      for (std::int64_t t : targets) {
        if (!c.SetToSeqNo(t)) state.SkipWithError("SetToSeqNo failed");
      }
    });
    state.counters["moves/s"] = rounds / s;
  }
}

void CursorRangeCount(benchmark::State& state) {
  TDataCursor& c = Table().Cursor(false, state.range(0) == 1);
  std::mt19937 random(9);
  const int rounds = 20000;
  for (auto _ : state) {
    std::int64_t total = 0;
    const double s = Seconds([&] {
      for (int i = 0; i < rounds; ++i) {
        const auto a = static_cast<std::int32_t>(1 + random() % RecordCount);
        const auto b = static_cast<std::int32_t>(1 + random() % RecordCount);
        c.SetRange(Table().KeyOf(std::min(a, b)), 1, Table().KeyOf(std::max(a, b)), 1, true);
        total += c.GetRecordCount();
      }
    });
    c.ResetRange();
    benchmark::DoNotOptimize(total);
    state.counters["ranges/s"] = rounds / s;
  }
}

// ---- the B+-tree alone (the cursor's table and page cache, no cursor) ----

void TreeScan(benchmark::State& state) {
  TIndexFile& index = Table().Cursor(false, false).Table().IndexFile();
  TFixedTreeContext ctx(0);
  TBTree tree(index);
  for (auto _ : state) {
    std::int64_t n = 0;
    const double s = Seconds([&] {
      TKeyPosition first = tree.FindSeqNo(ctx, 1);
      std::int32_t pageNo = first.LeafPage;
      while (pageNo != 0) {
        TPagePin pin = index.GetPage(ctx, pageNo);
        n += pin->EntryCount();
        pageNo = pin->NextPage();
      }
    });
    if (n != RecordCount) state.SkipWithError("scan count wrong");
    state.counters["keys/s"] = static_cast<double>(n) / s;
  }
}

void TreeSeeks(benchmark::State& state) {
  TIndexFile& index = Table().Cursor(false, false).Table().IndexFile();
  TFixedTreeContext ctx(0);
  TBTree tree(index);
  std::mt19937 random(3);
  std::vector<std::vector<std::uint8_t>> keys;
  keys.reserve(RecordCount);
  for (int i = 0; i < RecordCount; ++i)
    keys.push_back(Table().KeyOf(1 + static_cast<std::int32_t>(random() % RecordCount)));
  for (auto _ : state) {
    std::int64_t found = 0;
    const double s = Seconds([&] {
      for (const auto& key : keys) found += tree.FindKey(ctx, key.data()).Found ? 1 : 0;
    });
    if (found != RecordCount) state.SkipWithError("a key was not found");
    state.counters["seeks/s"] = RecordCount / s;
  }
}

void TreeSeqNo(benchmark::State& state) {
  TIndexFile& index = Table().Cursor(false, false).Table().IndexFile();
  TFixedTreeContext ctx(0);
  TBTree tree(index);
  std::mt19937 random(5);
  const int rounds = 200000;
  std::vector<std::int64_t> targets(rounds);
  for (auto& t : targets) t = 1 + static_cast<std::int64_t>(random() % RecordCount);
  for (auto _ : state) {
    std::int64_t sum = 0;
    const double s = Seconds([&] {
      for (std::int64_t t : targets) sum += tree.FindSeqNo(ctx, t).SeqNo;
    });
    benchmark::DoNotOptimize(sum);
    state.counters["moves/s"] = rounds / s;
  }
}

void TreeRangeCount(benchmark::State& state) {
  TIndexFile& index = Table().Cursor(false, false).Table().IndexFile();
  TFixedTreeContext ctx(0);
  TBTree tree(index);
  std::mt19937 random(9);
  const int rounds = 20000;
  for (auto _ : state) {
    std::int64_t total = 0;
    const double s = Seconds([&] {
      for (int i = 0; i < rounds; ++i) {
        const auto a = static_cast<std::int32_t>(1 + random() % RecordCount);
        const auto b = static_cast<std::int32_t>(1 + random() % RecordCount);
        const TKeyPosition low = tree.FindKey(ctx, Table().KeyOf(std::min(a, b)).data());
        const TKeyPosition high = tree.FindKey(ctx, Table().KeyOf(std::max(a, b)).data());
        total += high.SeqNo - low.SeqNo + 1;
      }
    });
    benchmark::DoNotOptimize(total);
    state.counters["ranges/s"] = rounds / s;
  }
}

// Arguments: order (0 index, 1 natural) and exclusive (0 shared, 1 exclusive)
// for the scans, exclusive for the other cursor benchmarks.
BENCHMARK(CursorScan)
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(TreeScan)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(CursorSeeks)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(TreeSeeks)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(CursorMoveBy)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(CursorSeqNo)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(TreeSeqNo)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(CursorRangeCount)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(TreeRangeCount)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
