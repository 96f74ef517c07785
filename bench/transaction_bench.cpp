// Transactions: inserts into a table with a primary and two secondary indexes
// (100,000 by default) one by one in autocommit, all in one transaction with
// one commit, and all in one transaction that is then rolled back. Each run
// reports the time of the inserts and of the commit or rollback, the records
// per second, the bytes written per record, and the peak memory the caches
// held (cached records, index pages and blob blocks at their largest, just
// before the commit or rollback).
//
// The autocommit run also takes an argument "ordered": 1 writes each insert's
// buffers in the order that makes an interrupted write detectable (headers
// marked, entries, marks cleared), 0 in the unordered form (entries, then
// headers); the difference is the cost of the write order on small writes.
//
// Argument: the number of records. The table lives in $TMPDIR (or the
// system's temporary directory).

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_owners.h"
#include "engine/base/byte_order.h"
#include "engine/cursor/data_cursor.h"
#include "engine/files/os_file_api.h"
#include "engine/files/posix_file_api.h"
#include "engine/index/index_page.h"
#include "engine/index/keys.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/session/write_order.h"
#include "engine/table/field_types.h"

namespace {

using namespace tarn;



// 1 Id int32 (primary)  2 Name string 20 (ByName)  3 Score int32 (ByScore).
TTableDefinition Definition() {
  TTableDefinition def;
  def.Fields.push_back(MakeFieldDesc(1, "Id", FieldType::Int32));
  def.Fields.push_back(MakeFieldDesc(2, "Name", FieldType::String, 0, 20));
  def.Fields.push_back(MakeFieldDesc(3, "Score", FieldType::Int32));
  AssignFieldOffsets(def.Fields);
  def.Primary = SingleFieldIndex("", 1, def.Fields, true);
  def.Secondary = {SingleFieldIndex("ByName", 2, def.Fields, false), SingleFieldIndex("ByScore", 3, def.Fields, false)};
  return def;
}

std::string TempDir() {
  const char* env = std::getenv("TMPDIR");
  std::string base = env != nullptr ? env : std::filesystem::temp_directory_path().string();
  std::string path = base + "/transaction_bench_" + std::to_string(::getpid());
  std::filesystem::remove_all(path);
  std::filesystem::create_directories(path);
  return path;
}

struct TBenchTable {
  std::string Path = TempDir();
  TDataSession Session;
  TDataDirectory& Dir = Session.OpenDirectory("Bench", Path);
  std::unique_ptr<TDataCursor> Cursor;
  std::vector<std::uint8_t> Buffer;

  TBenchTable() {
    TDataTable& t = Dir.CreateTable("Bench", false, false, Definition());
    Dir.ReleaseTable(t, false);
    Cursor = std::make_unique<TDataCursor>(Dir);
    Cursor->SetTableName("Bench");
    Cursor->OpenCursor();
    Buffer.resize(Cursor->RecordSize());
  }
  ~TBenchTable() {
    if (Dir.InTransaction()) Dir.Rollback();
    Cursor.reset();
    std::filesystem::remove_all(Path);
  }
  void Put32(int field, std::int32_t v) {
    std::array<std::uint8_t, 4> x{};
    PutLE32(x, 0, static_cast<std::uint32_t>(v));
    Cursor->PutField(field, Buffer, std::span<const std::uint8_t>(x));
  }
  void Insert(std::int32_t id) {
    Cursor->InitRecord(Buffer);
    Put32(1, id);
    const std::string name = "name " + std::to_string(id * 7919 % 100003);
    Cursor->PutField(2, Buffer, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
    Put32(3, id % 1000);
    Cursor->InsertRecord(Buffer, false);
  }
  void InsertAll(std::int32_t n) {
    for (std::int32_t i = 1; i <= n; ++i) Insert(i);
  }
  // Bytes the caches hold: cached records, index pages and blob blocks.
  double CacheBytes() const {
    TDataTable& t = Cursor->Table();
    double pages = 0;
    for (int s = 0; s < IndexSlotCount; ++s) pages += t.IndexFile().Cache(s).Size();
    double bytes = static_cast<double>(t.DataFile().CacheCapacity()) * Cursor->RecordSize() + pages * 4096.0;
    if (t.BlobFile().Opened())
      bytes += static_cast<double>(t.BlobFile().Cache().Count()) * t.BlobFile().BlockSize();
    return bytes;
  }
};

using TClock = std::chrono::steady_clock;

double Since(TClock::time_point start) { return std::chrono::duration<double>(TClock::now() - start).count(); }

void Report(benchmark::State& state, double insertSeconds, double endSeconds, std::int64_t records,
            const bench::TCountingFileApi& counter, double peakBytes) {
  state.SetIterationTime(insertSeconds + endSeconds);
  state.counters["insert_s"] = insertSeconds;
  state.counters["end_s"] = endSeconds;
  state.counters["records/s"] = static_cast<double>(records) / (insertSeconds + endSeconds);
  state.counters["bytes/record"] = static_cast<double>(counter.Bytes()) / static_cast<double>(records);
  state.counters["cache_peak_MB"] = peakBytes / (1024.0 * 1024.0);
}

void BM_InsertAutocommit(benchmark::State& state) {
  const auto n = static_cast<std::int32_t>(state.range(0));
  const bool ordered = state.range(1) != 0;
  for (auto _ : state) {
    bench::TCountingFileApi counter;
    TOsFileApiOverride use(counter);
    TBenchTable table;
    WriteOrderTesting::SetUnorderedWrites(!ordered);
    counter.Reset();
    double peak = 0;
    const TClock::time_point start = TClock::now();
    for (std::int32_t i = 1; i <= n; ++i) {
      table.Insert(i);
      if (i % 1024 == 0) peak = std::max(peak, table.CacheBytes());
    }
    const double seconds = Since(start);
    WriteOrderTesting::SetUnorderedWrites(false);
    Report(state, seconds, 0, n, counter, std::max(peak, table.CacheBytes()));
  }
}

void BM_InsertInTransaction(benchmark::State& state) {
  const auto n = static_cast<std::int32_t>(state.range(0));
  for (auto _ : state) {
    bench::TCountingFileApi counter;
    TOsFileApiOverride use(counter);
    TBenchTable table;
    counter.Reset();
    TClock::time_point start = TClock::now();
    table.Dir.StartTransaction();
    table.InsertAll(n);
    const double inserts = Since(start);
    const double peak = table.CacheBytes();
    start = TClock::now();
    table.Dir.Commit(true, false);
    Report(state, inserts, Since(start), n, counter, peak);
  }
}

void BM_RollbackInserts(benchmark::State& state) {
  const auto n = static_cast<std::int32_t>(state.range(0));
  for (auto _ : state) {
    bench::TCountingFileApi counter;
    TOsFileApiOverride use(counter);
    TBenchTable table;
    counter.Reset();
    TClock::time_point start = TClock::now();
    table.Dir.StartTransaction();
    table.InsertAll(n);
    const double inserts = Since(start);
    const double peak = table.CacheBytes();
    start = TClock::now();
    table.Dir.Rollback();
    Report(state, inserts, Since(start), n, counter, peak);
  }
}

BENCHMARK(BM_InsertAutocommit)
    ->ArgNames({"records", "ordered"})
    ->ArgsProduct({{100000}, {0, 1}})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InsertInTransaction)->Arg(100000)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RollbackInserts)->Arg(100000)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
