// Tarn's SQL engine side by side with SQLite 3 on the same SQL workloads, in
// one run: the CPU seconds of each side and the ratio Tarn / SQLite (below 1
// means Tarn is faster).
//
// Workloads (sizes at scale 1):
//   insert plain     100,000 INSERTs into a table without index
//   insert pk        the same into a table with a primary key
//   insert 3 idx     the same into a table with a primary key and two
//                    secondary indexes
//   range select     1,000 indexed SELECTs with BETWEEN, ~100 rows each
//   order by         SELECT ... ORDER BY an unindexed column, 100,000 rows
//   group by         GROUP BY with SUM over 100,000 rows (100 groups)
//   join             INNER JOIN of 100,000 x 1,000 rows on an indexed key
//   update by key    10,000 UPDATEs by primary key
//   delete by key    10,000 DELETEs by primary key
// Every statement is prepared once and executed with parameters; every
// result is read to its end. Tarn keeps one cursor open on each table while
// the workloads run (as an application would), so statements share the open
// table.
//
// Durability, both sides: files in one temporary directory, no sync, no
// journal, the inserts in one transaction. SQLite: PRAGMA synchronous=OFF,
// journal_mode=OFF. Tarn: ForceBufferFlush off (its default); each UPDATE and
// DELETE runs in a transaction of its own, as the statement does outside one.
//
//   bench_sql_vs_sqlite [scale]     scale defaults to 1; 0.1 is a quick run
//   VANTOR_BENCH_SCALE=0.1 bench_sql_vs_sqlite

#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_sqlite.h"
#include "engine/cursor/data_cursor.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/field_types.h"
#include "sql/query_statement.h"
#include "sql/sql_table_definition.h"

namespace {

using namespace tarn;
using bench::CpuSeconds;
using bench::TSqlite;

double Time(const std::function<void()>& work) {
  const double t0 = CpuSeconds();
  work();
  return CpuSeconds() - t0;
}

// ---------------------------------------------------------------- SQLite side

// ---------------------------------------------------------------- Tarn side

class TTarn {
 public:
  explicit TTarn(const std::string& dir) : FDirectory(FSession.OpenDirectory("Bench", dir)) {}

  void Exec(const std::string& sql) {
    TQueryStatement statement(FDirectory);
    statement.Prepare(sql);
    statement.Execute();
  }
  // A table from CREATE TABLE text with secondary indexes on the columns
  // given (one index per column).
  void CreateTable(const std::string& sql, const std::vector<std::string>& indexed) {
    TQueryStatement statement(FDirectory);
    statement.Prepare(sql);
    TSqlTableDefinition definition = BuildCreateDefinition(statement.Master());
    for (const std::string& column : indexed) {
      TCreateIndex index;
      index.Name = "By" + column;
      index.Columns = {column};
      definition.Definition.Secondary.push_back(
          MakeIndexDescriptor(index, definition.Definition.Fields, index.Name));
    }
    const std::string name = statement.Master().Sources.at(0).Name;
    TDataTable& table = FDirectory.CreateTable(name, false, false, definition.Definition);
    FDirectory.ReleaseTable(table, false);
  }
  // Keeps a cursor open on the table so that statements share it.
  void Hold(const std::string& table) {
    auto& cursor = FHeld.emplace_back(std::make_unique<TDataCursor>(FDirectory));
    cursor->SetTableName(table);
    cursor->OpenCursor();
  }
  std::unique_ptr<TQueryStatement> Prepare(const std::string& sql) {
    auto statement = std::make_unique<TQueryStatement>(FDirectory);
    statement->Prepare(sql);
    return statement;
  }
  // Binds integers, executes, reads a result to its end; returns its rows.
  static std::int64_t Run(TQueryStatement& statement, std::initializer_list<std::int64_t> values) {
    std::vector<TExpValue> params;
    for (std::int64_t v : values) params.emplace_back().SetInt(FieldType::Int32, v);
    statement.SetParameterValues(std::move(params));
    statement.Execute();
    TDataCursor* result = statement.Result();
    if (result == nullptr) return statement.RowsAffected();
    std::int64_t rows = 0;
    std::vector<std::uint8_t> record(result->RecordSize());
    result->SetToBegin();
    while (result->GetNextRecord(record) == 0) ++rows;
    return rows;
  }

