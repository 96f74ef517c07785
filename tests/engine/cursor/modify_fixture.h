#pragma once
// Shared pieces of the record-modification tests: a table with every kind of
// index the modifications keep (primary, unique and non-unique secondaries,
// "Sys Deleted", "Sys Text" over a string and a memo) and a checker that
// compares the whole table with an in-memory model.
//
// Table "Notes" (fields numbered from 1):
//   1 Id int32      2 Title string 16     3 Count int32 (may be NULL)
//   4 Body memo blob
// Indexes: 0 primary Id (unique); 1 ByTitle Title (unique; NULL titles are
// all the same key, so at most one); 2 ByCount Count (non-unique).
// "Sys Text" over Title and Body.

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/cursor/data_cursor.h"
#include "engine/session/data_table.h"

namespace modify_testing {

struct TNote {
  std::int32_t Id = 0;
  std::optional<std::string> Title{};
  std::optional<std::int32_t> Count{};
  std::string Body{};  // empty: no blob
};

tarn::TTableDefinition NotesDefinition(bool withPrimary = true);

// Fills buffer (RecordSize bytes) with the note's plain fields through the
// cursor; the body goes through a blob buffer opened for writing.
void PutNote(tarn::TDataCursor& cursor, std::span<std::uint8_t> buffer, const TNote& note);

// The note of a record image: plain fields from the image, the body read
// from the blob file through the cursor.
TNote ReadNote(tarn::TDataCursor& cursor, std::span<const std::uint8_t> image);

// The model: record number -> note and its RecAutoInc.
struct TModelRecord {
  TNote Note;
  std::int32_t AutoInc = 0;
};
using TModel = std::map<std::int32_t, TModelRecord>;

// Checks the table of cursor against model: every record slot (live ones
// equal to the model, the others on the free list), every index through the
// tree's own check and against the keys the model's records give ("Sys
// Deleted" and "Sys Text" included), the record count, and every blob chain.
// Adds a gtest failure for each difference.
void CheckTable(tarn::TDataCursor& cursor, const TModel& model);

}  // namespace modify_testing
