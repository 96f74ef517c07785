#pragma once
// Shared pieces of the restructure tests: a session with a table directory
// and a private (work) directory of its own, file images to show that a
// table is unchanged, and a table-wide index check that works for any
// structure.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/cursor/data_cursor.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "support/temp_dir.h"

namespace restructure_testing {

// The bytes of a table's three files (empty when a file is missing).
struct TFileImage {
  std::vector<char> Data;
  std::vector<char> Index;
  std::vector<char> Blob;
  bool operator==(const TFileImage&) const = default;
};

std::vector<char> FileBytes(const std::string& path);
// Offset of the first record in a data file image.
std::int64_t RecordsStart(const TFileImage& image);

tarn::TErrorCode CodeOf(const std::function<void()>& f);
tarn::TIndexDescriptor Over(std::string name, std::initializer_list<std::int16_t> fields, bool unique);
std::vector<std::uint8_t> I32Bytes(std::int32_t v);
std::vector<std::uint8_t> TextBytes(const std::string& s);
// The whole content of blob field fieldNo of a record image.
std::string BlobText(tarn::TDataCursor& cursor, int fieldNo, std::span<const std::uint8_t> image);
// Positions the cursor (on its int32 primary index over field 1) on id.
bool SeekId(tarn::TDataCursor& cursor, std::int32_t id);

// Checks every index of the cursor's table, whatever its fields: each tree
// passes its own check and holds exactly the keys the live records give
// (every secondary index, "Sys Deleted", and "Sys Text" built with the
// stored parameters from its string and memo fields); the record count
// matches. Adds gtest failures.
void CheckIndexes(tarn::TDataCursor& cursor);

class TRestructureFixture : public ::testing::Test {
 protected:
  TRestructureFixture() { FSession.SetPrivateDirectory(FWork.Path()); }
  std::unique_ptr<tarn::TDataCursor> Cursor(std::string_view name = "Notes", bool exclusive = true);
  std::unique_ptr<tarn::TDataCursor> Open(std::string_view name = "Notes", bool exclusive = true);
  bool Exists(const std::string& file) const;
  TFileImage TableImage(const std::string& table) const;
  // Writes the three files back as image holds them (no blob file when it
  // is empty).
  void PutTableImage(const std::string& table, const TFileImage& image) const;
  bool WorkDirEmpty() const;
  // The files of the table directory other than table's three files.
  std::vector<std::string> OtherFiles(const std::string& table) const;

  testing_support::TTempDir FTemp;
  testing_support::TTempDir FWork;
  tarn::TDataSession FSession;
  tarn::TDataDirectory& FDir = FSession.OpenDirectory("Tables", FTemp.Path());
};

}  // namespace restructure_testing
