// Record modification through the cursor, on a table with a primary index and
// two secondary indexes: inserts, random modifications of an indexed field and
// deletes (100,000 each by default), and inserts of records with a 10 KB text
// memo under a full-text index (10,000). Each benchmark reports records per
// second and the bytes written to disk per record (every pwrite counted
// through the file layer).
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
#include <random>
#include <string>
#include <vector>

#include "bench/bench_owners.h"
#include "engine/base/byte_order.h"
#include "engine/cursor/data_cursor.h"
#include "engine/files/os_file_api.h"
#include "engine/files/posix_file_api.h"
#include "engine/index/keys.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/field_types.h"

namespace {

using namespace tarn;



// 1 Id int32 (primary)  2 Name string 20 (ByName)  3 Score int32 (ByScore)
// 4 Body memo (full-text index over Body when withText).
TTableDefinition Definition(bool withText) {
  TTableDefinition def;
  def.Fields.push_back(MakeFieldDesc(1, "Id", FieldType::Int32));
  def.Fields.push_back(MakeFieldDesc(2, "Name", FieldType::String, 0, 20));
  def.Fields.push_back(MakeFieldDesc(3, "Score", FieldType::Int32));
  def.Fields.push_back(MakeFieldDesc(4, "Body", FieldType::Blob, FieldSubType::Memo, 0));
  AssignFieldOffsets(def.Fields);
  def.Primary = SingleFieldIndex("", 1, def.Fields, true);
  def.Secondary = {SingleFieldIndex("ByName", 2, def.Fields, false), SingleFieldIndex("ByScore", 3, def.Fields, false)};
  if (withText) {
    TIndexDescriptor text;
    text.FieldCount = 1;
    text.FieldNumbers[0] = 4;
    def.TextIndex = text;
  }
  return def;
}

std::string TempDir() {
  const char* env = std::getenv("TMPDIR");
  std::string base = env != nullptr ? env : std::filesystem::temp_directory_path().string();
  std::string path = base + "/modify_bench_" + std::to_string(::getpid());
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

  explicit TBenchTable(bool withText) {
    TDataTable& t = Dir.CreateTable("Bench", false, false, Definition(withText));
    Dir.ReleaseTable(t, false);
    Cursor = std::make_unique<TDataCursor>(Dir);
    Cursor->SetTableName("Bench");
    Cursor->OpenCursor();
    Buffer.resize(Cursor->RecordSize());
  }
  ~TBenchTable() {
    Cursor.reset();
    std::filesystem::remove_all(Path);
  }
  void Put32(int field, std::int32_t v) {
    std::array<std::uint8_t, 4> x{};
    PutLE32(x, 0, static_cast<std::uint32_t>(v));
    Cursor->PutField(field, Buffer, std::span<const std::uint8_t>(x));
  }
  void Insert(std::int32_t id, const std::string* body = nullptr) {
    Cursor->InitRecord(Buffer);
    Put32(1, id);
    const std::string name = "name " + std::to_string(id * 7919 % 100003);
    Cursor->PutField(2, Buffer, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
    Put32(3, id % 1000);
    if (body != nullptr) {
      std::uint32_t size = 0;
      (void)Cursor->OpenBlob(4, Buffer, TDataCursor::TBlobMode::Write, size);
      (void)Cursor->WriteBlob(4, Buffer, 0,
                              std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(body->data()), body->size()));
      (void)Cursor->CloseBlob(4, Buffer);
    }
    Cursor->InsertRecord(Buffer, false);
  }
  void Seek(std::int32_t id) {
    Cursor->InitRecord(Buffer);
    Put32(1, id);
    Cursor->SetToKey(false, Buffer, 1);
    (void)Cursor->GetCurrentRecord(Buffer);
  }
};

using TClock = std::chrono::steady_clock;

// Sets the iteration's (manual) time to the run that began at start and
// reports its rate and bytes.
void Report(benchmark::State& state, TClock::time_point start, std::int64_t records, const bench::TCountingFileApi& counter) {
  const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
  state.SetIterationTime(seconds);
  state.counters["records/s"] = static_cast<double>(records) / seconds;
  state.counters["bytes/record"] = static_cast<double>(counter.Bytes()) / static_cast<double>(records);
}

void BM_Insert(benchmark::State& state) {
  const auto n = static_cast<std::int32_t>(state.range(0));
  for (auto _ : state) {
    bench::TCountingFileApi counter;
    TOsFileApiOverride use(counter);
    TBenchTable table(false);
    counter.Reset();
    const TClock::time_point start = TClock::now();
    for (std::int32_t i = 1; i <= n; ++i) table.Insert(i);
    Report(state, start, n, counter);
  }
}

void BM_ModifyIndexedField(benchmark::State& state) {
  const auto n = static_cast<std::int32_t>(state.range(0));
  for (auto _ : state) {
    bench::TCountingFileApi counter;
    TOsFileApiOverride use(counter);
    TBenchTable table(false);
    for (std::int32_t i = 1; i <= n; ++i) table.Insert(i);
    std::mt19937 random(7);
    counter.Reset();
    const TClock::time_point start = TClock::now();
    for (std::int32_t i = 0; i < n; ++i) {
      table.Seek(static_cast<std::int32_t>(random() % static_cast<unsigned>(n)) + 1);
      table.Put32(3, static_cast<std::int32_t>(random() % 5000));
      table.Cursor->ModifyRecord(table.Buffer, true, false);
    }
    Report(state, start, n, counter);
  }
}

void BM_Delete(benchmark::State& state) {
  const auto n = static_cast<std::int32_t>(state.range(0));
  for (auto _ : state) {
    bench::TCountingFileApi counter;
    TOsFileApiOverride use(counter);
    TBenchTable table(false);
    for (std::int32_t i = 1; i <= n; ++i) table.Insert(i);
    counter.Reset();
    const TClock::time_point start = TClock::now();
    for (std::int32_t i = 1; i <= n; ++i) {
      table.Seek(i);
      table.Cursor->DeleteRecord(table.Buffer, false);
    }
    Report(state, start, n, counter);
  }
}

void BM_InsertTextBlob(benchmark::State& state) {
  const auto n = static_cast<std::int32_t>(state.range(0));
  const char* const words[] = {"quiz", "river", "stone", "answer", "light", "the", "question", "zebra", "night"};
  std::mt19937 random(11);
  std::vector<std::string> bodies(16);
  for (std::string& body : bodies) {
    while (body.size() < 10 * 1024) {
      body += words[random() % std::size(words)];
      body += std::to_string(random() % 500);
      body += ' ';
    }
    body.resize(10 * 1024);
  }
  for (auto _ : state) {
    bench::TCountingFileApi counter;
    TOsFileApiOverride use(counter);
    TBenchTable table(true);
    counter.Reset();
    const TClock::time_point start = TClock::now();
    for (std::int32_t i = 1; i <= n; ++i) table.Insert(i, &bodies[static_cast<std::size_t>(i) % bodies.size()]);
    Report(state, start, n, counter);
  }
}

BENCHMARK(BM_Insert)->Arg(100000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ModifyIndexedField)->Arg(100000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Delete)->Arg(100000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InsertTextBlob)->Arg(500)->Arg(10000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
