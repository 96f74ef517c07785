// Table maintenance through the cursor: AddIndex on a filled table (a
// non-unique index over a 32-bit integer and one over a 20-character
// string), and a restructure that adds a field to a table with a primary
// and two secondary indexes (a full rebuild: every record copied into a
// work table and the files swapped). Each reports records per second.
//
// The number of records is 20,000 by default; set MAINT_BENCH_RECORDS (for
// example to 1000000) for a larger table. The tables live in $TMPDIR (or the
// system's temporary directory); filling them is not timed.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/cursor/data_cursor.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/field_types.h"

namespace {

using namespace tarn;
using TClock = std::chrono::steady_clock;

std::int64_t Records() {
  const char* env = std::getenv("MAINT_BENCH_RECORDS");
  const std::int64_t n = env != nullptr ? std::atoll(env) : 0;
  return n > 0 ? n : 20000;
}

TIndexDescriptor Over(const char* name, std::int16_t field, bool unique) {
  TIndexDescriptor d;
  d.IndexName = name;
  d.Unique = unique;
  d.FieldNumbers[0] = field;
  return d;
}

// 1 Id int32 (primary)  2 Name string 20  3 Score int32; secondary indexes
// ByName and ByScore when withSecondary.
TTableDefinition Definition(bool withSecondary) {
  TTableDefinition def;
  def.Fields = {MakeFieldDesc(1, "Id", FieldType::Int32), MakeFieldDesc(2, "Name", FieldType::String, 0, 20),
                MakeFieldDesc(3, "Score", FieldType::Int32)};
  def.Primary = Over("", 1, true);
  if (withSecondary) def.Secondary = {Over("ByName", 2, false), Over("ByScore", 3, false)};
  return def;
}

std::string TempDir() {
  const char* env = std::getenv("TMPDIR");
  std::string base = env != nullptr ? env : std::filesystem::temp_directory_path().string();
  std::string path = base + "/maintenance_bench_" + std::to_string(::getpid());
  std::filesystem::remove_all(path);
  std::filesystem::create_directories(path);
  return path;
}

struct TBenchTable {
  std::string Path = TempDir();
  TDataSession Session;
  TDataDirectory& Dir = Session.OpenDirectory("Bench", Path);
  std::unique_ptr<TDataCursor> Cursor;

  TBenchTable(std::int64_t n, bool withSecondary) {
    Session.SetPrivateDirectory(Path);
    Cursor = std::make_unique<TDataCursor>(Dir);
    Cursor->SetTableName("Bench");
    Cursor->SetExclusive(true);
    Cursor->CreateTable(Definition(withSecondary), false);
    Cursor->OpenCursor();
    std::vector<std::uint8_t> b(Cursor->RecordSize());
    std::array<std::uint8_t, 4> v{};
    for (std::int64_t i = 1; i <= n; ++i) {
      Cursor->InitRecord(b);
      PutLE32(v, 0, static_cast<std::uint32_t>(i));
      Cursor->PutField(1, b, std::span<const std::uint8_t>(v));
      const std::string name = "name " + std::to_string(i * 7919 % 1000003);
      Cursor->PutField(2, b, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
      PutLE32(v, 0, static_cast<std::uint32_t>(i * 31 % 10007));
      Cursor->PutField(3, b, std::span<const std::uint8_t>(v));
      Cursor->InsertRecord(b, false);
    }
    Cursor->CloseCursor();
  }
  ~TBenchTable() {
    Cursor.reset();
    std::filesystem::remove_all(Path);
  }
};

void Report(benchmark::State& state, TClock::time_point start, std::int64_t records) {
  const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
  state.SetIterationTime(seconds);
  state.counters["records/s"] = static_cast<double>(records) / seconds;
}

// AddIndex and the close that writes the new index out.
void AddIndexOver(benchmark::State& state, std::int16_t field) {
  const std::int64_t n = state.range(0);
  for (auto _ : state) {
    TBenchTable table(n, false);
    table.Cursor->OpenCursor();
    const TClock::time_point start = TClock::now();
    table.Cursor->AddIndex(Over("New", field, false));
    table.Cursor->CloseCursor();
    Report(state, start, n);
  }
}

void BM_AddIndexInt32(benchmark::State& state) { AddIndexOver(state, 3); }
void BM_AddIndexString20(benchmark::State& state) { AddIndexOver(state, 2); }

void BM_RestructureAddField(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  for (auto _ : state) {
    TBenchTable table(n, true);
    TTableDefinition next = Definition(true);
    next.Fields.push_back(MakeFieldDesc(4, "Extra", FieldType::Int32));
    const TClock::time_point start = TClock::now();
    table.Cursor->RestructureTable(next, true);
    Report(state, start, n);
  }
}

void Args(benchmark::internal::Benchmark* b) {
  b->Arg(Records())->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_AddIndexInt32)->Apply(Args);
BENCHMARK(BM_AddIndexString20)->Apply(Args);
BENCHMARK(BM_RestructureAddField)->Apply(Args);

}  // namespace
