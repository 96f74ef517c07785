// Tarn's storage layers side by side with SQLite 3 on the same workloads, in
// one run: the CPU time of each side and the ratio Tarn / SQLite (below 1
// means Tarn is faster).
//
// Workloads (sizes at scale 1):
//   index   1,000,000 random 8-byte keys inserted into one index, then each
//           looked up once (TIndexFile + TBTree; SQLite: a WITHOUT ROWID
//           table keyed by the 8 bytes)
//   records 200,000 records of 100 bytes appended, then read in record
//           order (TDataFile's record cache; SQLite: rowid table)
//   blobs   100,000 blobs of 1 KB, and 1,000 blobs of 1 MB, 512-byte blocks
//           (TBlobFile + TBlobBuffer; SQLite: rowid table with a blob column)
//   cursor  20,000 records (id, name, score) through TDataCursor on a table
//           with a primary and two secondary indexes: inserted in random
//           order, scanned in primary and in secondary order, sought by id,
//           modified (both secondary keys change) and deleted, each looked up
//           by id in random order; every operation on its own (autocommit),
//           and each phase in one transaction (SQLite: the same table with
//           two indexes, the same statements, BEGIN ... COMMIT per phase)
// Each storage workload is written, closed, reopened and read, on both sides;
// opening and closing are not timed. Tarn runs once with the engine's default cache
// settings and once with 2 MB of cache for the file in question; SQLite runs
// with its default cache, which is 2 MB. The index workload also runs with
// the Tarn side inside a transaction (pages stay in memory until the end).
//
// Both sides: files in one temporary directory, no sync. SQLite: one
// transaction per phase, PRAGMA synchronous=OFF and journal_mode=OFF (Tarn's
// storage layer keeps no journal either), prepared statements.
//
//   bench_storage_vs_sqlite [scale [workload [repeat]]]   scale defaults to 1; 0.1 is a quick run
//   VANTOR_BENCH_SCALE=0.1 bench_storage_vs_sqlite
// workload (for profiling one of them): index, records, blobs1k, blobs1m or cursor;
// "all" runs every one. repeat (default 1): the index and cursor workloads
// run that many times and each phase reports its least CPU time, which
// filters out the time other work on a shared machine adds.
// The cursor workloads run with the engine's default caches, with 2 MB
// (CursorEqualCaches), and with 2 MB on a table opened exclusively, where the
// cursor takes no locks and makes no change checks: that row is what the
// engine costs without the sharing protocol. Each row shows the most the
// Tarn caches held.

#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/blob/blob_buffer.h"
#include "engine/blob/blob_file.h"
#include "engine/blob/blob_owner.h"
#include "bench/bench_owners.h"
#include "bench/bench_sqlite.h"
#include "engine/cursor/data_cursor.h"
#include "engine/index/btree.h"
#include "engine/index/index_file.h"
#include "engine/index/keys.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/data_file.h"
#include "engine/table/field_types.h"

namespace {

using namespace tarn;
using bench::CpuSeconds;
using bench::TSqlite;

constexpr std::int32_t EqualCacheBytes = 2 << 20;
// The index cache setting whose pages take SQLite's 2 MB: a cached page holds
// one 4 KB entry buffer, and the setting gives setting / 8192 pages.
constexpr std::int32_t IndexEqualMemoryBytes = 4 << 20;

std::string Megabytes(double bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", bytes / (1024.0 * 1024.0));
  return text;
}

// CPU seconds of the write and the read phase of one run.
struct TTimes {
  double Write = 0;
  double Read = 0;
};

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(what);
}

// Every run of the index, record and blob workloads starts here, with
// nothing left for the kernel to write back: a run after one that wrote a
// gigabyte would otherwise pay for that writeback.
void Settle() { ::sync(); }

// ---------------------------------------------------------------- SQLite side

void Encode(std::uint64_t v, std::uint8_t* key) {
  for (int i = 0; i < 8; ++i) key[i] = static_cast<std::uint8_t>(v >> (8 * (7 - i)));
}

