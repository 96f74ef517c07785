#pragma once
// What the side-by-side programs (storage_vs_sqlite, sql_vs_sqlite) share:
// the process CPU clock and a small SQLite 3 connection with no sync and no
// journal. Included by those two programs only: SQLite is never linked into
// Tarn.

#include <sqlite3.h>
#include <time.h>

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>

namespace bench {

// CPU seconds of this process (user and system).
inline double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// One SQLite database file, PRAGMA synchronous=OFF and journal_mode=OFF.
// Failures raise std::runtime_error naming the statement.
class TSqlite {
 public:
  explicit TSqlite(const std::string& path) {
    if (sqlite3_open(path.c_str(), &FDb) != SQLITE_OK) throw std::runtime_error("sqlite3_open");
    Exec("PRAGMA synchronous=OFF");
    Exec("PRAGMA journal_mode=OFF");
  }
  ~TSqlite() { sqlite3_close(FDb); }
  TSqlite(const TSqlite&) = delete;
  TSqlite& operator=(const TSqlite&) = delete;

  void Exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(FDb, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      std::string text = message != nullptr ? message : "?";
      sqlite3_free(message);
      throw std::runtime_error(sql + ": " + text);
    }
  }
  // The caller finalizes the statement.
  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(FDb, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
      throw std::runtime_error(sql + ": " + sqlite3_errmsg(FDb));
    return stmt;
  }
  // Binds integers, steps to the end reading every column; returns the rows
  // seen. The statement is reset for its next run.
  std::int64_t Run(sqlite3_stmt* stmt, std::initializer_list<std::int64_t> values) {
    int i = 1;
    for (std::int64_t v : values) sqlite3_bind_int64(stmt, i++, v);
    std::int64_t rows = 0;
    int rc = 0;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      for (int c = 0; c < sqlite3_column_count(stmt); ++c) (void)sqlite3_column_int64(stmt, c);
      ++rows;
    }
    if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(FDb));
    sqlite3_reset(stmt);
    return rows;
  }

 private:
  sqlite3* FDb = nullptr;
};

}  // namespace bench