 private:
  TDataSession FSession;
  TDataDirectory& FDirectory;
  std::vector<std::unique_ptr<TDataCursor>> FHeld;
};

void PrintRow(const std::string& name, double tarn, double sqlite, const std::string& note = {}) {
  std::printf("| %-44s | %8.3f | %8.3f | %7.2f | %s\n", name.c_str(), tarn, sqlite,
              sqlite > 0 ? tarn / sqlite : 0.0, note.c_str());
  std::fflush(stdout);
}

std::int32_t Scaled(double n, double scale) {
  return std::max<std::int32_t>(1, static_cast<std::int32_t>(n * scale));
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const char* text = argc > 1 ? argv[1] : std::getenv("VANTOR_BENCH_SCALE");
    const double scale = text != nullptr && std::atof(text) > 0 ? std::atof(text) : 1.0;
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("tarn_sql_vs_sqlite_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "tarn");
    TTarn tarn((dir / "tarn").string());
    TSqlite lite((dir / "lite.db").string());
    const std::int32_t n = Scaled(100'000, scale);
    const std::int32_t small = Scaled(1'000, scale);
    const std::int32_t selects = Scaled(1'000, scale);
    const std::int32_t changes = Scaled(10'000, scale);
    std::printf(
        "scale %.3g; CPU seconds; no sync and no journal on either side; inserts in one "
        "transaction\n",
        scale);
    std::printf("| %-44s | %8s | %8s | %7s |\n", "workload", "Tarn", "SQLite", "T/S");

    std::mt19937 random(7);
    std::vector<std::int32_t> ks(static_cast<std::size_t>(n));
    for (auto& k : ks) k = static_cast<std::int32_t>(random() % static_cast<unsigned>(n));

    // Inserts.
    struct Insert {
      const char* Name;
      const char* Table;
      const char* TarnCreate;
      std::vector<std::string> Indexed;
      const char* LiteCreate;
    };
    const Insert inserts[] = {
        {"plain",
         "P",
         "CREATE TABLE P (id INTEGER, k INTEGER, v INTEGER, g INTEGER)",
         {},
         "CREATE TABLE P (id INTEGER, k INTEGER, v INTEGER, g INTEGER)"},
        {"pk",
         "K",
         "CREATE TABLE K (id INTEGER, k INTEGER, v INTEGER, g INTEGER, PRIMARY KEY (id))",
         {},
         "CREATE TABLE K (id INTEGER PRIMARY KEY, k INTEGER, v INTEGER, g INTEGER)"},
        {"3 idx",
         "I",
         "CREATE TABLE I (id INTEGER, k INTEGER, v INTEGER, g INTEGER, PRIMARY KEY (id))",
         {"k", "g"},
         "CREATE TABLE I (id INTEGER PRIMARY KEY, k INTEGER, v INTEGER, g INTEGER)"},
    };
    for (const Insert& ins : inserts) {
      tarn.CreateTable(ins.TarnCreate, ins.Indexed);
      tarn.Hold(ins.Table);
      lite.Exec(ins.LiteCreate);
      for (const std::string& c : ins.Indexed)
        lite.Exec(std::string("CREATE INDEX ") + ins.Table + c + " ON " + ins.Table + " (" + c +
                  ")");
      const std::string sql = std::string("INSERT INTO ") + ins.Table + " VALUES (?, ?, ?, ?)";
      auto statement = tarn.Prepare(sql);
      const double t = Time([&] {
        tarn.Exec("START TRANSACTION");
        for (std::int32_t i = 0; i < n; ++i)
          TTarn::Run(*statement, {i, ks[static_cast<std::size_t>(i)], i % 1000,
                                  ks[static_cast<std::size_t>(i)] % small});
        tarn.Exec("COMMIT");
      });
      sqlite3_stmt* stmt = lite.Prepare(sql);
      const double s = Time([&] {
        lite.Exec("BEGIN");
        for (std::int32_t i = 0; i < n; ++i)
          lite.Run(stmt, {i, ks[static_cast<std::size_t>(i)], i % 1000,
                          ks[static_cast<std::size_t>(i)] % small});
        lite.Exec("COMMIT");
      });
      sqlite3_finalize(stmt);
      PrintRow(std::to_string(n) + " INSERTs, " + ins.Name, t, s);
    }

    // Indexed range selects on I.k.
    {
      const std::string sql = "SELECT id, v FROM I WHERE k BETWEEN ? AND ?";
      auto statement = tarn.Prepare(sql);
      sqlite3_stmt* stmt = lite.Prepare(sql);
      std::int64_t rowsT = 0, rowsS = 0;
      const double t = Time([&] {
        for (std::int32_t i = 0; i < selects; ++i) {
          const std::int32_t lo = (i * 7919) % std::max(1, n - 100);
          rowsT += TTarn::Run(*statement, {lo, lo + 99});
        }
      });
      const double s = Time([&] {
        for (std::int32_t i = 0; i < selects; ++i) {
          const std::int32_t lo = (i * 7919) % std::max(1, n - 100);
          rowsS += lite.Run(stmt, {lo, lo + 99});
        }
      });
      sqlite3_finalize(stmt);
      PrintRow(std::to_string(selects) + " range SELECTs (BETWEEN, indexed)", t, s,
               "rows " + std::to_string(rowsT) + " / " + std::to_string(rowsS));
    }
    // ORDER BY an unindexed column, GROUP BY with SUM.
    for (const char* sql :
         {"SELECT id, v FROM K ORDER BY v", "SELECT g, SUM(v) FROM K GROUP BY g"}) {
      auto statement = tarn.Prepare(sql);
      sqlite3_stmt* stmt = lite.Prepare(sql);
      std::int64_t rowsT = 0, rowsS = 0;
      const double t = Time([&] { rowsT = TTarn::Run(*statement, {}); });
      const double s = Time([&] { rowsS = lite.Run(stmt, {}); });
      sqlite3_finalize(stmt);
      PrintRow(sql, t, s, "rows " + std::to_string(rowsT) + " / " + std::to_string(rowsS));
    }
    // Join of I (100,000, index on g) with S (1,000, primary key).
    {
      tarn.CreateTable("CREATE TABLE S (id INTEGER, name VARCHAR(20), PRIMARY KEY (id))", {});
      tarn.Hold("S");
      lite.Exec("CREATE TABLE S (id INTEGER PRIMARY KEY, name VARCHAR(20))");
      auto insert = tarn.Prepare("INSERT INTO S VALUES (?, 'name')");
      sqlite3_stmt* stmt = lite.Prepare("INSERT INTO S VALUES (?, 'name')");
      lite.Exec("BEGIN");
      for (std::int32_t i = 0; i < small; ++i) {
        TTarn::Run(*insert, {i});
        lite.Run(stmt, {i});
      }
      lite.Exec("COMMIT");
      sqlite3_finalize(stmt);
      const std::string sql = "SELECT I.id, S.name FROM I INNER JOIN S ON I.g = S.id";
      auto statement = tarn.Prepare(sql);
      stmt = lite.Prepare(sql);
      std::int64_t rowsT = 0, rowsS = 0;
      const double t = Time([&] { rowsT = TTarn::Run(*statement, {}); });
      const double s = Time([&] { rowsS = lite.Run(stmt, {}); });
      sqlite3_finalize(stmt);
      PrintRow(
          "INNER JOIN " + std::to_string(n) + " x " + std::to_string(small) + " on an indexed key",
          t, s, "rows " + std::to_string(rowsT) + " / " + std::to_string(rowsS));
    }
    // Updates and deletes by key.
    for (const char* sql : {"UPDATE K SET v = v + 1 WHERE id = ?", "DELETE FROM K WHERE id = ?"}) {
      auto statement = tarn.Prepare(sql);
      sqlite3_stmt* stmt = lite.Prepare(sql);
      const double t = Time([&] {
        for (std::int32_t i = 0; i < changes; ++i) TTarn::Run(*statement, {(i * 7) % n});
      });
      const double s = Time([&] {
        for (std::int32_t i = 0; i < changes; ++i) lite.Run(stmt, {(i * 7) % n});
      });
      sqlite3_finalize(stmt);
      PrintRow(std::to_string(changes) + (sql[0] == 'U' ? " UPDATEs by key" : " DELETEs by key"), t,
               s);
    }
    std::filesystem::remove_all(dir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "failed: %s\n", e.what());
    return 1;
  }
  return 0;
}