TTimes SqliteIndex(const std::string& dir, const std::vector<std::uint64_t>& keys) {
  Settle();
  const std::string path = dir + "/index.db";
  std::filesystem::remove(path);
  TTimes t;
  std::uint8_t key[8];
  {
    TSqlite db(path);
    db.Exec("CREATE TABLE k(key BLOB PRIMARY KEY, rec INTEGER) WITHOUT ROWID");
    sqlite3_stmt* insert = db.Prepare("INSERT INTO k VALUES(?, ?)");
    const double t0 = CpuSeconds();
    db.Exec("BEGIN");
    for (std::size_t i = 0; i < keys.size(); ++i) {
      Encode(keys[i], key);
      sqlite3_bind_blob(insert, 1, key, 8, SQLITE_STATIC);
      sqlite3_bind_int64(insert, 2, static_cast<std::int64_t>(i + 1));
      Check(sqlite3_step(insert) == SQLITE_DONE, "sqlite insert");
      sqlite3_reset(insert);
    }
    db.Exec("COMMIT");
    t.Write = CpuSeconds() - t0;
    sqlite3_finalize(insert);
  }
  {
    TSqlite db(path);
    sqlite3_stmt* find = db.Prepare("SELECT rec FROM k WHERE key = ?");
    const double t0 = CpuSeconds();
    db.Exec("BEGIN");
    std::size_t found = 0;
    for (std::uint64_t k : keys) {
      Encode(k, key);
      sqlite3_bind_blob(find, 1, key, 8, SQLITE_STATIC);
      if (sqlite3_step(find) == SQLITE_ROW) ++found;
      sqlite3_reset(find);
    }
    db.Exec("COMMIT");
    t.Read = CpuSeconds() - t0;
    sqlite3_finalize(find);
    Check(found == keys.size(), "sqlite lookup missed");
  }
  return t;
}

TTimes SqliteRecords(const std::string& dir, std::int32_t count, std::size_t size) {
  Settle();
  const std::string path = dir + "/records.db";
  std::filesystem::remove(path);
  std::vector<std::uint8_t> value(size, 0x41);
  TTimes t;
  {
    TSqlite db(path);
    db.Exec("CREATE TABLE r(id INTEGER PRIMARY KEY, v BLOB)");
    sqlite3_stmt* insert = db.Prepare("INSERT INTO r(v) VALUES(?)");
    const double t0 = CpuSeconds();
    db.Exec("BEGIN");
    for (std::int32_t i = 0; i < count; ++i) {
      value[0] = static_cast<std::uint8_t>(i);
      sqlite3_bind_blob(insert, 1, value.data(), static_cast<int>(size), SQLITE_STATIC);
      Check(sqlite3_step(insert) == SQLITE_DONE, "sqlite insert");
      sqlite3_reset(insert);
    }
    db.Exec("COMMIT");
    t.Write = CpuSeconds() - t0;
    sqlite3_finalize(insert);
  }
  {
    TSqlite db(path);
    sqlite3_stmt* scan = db.Prepare("SELECT v FROM r ORDER BY id");
    const double t0 = CpuSeconds();
    db.Exec("BEGIN");
    std::uint64_t sum = 0;
    std::int32_t rows = 0;
    while (sqlite3_step(scan) == SQLITE_ROW) {
      sum += static_cast<const std::uint8_t*>(sqlite3_column_blob(scan, 0))[0];
      ++rows;
    }
    db.Exec("COMMIT");
    t.Read = CpuSeconds() - t0;
    sqlite3_finalize(scan);
    Check(rows == count && sum != 1, "sqlite scan");
  }
  return t;
}

TTimes SqliteBlobs(const std::string& dir, std::int32_t count, std::size_t size) {
  Settle();
  const std::string path = dir + "/blobs.db";
  std::filesystem::remove(path);
  std::vector<std::uint8_t> value(size);
  for (std::size_t i = 0; i < size; ++i) value[i] = static_cast<std::uint8_t>(i * 31 + 7);
  TTimes t;
  {
    TSqlite db(path);
    db.Exec("CREATE TABLE b(id INTEGER PRIMARY KEY, v BLOB)");
    sqlite3_stmt* insert = db.Prepare("INSERT INTO b(id, v) VALUES(?, ?)");
    const double t0 = CpuSeconds();
    db.Exec("BEGIN");
    for (std::int32_t i = 0; i < count; ++i) {
      value[0] = static_cast<std::uint8_t>(i);
      sqlite3_bind_int(insert, 1, i + 1);
      sqlite3_bind_blob(insert, 2, value.data(), static_cast<int>(size), SQLITE_STATIC);
      Check(sqlite3_step(insert) == SQLITE_DONE, "sqlite insert");
      sqlite3_reset(insert);
    }
    db.Exec("COMMIT");
    t.Write = CpuSeconds() - t0;
    sqlite3_finalize(insert);
  }
  {
    TSqlite db(path);
    sqlite3_stmt* get = db.Prepare("SELECT v FROM b WHERE id = ?");
    std::vector<std::uint8_t> copy;
    const double t0 = CpuSeconds();
    db.Exec("BEGIN");
    std::uint64_t sum = 0;
    for (std::int32_t i = 0; i < count; ++i) {
      sqlite3_bind_int(get, 1, i + 1);
      Check(sqlite3_step(get) == SQLITE_ROW, "sqlite blob missing");
      const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(get, 0));
      const int bytes = sqlite3_column_bytes(get, 0);
      copy.assign(data, data + bytes);  // Tarn's blob buffer holds a copy too
      Check(static_cast<std::size_t>(bytes) == size, "sqlite short blob");
      sum += copy[0];
      sqlite3_reset(get);
    }
    db.Exec("COMMIT");
    t.Read = CpuSeconds() - t0;
    sqlite3_finalize(get);
    Check(sum != 1, "sqlite blob sum");
  }
  return t;
}


