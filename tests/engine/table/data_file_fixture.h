#pragma once
// A fresh directory, a fake shared table and helpers to create, fill, patch
// and reopen data files.

#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/table/data_file.h"
#include "support/temp_dir.h"
#include "tests/engine/table/fake_data_file_owner.h"

namespace tarn::testing {

using TBytes = std::vector<std::uint8_t>;

// Runs f and returns the engine code it raised (0 when it raised none).
inline TErrorCode CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ETarnEngineError& e) {
    return e.ErrorCode();
  }
  return 0;
}

class TDataFileFixture : public ::testing::Test {
 protected:
  std::string Path() const { return dir.File("people.DAT"); }

  // Name (string 20), Age (int32), Id (auto-increment).
  static std::vector<TFieldDesc> PeopleFields() {
    std::vector<TFieldDesc> defs = {
        MakeFieldDesc(1, "Name", FieldType::String, 0, 20),
        MakeFieldDesc(2, "Age", FieldType::Int32),
        MakeFieldDesc(3, "Id", FieldType::Int32, FieldSubType::AutoInc),
    };
    AssignFieldOffsets(defs);
    return defs;
  }

  std::unique_ptr<TDataFile> NewHandler() {
    auto file = std::make_unique<TDataFile>(owner);
    file->SetFileName(Path());
    return file;
  }

  // NewHandler with the file opened.
  std::unique_ptr<TDataFile> OpenHandler() {
    auto file = NewHandler();
    file->OpenFile();
    return file;
  }

  // Creates the table, lets fill add records, writes everything and closes.
  void CreateTable(const std::vector<TFieldDesc>& defs, bool encrypted = false,
                   const std::function<void(TDataFile&)>& fill = {}, std::string_view password = "Secret",
                   std::string_view description = "Staff list") {
    auto file = NewHandler();
    file->CreateDataFile(0, 0, defs, 0, description, password, encrypted, 1, 2);
    if (fill) fill(*file);
    WriteAll(*file);
    file->CloseFile();
  }

  static void WriteAll(TDataFile& file) {
    file.FlushRecords();
    file.WriteDataHeader(false);
    file.WriteFieldDefs();
  }

  // Appends a record with a name and an age.
  static void AddPerson(TDataFile& file, const std::string& name, std::int32_t age) {
    TRecordPin rec = file.AllocateRecord(nullptr);
    ASSERT_TRUE(rec);
    rec->Clear(true);
    rec->SetDeleted(false);
    rec->SetField(*file.GetFieldDef(1), std::span<const std::uint8_t>(
                                             reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
    TBytes age4(4);
    PutLEI32(age4, 0, age);
    rec->SetField(*file.GetFieldDef(2), std::span<const std::uint8_t>(age4));
  }

  static std::string NameOf(const TRecord& rec, const TDataFile& file) {
    const TFieldRead r = rec.GetField(*file.GetFieldDef(1));
    if (r.Blank) return {};
    std::string s(r.Bytes.begin(), r.Bytes.end());
    return s.substr(0, s.find('\0'));
  }
  static std::int32_t AgeOf(const TRecord& rec, const TDataFile& file) {
    return GetLEI32(rec.GetField(*file.GetFieldDef(2)).Bytes, 0);
  }

  TBytes ReadRaw() const {
    std::ifstream in(Path(), std::ios::binary);
    return TBytes(std::istreambuf_iterator<char>(in), {});
  }
  void WriteRaw(const TBytes& bytes) const {
    std::ofstream out(Path(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  void Patch(const std::function<void(TBytes&)>& change) const {
    TBytes raw = ReadRaw();
    change(raw);
    WriteRaw(raw);
  }

  testing_support::TTempDir dir;
  TFakeDataFileOwner owner;
};

}  // namespace tarn::testing
