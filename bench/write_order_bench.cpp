// Cost of the write order of a table's buffers: many small writes, each one
// record appended through the data file and written by TDataTable::WriteBuffers
// under the table's write lock, in the ordered form (headers marked, records,
// marks cleared) and in the unordered form (records, then the header), with
// and without forced flushes, and with the data header alone or the index
// header as well.
//
// Arguments: ordered (1) or unordered (0); flush (1: the session forces
// flushes); headers (1: data header; 2: data and index headers).
// The table lives in $TMPDIR (or the system's temporary directory); flushes
// cost what that file system makes them cost.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/index/keys.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/session/data_table.h"
#include "engine/session/write_order.h"
#include "engine/table/field_desc.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"

namespace {

namespace fs = std::filesystem;
using namespace tarn;

// A fresh directory, removed with everything in it at the end.
class TBenchDir {
 public:
  TBenchDir() {
    std::string pattern = (fs::temp_directory_path() / "tarn-write-order-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    FPath = pattern;
  }
  ~TBenchDir() {
    std::error_code ignored;
    fs::remove_all(FPath, ignored);
  }
  TBenchDir(const TBenchDir&) = delete;
  TBenchDir& operator=(const TBenchDir&) = delete;
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

// "Name" (string 20) and "Order" (32-bit integer, primary key).
TTableDefinition BenchDefinition() {
  TTableDefinition def;
  def.Fields.push_back(MakeFieldDesc(1, "Name", FieldType::String, 0, 20));
  def.Fields.push_back(MakeFieldDesc(2, "Order", FieldType::Int32));
  AssignFieldOffsets(def.Fields);
  def.Primary.FieldCount = 1;
  def.Primary.FieldNumbers[0] = 2;
  def.Primary.Unique = true;
  def.Primary.KeySize = static_cast<std::int16_t>(KeyFieldSize(FieldType::Int32, 0) + 1);
  return def;
}

void BM_AppendOneRecordPerWrite(benchmark::State& state) {
  const bool ordered = state.range(0) != 0;
  const bool flush = state.range(1) != 0;
  const bool indexHeader = state.range(2) == 2;
  TBenchDir where;
  {
    TDataSession maker;
    TDataDirectory& dir = maker.OpenDirectory("Bench", where.Path());
    TDataTable& t = dir.CreateTable("Bench", false, false, BenchDefinition());
    dir.ReleaseTable(t, false);
  }
  WriteOrderTesting::SetUnorderedWrites(!ordered);
  TDataSession session;
  session.SetForceBufferFlush(flush);
  TDataDirectory& dir = session.OpenDirectory("Bench", where.Path());
  TDataTable& table = dir.OpenTable("Bench", {});
  TDataFile& data = table.DataFile();
  std::uint8_t letter = 0;
  for (auto _ : state) {
    TTableWriteBracket write(table);
    {
      TRecordPin pin = data.GetRecord(nullptr, data.GetNextRecordNumber());
      pin->MutableData()[RecordLayout::ControlSize] = 1;
      pin->MutableData()[RecordLayout::ControlSize + 1] = static_cast<std::uint8_t>('a' + letter++ % 26);
      pin->MarkModified();
    }
    table.WriteBuffers(false, true, false, false, indexHeader);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["records"] = static_cast<double>(data.GetPhysicalRecordCount());
  dir.ReleaseTable(table, false);
  WriteOrderTesting::SetUnorderedWrites(false);
}

BENCHMARK(BM_AppendOneRecordPerWrite)
    ->ArgNames({"ordered", "flush", "headers"})
    ->ArgsProduct({{0, 1}, {0, 1}, {1, 2}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