// The cursor workloads' table: id (primary key), name (indexed), score
// (indexed). The same rows and operations on both sides (TCursorWork).
struct TCursorWork {
  std::vector<std::int32_t> InsertOrder;  // ids, shuffled
  std::vector<std::int32_t> SeekOrder;    // ids looked up, modified and deleted
  static std::string Name(std::int32_t id, bool renamed) {
    return (renamed ? "renamed " : "name ") + std::to_string(static_cast<std::int64_t>(id) * 7919 % 100003);
  }
  static std::int32_t Score(std::int32_t id, bool renamed) { return (id * 31 + (renamed ? 7 : 0)) % 1000; }
};

// CPU seconds of each cursor operation of one run.
struct TCursorTimes {
  double Insert = 0;
  double ScanPrimary = 0;
  double ScanSecondary = 0;
  double Seek = 0;
  double Modify = 0;
  double Delete = 0;
};

TCursorTimes SqliteCursor(const std::string& dir, const TCursorWork& work, bool transaction) {
  const std::string path = dir + "/cursor.db";
  std::filesystem::remove(path);
  TSqlite db(path);
  db.Exec("CREATE TABLE c(id INTEGER PRIMARY KEY, name TEXT, score INTEGER)");
  db.Exec("CREATE INDEX c_name ON c(name)");
  db.Exec("CREATE INDEX c_score ON c(score)");
  sqlite3_stmt* insert = db.Prepare("INSERT INTO c VALUES(?, ?, ?)");
  sqlite3_stmt* scanPrimary = db.Prepare("SELECT id, name, score FROM c ORDER BY id");
  sqlite3_stmt* scanSecondary = db.Prepare("SELECT id, name, score FROM c ORDER BY name");
  sqlite3_stmt* seek = db.Prepare("SELECT id, name, score FROM c WHERE id = ?");
  sqlite3_stmt* modify = db.Prepare("UPDATE c SET name = ?, score = ? WHERE id = ?");
  sqlite3_stmt* remove = db.Prepare("DELETE FROM c WHERE id = ?");
  auto timed = [&](auto&& body) {
    const double t0 = CpuSeconds();
    if (transaction) db.Exec("BEGIN");
    body();
    if (transaction) db.Exec("COMMIT");
    return CpuSeconds() - t0;
  };
  auto scan = [&](sqlite3_stmt* stmt) {
    std::size_t rows = 0;
    std::uint64_t sum = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      sum += static_cast<std::uint64_t>(sqlite3_column_int(stmt, 2));
      sum += static_cast<std::uint64_t>(sqlite3_column_bytes(stmt, 1));
      ++rows;
    }
    sqlite3_reset(stmt);
    Check(rows == work.InsertOrder.size() && sum != 1, "sqlite scan");
  };
  TCursorTimes t;
  t.Insert = timed([&] {
    for (std::int32_t id : work.InsertOrder) {
      const std::string name = TCursorWork::Name(id, false);
      sqlite3_bind_int(insert, 1, id);
      sqlite3_bind_text(insert, 2, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
      sqlite3_bind_int(insert, 3, TCursorWork::Score(id, false));
      Check(sqlite3_step(insert) == SQLITE_DONE, "sqlite insert");
      sqlite3_reset(insert);
    }
  });
  t.ScanPrimary = timed([&] { scan(scanPrimary); });
  t.ScanSecondary = timed([&] { scan(scanSecondary); });
  t.Seek = timed([&] {
    std::uint64_t sum = 0;
    for (std::int32_t id : work.SeekOrder) {
      sqlite3_bind_int(seek, 1, id);
      Check(sqlite3_step(seek) == SQLITE_ROW, "sqlite seek");
      sum += static_cast<std::uint64_t>(sqlite3_column_int(seek, 2));
      sqlite3_reset(seek);
    }
    Check(sum != 1, "sqlite seek sum");
  });
  t.Modify = timed([&] {
    for (std::int32_t id : work.SeekOrder) {
      const std::string name = TCursorWork::Name(id, true);
      sqlite3_bind_text(modify, 1, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
      sqlite3_bind_int(modify, 2, TCursorWork::Score(id, true));
      sqlite3_bind_int(modify, 3, id);
      Check(sqlite3_step(modify) == SQLITE_DONE, "sqlite update");
      sqlite3_reset(modify);
    }
  });
  t.Delete = timed([&] {
    for (std::int32_t id : work.SeekOrder) {
      sqlite3_bind_int(remove, 1, id);
      Check(sqlite3_step(remove) == SQLITE_DONE, "sqlite delete");
      sqlite3_reset(remove);
    }
  });
  for (sqlite3_stmt* stmt : {insert, scanPrimary, scanSecondary, seek, modify, remove}) sqlite3_finalize(stmt);
  return t;
}

// ---------------------------------------------------------------- Tarn side

// heldBytes: the most memory the page cache held (at the end of each phase).
TTimes TarnIndex(const std::string& dir, const std::vector<std::uint64_t>& keys, std::int32_t cacheBytes,
                 bool transaction, double& heldBytes) {
  Settle();
  const std::string path = dir + "/BENCH.IDX";
  bench::TBenchIndexOwner owner;
  owner.BufferSize = cacheBytes;
  owner.Dir = dir + "/";
  TTimes t;
  std::uint8_t key[8];
  int slot = 0;
  {
    TIndexFile file(owner);
    file.SetFileName(path);
    file.CreateFile();
    TIndexDescriptor def;
    def.IndexName = "ByKey";
    def.KeySize = 8;
    def.Unique = true;
    def.FieldCount = 1;
    def.FieldNumbers[0] = 1;
    slot = file.AddIndexDescriptor(def);
    TFixedTreeContext ctx(slot);
    TBTree tree(file);
    owner.Transaction = transaction;
    const double t0 = CpuSeconds();
    for (std::size_t i = 0; i < keys.size(); ++i) {
      Encode(keys[i], key);
      tree.AddKey(ctx, key, static_cast<std::int32_t>(i + 1));
    }
    heldBytes = std::max(heldBytes, static_cast<double>(file.CacheMemoryBytes()));
    owner.Transaction = false;
    file.FlushPages(false);
    file.WriteIndexHeader(false);
    t.Write = CpuSeconds() - t0;
    file.CloseFile();
  }
  {
    TIndexFile file(owner);
    file.SetFileName(path);
    file.OpenFile();
    TFixedTreeContext ctx(slot);
    TBTree tree(file);
    const double t0 = CpuSeconds();
    std::size_t found = 0;
    for (std::uint64_t k : keys) {
      Encode(k, key);
      found += tree.FindKey(ctx, key).Found ? 1 : 0;
    }
    t.Read = CpuSeconds() - t0;
    heldBytes = std::max(heldBytes, static_cast<double>(file.CacheMemoryBytes()));
    file.CloseFile();
    Check(found == keys.size(), "tarn lookup missed");
  }
  std::filesystem::remove(path);
  return t;
}

class TDataBenchOwner : public TDataFileOwner {
 public:
  std::string_view TableName() const override { return "bench"; }
  bool ForceBufferFlush() const override { return false; }
  bool StrictChangeDetection() const override { return false; }
  std::int32_t MaxDataBufferSize() const override { return BufferSize; }
  std::int32_t MaxDataBufferCount() const override { return BufferCount; }
  bool DataWritten() const override { return Written; }
  void SetDataWritten() override { Written = true; }
  bool HoldsTransactionLock() const override { return false; }
  bool HasNoPrimaryIndex() const override { return false; }
  bool LocaleInstalled(std::int16_t, std::int16_t) const override { return true; }
  const TTextCaseMapper& CaseMapper() const override { return AsciiCaseMapper; }
  std::int32_t BufferSize = 16384;
  std::int32_t BufferCount = 8192;
  bool Written = false;
};

// The cursor of a run that nobody else disturbs.
class TQuietCursor : public TRecordCacheClient {
 public:
  bool ChangeCheck() override { return false; }
  std::int32_t ReadAheadCount(std::int32_t, bool, std::int32_t limit) override { return limit; }
};

// Records of 100 bytes: a 9-byte control area, a string of 84 and a 32-bit
// integer, each with its null byte.
TTimes TarnRecords(const std::string& dir, std::int32_t count, std::int32_t cacheBytes, std::int32_t cacheCount) {
  Settle();
  const std::string path = dir + "/BENCH.DAT";
  TDataBenchOwner owner;
  owner.BufferSize = cacheBytes;
  owner.BufferCount = cacheCount;
  std::vector<TFieldDesc> defs = {MakeFieldDesc(1, "Name", FieldType::String, 0, 84),
                                  MakeFieldDesc(2, "Age", FieldType::Int32)};
  AssignFieldOffsets(defs);
  TTimes t;
  {
    TDataFile file(owner);
    file.SetFileName(path);
    file.CreateDataFile(0, 0, defs, 0, "", "", false, 0, 0);
    file.WriteDataHeader(false);
    file.WriteFieldDefs();
    const std::size_t fieldBytes = static_cast<std::size_t>(file.GetRecordSize()) - 9;
    const double t0 = CpuSeconds();
    for (std::int32_t i = 0; i < count; ++i) {
      TRecordPin rec = file.AllocateRecord(nullptr);
      rec->Clear(false);
      std::span<std::uint8_t> data = rec->MutableData();
      std::memset(data.data() + 9, 0x41, fieldBytes);
      data[9] = static_cast<std::uint8_t>(i);
      rec->MarkModified();
    }
    file.FlushRecords();
    file.WriteDataHeader(false);
    t.Write = CpuSeconds() - t0;
    Check(file.GetRecordSize() == 100, "record size");
    file.CloseFile();
  }
  {
    TDataFile file(owner);
    file.SetFileName(path);
    file.OpenFile();
    TQuietCursor cursor;
    const double t0 = CpuSeconds();
    std::uint64_t sum = 0;
    for (std::int32_t r = 1; r <= count; ++r) {
      TRecordPin pin = file.GetRecord(&cursor, r, true, false, true);
      sum += pin->Data()[9];
    }
    t.Read = CpuSeconds() - t0;
    file.CloseFile();
    Check(sum != 1, "tarn record sum");
  }
  std::filesystem::remove(path);
  return t;
}

TTimes TarnBlobs(const std::string& dir, std::int32_t count, std::size_t size, std::int32_t cacheBytes) {
  Settle();
  const std::string path = dir + "/BENCH.BLB";
  constexpr std::int32_t BlockSize = 512;
  bench::TBenchBlobOwner owner;
  owner.BufferSize = cacheBytes;
  std::vector<std::uint8_t> value(size);
  for (std::size_t i = 0; i < size; ++i) value[i] = static_cast<std::uint8_t>(i * 31 + 7);
  struct TRef {
    std::int32_t First;
    std::int32_t Stamp;
  };
  std::vector<TRef> refs;
  refs.reserve(static_cast<std::size_t>(count));
  TTimes t;
  {
    TBlobFile file(owner);
    file.SetFileName(path);
    file.SetBlockSize(BlockSize);
    file.CreateFile();
    const double t0 = CpuSeconds();
    for (std::int32_t i = 0; i < count; ++i) {
      TBlobBuffer buffer(file, nullptr, 1, 0, 0, i + 1);
      value[0] = static_cast<std::uint8_t>(i);
      buffer.Write(0, value);
      buffer.SetBlobStamp(owner.NextBlobStamp());
      buffer.SaveBlob();
      refs.push_back({buffer.FirstBlock(), buffer.BlobStamp()});
    }
    file.FlushBlocks();
    file.WriteBlobHeader(false);
    t.Write = CpuSeconds() - t0;
    file.CloseFile();
  }
  {
    TBlobFile file(owner);
    file.SetFileName(path);
    file.SetBlockSize(BlockSize);
    file.OpenFile();
    const double t0 = CpuSeconds();
    std::uint64_t sum = 0;
    for (const TRef& ref : refs) {
      TBlobBuffer buffer(file, nullptr, 1, ref.First, ref.Stamp, 1);
      buffer.LoadBlob();
      Check(buffer.Size() == size, "tarn short blob");
      sum += buffer.Data()[0];
    }
    t.Read = CpuSeconds() - t0;
    file.CloseFile();
    Check(sum != 1, "tarn blob sum");
  }
  std::filesystem::remove(path);
  return t;
}


// Session cache settings of a cursor run.
struct TCursorCaches {
  std::int32_t IndexBytes = 16384;  // MaxIndexBufferSize: IndexBytes / 8192 pages per index
  std::int32_t DataBytes = 16384;   // MaxDataBufferSize
  std::int32_t DataCount = 8192;    // MaxDataBufferCount
  // The table opened for this cursor alone: no locks, no change checks.
  bool Exclusive = false;
};

// SQLite's 2 MB split between the records and the pages: the records take
// what 20,000 of them need (41 bytes each, 820 KB), the table's four trees
// (primary, two secondary indexes, "Sys Deleted") the rest, 64 pages of 4 KB
// each. The index file is 1.9 MB, so the pages of the name index do not all
// fit. (Outside transactions; inside one, modified records and pages stay
// until the commit on both sides.)
constexpr TCursorCaches CursorEqualCaches{64 * 8192, 840000, 32768};
constexpr TCursorCaches Exclusively(TCursorCaches caches) {
  caches.Exclusive = true;
  return caches;
}

// The cursor workloads through TDataCursor on a shared table (unless
// caches.Exclusive): every operation runs its change check and takes its
// locks as in any program. Returns the times and, in peakBytes, the most
// memory the record and page caches held at the ends of the phases.
TCursorTimes TarnCursor(const std::string& dir, const TCursorWork& work, bool transaction, TCursorCaches caches,
                        double& peakBytes) {
  const std::string path = dir + "/tarn_cursor";
  std::filesystem::remove_all(path);
  std::filesystem::create_directories(path);
  TCursorTimes t;
  {
    TDataSession session;
    session.SetMaxIndexBufferSize(caches.IndexBytes);
    session.SetMaxDataBufferSize(caches.DataBytes);
    session.SetMaxDataBufferCount(caches.DataCount);
    TDataDirectory& directory = session.OpenDirectory("Bench", path);
    TTableDefinition def;
    def.Fields.push_back(MakeFieldDesc(1, "Id", FieldType::Int32));
    def.Fields.push_back(MakeFieldDesc(2, "Name", FieldType::String, 0, 20));
    def.Fields.push_back(MakeFieldDesc(3, "Score", FieldType::Int32));
    AssignFieldOffsets(def.Fields);
    def.Primary = SingleFieldIndex("", 1, def.Fields, true);
    def.Secondary = {SingleFieldIndex("ByName", 2, def.Fields, false),
                     SingleFieldIndex("ByScore", 3, def.Fields, false)};
    directory.ReleaseTable(directory.CreateTable("Cursor", false, false, def), false);
    TDataCursor cursor(directory);
    cursor.SetTableName("Cursor");
    cursor.SetExclusive(caches.Exclusive);
    cursor.OpenCursor();
    std::vector<std::uint8_t> buffer(cursor.RecordSize());
    auto put32 = [&](int field, std::int32_t v) {
      std::array<std::uint8_t, 4> x{};
      PutLE32(x, 0, static_cast<std::uint32_t>(v));
      cursor.PutField(field, buffer, std::span<const std::uint8_t>(x));
    };
    auto putName = [&](const std::string& name) {
      cursor.PutField(2, buffer,
                      std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
    };
    auto seekId = [&](std::int32_t id) {
      cursor.InitRecord(buffer);
      put32(1, id);
      Check(cursor.SetToKey(false, buffer, 0, 0, false, buffer), "tarn seek");
    };
    auto memory = [&] {
      TDataTable& table = cursor.Table();
      return static_cast<double>(table.DataFile().CacheCapacity()) * cursor.RecordSize() +
             static_cast<double>(table.IndexFile().CacheMemoryBytes());
    };
    auto timed = [&](auto&& body) {
      const double t0 = CpuSeconds();
      if (transaction) directory.StartTransaction();
      body();
      peakBytes = std::max(peakBytes, memory());
      if (transaction) directory.Commit(true, false);
      return CpuSeconds() - t0;
    };
    auto scan = [&] {
      std::size_t rows = 0;
      std::uint64_t sum = 0;
      cursor.SetToBegin();
      while (cursor.GetNextRecord(buffer) == TARN_NONE) {
        sum += buffer[buffer.size() - 2];
        ++rows;
      }
      Check(rows == work.InsertOrder.size() && sum != 1, "tarn scan");
    };
    t.Insert = timed([&] {
      for (std::int32_t id : work.InsertOrder) {
        cursor.InitRecord(buffer);
        put32(1, id);
        putName(TCursorWork::Name(id, false));
        put32(3, TCursorWork::Score(id, false));
        cursor.InsertRecord(buffer, false);
      }
    });
    t.ScanPrimary = timed(scan);
    cursor.SwitchToIndex("ByName");
    t.ScanSecondary = timed(scan);
    cursor.SwitchToIndexNo(0);
    t.Seek = timed([&] {
      std::uint64_t sum = 0;
      for (std::int32_t id : work.SeekOrder) {
        seekId(id);
        sum += buffer[buffer.size() - 2];
      }
      Check(sum != 1, "tarn seek sum");
    });
    t.Modify = timed([&] {
      for (std::int32_t id : work.SeekOrder) {
        seekId(id);
        Check(cursor.GetCurrentRecord(buffer, true) == TARN_NONE, "tarn edit");
        putName(TCursorWork::Name(id, true));
        put32(3, TCursorWork::Score(id, true));
        cursor.ModifyRecord(buffer, true, false);
      }
    });
    t.Delete = timed([&] {
      for (std::int32_t id : work.SeekOrder) {
        seekId(id);
        cursor.DeleteRecord(buffer, false);
      }
    });
    Check(cursor.GetRecordCount() == 0, "tarn delete count");
    cursor.CloseCursor();
  }
  std::filesystem::remove_all(path);
  return t;
}

// ---------------------------------------------------------------- report

void PrintRow(const char* workload, const char* setting, TTimes tarn, TTimes sqlite) {
  std::printf("| %-34s | %-36s | %7.3f %7.3f | %7.3f %7.3f | %5.2f | %5.2f |\n", workload, setting, tarn.Write,
              sqlite.Write, tarn.Read, sqlite.Read, tarn.Write / sqlite.Write, tarn.Read / sqlite.Read);
  std::fflush(stdout);
}

void PrintCursorRows(const char* mode, const char* setting, const TCursorTimes& tarn, const TCursorTimes& sqlite,
                     double tarnBytes) {
  const struct {
    const char* Name;
    double T;
    double S;
  } rows[] = {{"insert", tarn.Insert, sqlite.Insert},
              {"scan, primary order", tarn.ScanPrimary, sqlite.ScanPrimary},
              {"scan, secondary order", tarn.ScanSecondary, sqlite.ScanSecondary},
              {"seek by key", tarn.Seek, sqlite.Seek},
              {"modify (two secondary keys)", tarn.Modify, sqlite.Modify},
              {"delete", tarn.Delete, sqlite.Delete}};
  char tarnSetting[64];
  std::snprintf(tarnSetting, sizeof tarnSetting, "%s (%.1f MB)", setting, tarnBytes / (1024.0 * 1024.0));
  for (const auto& r : rows) {
    std::printf("| %-14s | %-28s | %-26s | %7.3f %7.3f | %5.2f |\n", mode, r.Name, tarnSetting, r.T, r.S, r.T / r.S);
  }
  std::fflush(stdout);
}

// The least CPU time of each phase over `repeat` runs (other work on the
// machine only ever adds time).
TTimes Least(const TTimes& a, const TTimes& b) { return {std::min(a.Write, b.Write), std::min(a.Read, b.Read)}; }
TCursorTimes Least(const TCursorTimes& a, const TCursorTimes& b) {
  return {std::min(a.Insert, b.Insert),           std::min(a.ScanPrimary, b.ScanPrimary),
          std::min(a.ScanSecondary, b.ScanSecondary), std::min(a.Seek, b.Seek),
          std::min(a.Modify, b.Modify),           std::min(a.Delete, b.Delete)};
}
template <class TRun>
auto Best(int repeat, TRun&& run) {
  auto best = run();
  for (int i = 1; i < repeat; ++i) best = Least(best, run());
  return best;
}

double ScaleFrom(int argc, char** argv) {
  const char* text = argc > 1 ? argv[1] : std::getenv("VANTOR_BENCH_SCALE");
  if (text == nullptr) return 1.0;
  const double scale = std::atof(text);
  return scale > 0 ? scale : 1.0;
}

std::int32_t Scaled(double n, double scale) { return std::max<std::int32_t>(1, static_cast<std::int32_t>(n * scale)); }

}  // namespace

int main(int argc, char** argv) {
  try {
    const double scale = ScaleFrom(argc, argv);
    const std::string only = argc > 2 ? argv[2] : "";
    const int repeat = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;
    auto runs = [&](const char* workload) { return only.empty() || only == "all" || only == workload; };
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("tarn_vs_sqlite_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string d = dir.string();
    std::printf("scale %.3g, index and cursor best of %d; CPU seconds (Tarn, SQLite) and ratio Tarn/SQLite; "
                "SQLite cache 2 MB (its default)\n",
                scale, repeat);
    std::printf("| %-34s | %-36s | %-15s | %-15s | %-5s | %-5s |\n", "workload", "Tarn setting", "write T / S",
                "read T / S", "write", "read");
    std::printf("|%s|%s|%s|%s|%s|%s|\n", std::string(36, '-').c_str(), std::string(38, '-').c_str(),
                std::string(17, '-').c_str(), std::string(17, '-').c_str(), std::string(7, '-').c_str(),
                std::string(7, '-').c_str());

    if (runs("index")) {
      const std::int32_t n = Scaled(1'000'000, scale);
      std::mt19937_64 random(42);
      std::vector<std::uint64_t> keys(static_cast<std::size_t>(n));
      for (auto& k : keys) k = random();
      const std::string name = std::to_string(n) + " random 8-byte keys";
      const TTimes sqlite = Best(repeat, [&] { return SqliteIndex(d, keys); });
      // Each row names the session setting and the most memory the cached
      // pages held; "equal memory" gives the pages SQLite's 2 MB.
      auto row = [&](const char* setting, std::int32_t bytes, bool transaction) {
        double held = 0;
        const TTimes tarn = Best(repeat, [&] { return TarnIndex(d, keys, bytes, transaction, held); });
        const std::string label = std::string(setting) + " (" + Megabytes(held) + ")";
        PrintRow(name.c_str(), label.c_str(), tarn, sqlite);
      };
      row("default (2 pages)", 16384, false);
      row("2 MB", EqualCacheBytes, false);
      row("2 MB, in a transaction", EqualCacheBytes, true);
      row("equal memory: 4 MB", IndexEqualMemoryBytes, false);
    }
    if (runs("records")) {
      const std::int32_t n = Scaled(200'000, scale);
      const std::string name = std::to_string(n) + " records of 100 bytes";
      const TTimes sqlite = SqliteRecords(d, n, 100);
      PrintRow(name.c_str(), "default (163 records)", TarnRecords(d, n, 16384, 8192), sqlite);
      PrintRow(name.c_str(), "8,192 records", TarnRecords(d, n, 8192 * 100, 8192), sqlite);
      PrintRow(name.c_str(), "2 MB (20,971 records)",
               TarnRecords(d, n, EqualCacheBytes, EqualCacheBytes / 100), sqlite);
    }
    if (runs("blobs1k")) {
      const std::int32_t n = Scaled(100'000, scale);
      const std::string name = std::to_string(n) + " blobs of 1 KB";
      const TTimes sqlite = SqliteBlobs(d, n, 1024);
      PrintRow(name.c_str(), "default (64 blocks)", TarnBlobs(d, n, 1024, 32768), sqlite);
      PrintRow(name.c_str(), "2 MB", TarnBlobs(d, n, 1024, EqualCacheBytes), sqlite);
    }
    if (runs("blobs1m")) {
      const std::int32_t n = Scaled(1'000, scale);
      const std::string name = std::to_string(n) + " blobs of 1 MB";
      const TTimes sqlite = SqliteBlobs(d, n, 1 << 20);
      PrintRow(name.c_str(), "default (64 blocks)", TarnBlobs(d, n, 1 << 20, 32768), sqlite);
      PrintRow(name.c_str(), "2 MB", TarnBlobs(d, n, 1 << 20, EqualCacheBytes), sqlite);
    }
    if (runs("cursor")) {
      const std::int32_t n = Scaled(20'000, scale);
      TCursorWork work;
      work.InsertOrder.resize(static_cast<std::size_t>(n));
      std::iota(work.InsertOrder.begin(), work.InsertOrder.end(), 1);
      std::mt19937 random(11);
      std::shuffle(work.InsertOrder.begin(), work.InsertOrder.end(), random);
      work.SeekOrder = work.InsertOrder;
      std::shuffle(work.SeekOrder.begin(), work.SeekOrder.end(), random);
      std::printf("\n%d records (id, name, score; primary index and two secondary indexes), CPU seconds and ratio\n",
                  n);
      std::printf("| %-14s | %-28s | %-26s | %-15s | %-5s |\n", "mode", "operation", "Tarn setting (cache peak)",
                  "Tarn / SQLite", "ratio");
      std::printf("|%s|%s|%s|%s|%s|\n", std::string(16, '-').c_str(), std::string(30, '-').c_str(),
                  std::string(28, '-').c_str(), std::string(17, '-').c_str(), std::string(7, '-').c_str());
      for (const bool transaction : {false, true}) {
        const char* mode = transaction ? "transaction" : "autocommit";
        const TCursorTimes sqlite = Best(repeat, [&] { return SqliteCursor(d, work, transaction); });
        double bytes = 0;
        const TCursorTimes defaults =
            Best(repeat, [&] { return TarnCursor(d, work, transaction, TCursorCaches{}, bytes); });
        PrintCursorRows(mode, "default", defaults, sqlite, bytes);
        bytes = 0;
        const TCursorTimes equal =
            Best(repeat, [&] { return TarnCursor(d, work, transaction, CursorEqualCaches, bytes); });
        PrintCursorRows(mode, "2 MB", equal, sqlite, bytes);
        // The same without the sharing protocol: the engine's own cost.
        bytes = 0;
        const TCursorTimes exclusive =
            Best(repeat, [&] { return TarnCursor(d, work, transaction, Exclusively(CursorEqualCaches), bytes); });
        PrintCursorRows(mode, "2 MB, exclusive", exclusive, sqlite, bytes);
      }
    }
    std::filesystem::remove_all(dir);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_storage_vs_sqlite: %s\n", e.what());
    return 1;
  }
}
