#pragma once
// Shared pieces of the cursor tests: a quiz-like table with several indexes,
// a writer that appends and deletes records through the lower layers (data
// file slots, B+-tree keys of every index and "Sys Deleted", the record
// count), and a fixture with a session and one directory.
//
// Table "Quiz" (fields numbered from 1):
//   1 Name   string 12      2 Num  int32      3 Score int16     4 Tag string 8
// Indexes:
//   0 primary    Num                      unique
//   1 ByName     Name                     non-unique, case-insensitive
//   2 ByNameDesc Name                     non-unique, descending, FULL compression
//   3 ByScore    Score (descending), Num  unique, DUPBYTE compression
//   4 ByTag      Tag, Name                non-unique, TRAILBYTE compression

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/cursor/data_cursor.h"
#include "engine/index/tree_context.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/session/data_table.h"
#include "support/temp_dir.h"

namespace cursor_testing {

// Field values of one record.
struct TRow {
  std::string Name;
  std::int32_t Num = 0;
  std::int16_t Score = 0;
  std::string Tag;
};

// The table definition described above. languageId 0: byte order.
tarn::TTableDefinition QuizDefinition(std::uint16_t languageId = 0, bool withPrimary = true);

// The record image of row for a table of that definition (RecAutoInc left 0).
std::vector<std::uint8_t> RecordImage(const tarn::TDataTable& table, const TRow& row);

// Appends and deletes records of an open table the way record modification
// would: under the table's write lock, every index and "Sys Deleted" kept,
// the record count kept, and the buffers written (raising the change
// counters) at the end of each call.
class TTableWriter : public tarn::TTreeContext {
 public:
  explicit TTableWriter(tarn::TDataTable& table) : FTable(table) {}

  // Returns the record number used.
  std::int32_t Append(const TRow& row);
  // Appends all rows in one write bracket.
  std::vector<std::int32_t> AppendAll(const std::vector<TRow>& rows);
  // The same for record images of any table (the control bytes are the
  // writer's: RecAutoInc comes from the table).
  std::vector<std::int32_t> AppendImages(const std::vector<std::vector<std::uint8_t>>& images);
  void Delete(std::int32_t recordNo);

  int IndexSlot() const override { return FSlot; }
  tarn::TDescentPath& Path() override { return FPath; }
  bool TableChanged() override { return false; }

 private:
  std::int32_t AppendOne(std::span<const std::uint8_t> image);
  void AddKeys(std::int32_t recordNo, std::span<const std::uint8_t> image);
  void DeletedKey(std::span<const std::uint8_t> image, bool deleted, std::uint8_t* key) const;

  tarn::TDataTable& FTable;
  int FSlot = 0;
  tarn::TDescentPath FPath;
};

// A session with the directory "Quiz" opened on a fresh temporary folder.
class TCursorFixture : public ::testing::Test {
 protected:
  // Creates the table "Quiz" and gives it back written.
  void CreateQuiz(std::uint16_t languageId = 0, bool withPrimary = true);
  // Opens the table through the directory (shared with cursors of the
  // session), appends rows and gives it back.
  std::vector<std::int32_t> Fill(const std::vector<TRow>& rows);
  // A cursor on "Quiz", open.
  std::unique_ptr<tarn::TDataCursor> OpenQuiz(bool unordered = false);

  testing_support::TTempDir FTemp;
  tarn::TDataSession FSession;
  tarn::TDataDirectory& FDir = FSession.OpenDirectory("Quiz", FTemp.Path());
};

// Field values read back from a record image of the quiz table.
TRow ReadRow(const tarn::TDataCursor& cursor, std::span<const std::uint8_t> image);

}  // namespace cursor_testing
