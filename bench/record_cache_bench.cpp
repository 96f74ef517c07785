// Speed of the data file's record cache: hits (recently used and binary
// searched), misses that read ahead, and flushes of modified records in runs.
// The "allocs" counters count heap allocations inside the timed loop.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <unistd.h>
#include <string>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/table/data_file.h"

namespace {

std::atomic<std::uint64_t> GAllocations{0};

}  // namespace

void* operator new(std::size_t size) {
  GAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace tarn;

class TBenchOwner : public TDataFileOwner {
 public:
  std::string_view TableName() const override { return "bench"; }
  bool ForceBufferFlush() const override { return false; }
  bool StrictChangeDetection() const override { return false; }
  std::int32_t MaxDataBufferSize() const override { return BufferSize; }
  std::int32_t MaxDataBufferCount() const override { return 8192; }
  bool DataWritten() const override { return Written; }
  void SetDataWritten() override { Written = true; }
  bool HoldsTransactionLock() const override { return false; }
  bool HasNoPrimaryIndex() const override { return false; }
  bool LocaleInstalled(std::int16_t, std::int16_t) const override { return true; }
  const TTextCaseMapper& CaseMapper() const override { return AsciiCaseMapper; }
  std::int32_t BufferSize = 16384;
  bool Written = false;
};

class TNoChangeCursor : public TRecordCacheClient {
 public:
  bool ChangeCheck() override { return false; }
  std::int32_t ReadAheadCount(std::int32_t, bool, std::int32_t limit) override { return limit; }
};

// A table of `records` 36-byte records (string 20, int32, auto-increment) in
// a fresh directory, opened with the default 16 KB cache.
struct TBenchTable {
  explicit TBenchTable(std::int32_t records, std::int32_t bufferSize = 16384) {
    dir = std::filesystem::temp_directory_path() / ("tarn_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    owner.BufferSize = bufferSize;
    std::vector<TFieldDesc> defs = {MakeFieldDesc(1, "Name", FieldType::String, 0, 20),
                                    MakeFieldDesc(2, "Age", FieldType::Int32),
                                    MakeFieldDesc(3, "Id", FieldType::Int32, FieldSubType::AutoInc)};
    AssignFieldOffsets(defs);
    file = std::make_unique<TDataFile>(owner);
    file->SetFileName((dir / "bench.DAT").string());
    file->CreateDataFile(0, 0, defs, 0, "", "", false, 0, 0);
    for (std::int32_t i = 0; i < records; ++i) {
      TRecordPin rec = file->AllocateRecord(nullptr);
      rec->Clear(true);
      rec->MarkModified();
    }
    file->FlushRecords();
    file->WriteDataHeader(false);
    file->WriteFieldDefs();
    file->CloseFile();
    file->OpenFile();
  }
  ~TBenchTable() {
    file->CloseFile();
    file.reset();
    std::filesystem::remove_all(dir);
  }
  std::filesystem::path dir;
  TBenchOwner owner;
  std::unique_ptr<TDataFile> file;
};

void BM_CacheHitRecent(benchmark::State& state) {
  TBenchTable table(1000);
  TNoChangeCursor cursor;
  for (std::int32_t r = 1; r <= 4; ++r) TRecordPin pin = table.file->GetRecord(&cursor, r);
  std::int32_t r = 1;
  const std::uint64_t before = GAllocations.load();
  for (auto _ : state) {
    TRecordPin pin = table.file->GetRecord(&cursor, r);
    benchmark::DoNotOptimize(pin.Get());
    r = r % 4 + 1;
  }
  state.counters["allocs"] = benchmark::Counter(static_cast<double>(GAllocations.load() - before),
                                                benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_CacheHitRecent);

void BM_CacheHitSearched(benchmark::State& state) {
  TBenchTable table(400);  // all 400 fit the 455-record cache
  TNoChangeCursor cursor;
  { TRecordPin pin = table.file->GetRecord(&cursor, 1, true, false, true); }
  { TRecordPin pin = table.file->GetRecord(&cursor, 228, true, false, true); }
  std::mt19937 random(7);
  std::vector<std::int32_t> order(4096);
  for (std::int32_t& n : order) n = static_cast<std::int32_t>(random() % 400) + 1;
  std::size_t i = 0;
  const std::uint64_t before = GAllocations.load();
  for (auto _ : state) {
    TRecordPin pin = table.file->GetRecord(&cursor, order[i++ & 4095]);
    benchmark::DoNotOptimize(pin.Get());
  }
  state.counters["allocs"] = benchmark::Counter(static_cast<double>(GAllocations.load() - before),
                                                benchmark::Counter::kAvgIterations);
  state.counters["disk_reads"] = static_cast<double>(table.file->CacheStats().DiskReads);
}
BENCHMARK(BM_CacheHitSearched);

// A forward scan of a table larger than the cache: every 227th record misses
// and reads the next 227 ahead. Time per record.
void BM_ScanWithReadAhead(benchmark::State& state) {
  const std::int32_t records = static_cast<std::int32_t>(state.range(0));
  TBenchTable table(records);
  TNoChangeCursor cursor;
  for (auto _ : state) {
    for (std::int32_t r = 1; r <= records; ++r) {
      TRecordPin pin = table.file->GetRecord(&cursor, r, true, false, true);
      benchmark::DoNotOptimize(pin.Get());
    }
  }
  state.SetItemsProcessed(state.iterations() * records);
  state.counters["reads_per_scan"] =
      static_cast<double>(table.file->CacheStats().DiskReads) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ScanWithReadAhead)->Arg(20000);

// Misses without read-ahead for comparison: one read per record.
void BM_ScanWithoutReadAhead(benchmark::State& state) {
  const std::int32_t records = static_cast<std::int32_t>(state.range(0));
  TBenchTable table(records);
  TNoChangeCursor cursor;
  for (auto _ : state) {
    for (std::int32_t r = 1; r <= records; ++r) {
      TRecordPin pin = table.file->GetRecord(&cursor, r);
      benchmark::DoNotOptimize(pin.Get());
    }
  }
  state.SetItemsProcessed(state.iterations() * records);
}
BENCHMARK(BM_ScanWithoutReadAhead)->Arg(20000);

// Modifies `runs` runs of `runLength` consecutive cached records and flushes
// them: one write per run. Time per flush.
void BM_FlushRuns(benchmark::State& state) {
  const std::int32_t runLength = static_cast<std::int32_t>(state.range(0));
  const std::int32_t runs = static_cast<std::int32_t>(state.range(1));
  const std::int32_t records = runs * (runLength + 1);
  TBenchTable table(records, records * 36 + 36);
  TNoChangeCursor cursor;
  for (std::int32_t r = 1; r <= records; r += 200) TRecordPin pin = table.file->GetRecord(&cursor, r, true, false, true);
  for (auto _ : state) {
    state.PauseTiming();
    for (std::int32_t run = 0; run < runs; ++run)
      for (std::int32_t k = 1; k <= runLength; ++k) {
        TRecordPin pin = table.file->GetRecord(&cursor, run * (runLength + 1) + k);
        pin->MarkModified();
      }
    state.ResumeTiming();
    benchmark::DoNotOptimize(table.file->FlushRecords());
  }
  state.SetItemsProcessed(state.iterations() * runs * runLength);
  state.counters["runs_per_flush"] =
      static_cast<double>(table.file->CacheStats().WriteRuns) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FlushRuns)->Args({1, 100})->Args({10, 10})->Args({100, 1});

}  // namespace
