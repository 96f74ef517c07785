#pragma once
// A real table (data file and index file in a temporary directory) with the
// filter side of a cursor over it: records are written through the data file,
// their keys added to every index with the B+-tree, and TFilterCursor reads
// records and index ranges from those files.
//
// Table "Items" (no primary index):
//   1 Name   string(12)      indexes "ByName" (slot 1) and "ByNameCI"
//                            (slot 2, case-insensitive)
//   2 Amount 32-bit integer  index "ByAmount" (slot 3)
//   3 Born   date            index "ByBorn" (slot 4)
//   4 Ratio  float           no index
//   5 Code   16-bit integer  no index
//   6 Title  string(60)      the full-text index "Sys Text" (slot 32)
//
// With descending keys the same slots sort the other way round, in both of
// the ways an index can descend:
//   "ByName"   Descending index
//   "ByNameCI" ascending index, Name a descending key field
//   "ByAmount" Descending index
//   "ByBorn"   ascending index, Born a descending key field
//   "ByCode"   (slot 5, Code) Descending index, Code a descending key field

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/index/text_words.h"
#include "engine/index/tree_context.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/session/data_table.h"
#include "engine/table/record_pin.h"
#include "expr/filter_cursor.h"
#include "support/temp_dir.h"

namespace exptest {

// One record's values; nothing = NULL.
struct TItem {
  std::optional<std::string> Name{};
  std::optional<std::int32_t> Amount{};
  std::optional<std::int32_t> Born{};  // day number
  std::optional<double> Ratio{};
  std::optional<std::int16_t> Code{};
  std::optional<std::string> Title{};
};

class TFilterTable : public tarn::TFilterCursor, public tarn::TExpRecordSource {
 public:
  // languageId 0: no language; indexes keep subtree counts unless noCounts;
  // descendingKeys gives the descending indexes above.
  explicit TFilterTable(std::int16_t languageId = 0, bool noCounts = false, bool descendingKeys = false);
  ~TFilterTable() override;

  // Appends a record with its keys; returns its record number.
  std::uint32_t Insert(const TItem& item);
  // Replaces record recordNo's values and keys.
  void Update(std::uint32_t recordNo, const TItem& item);
  // Removes the keys and marks the record deleted.
  void Delete(std::uint32_t recordNo);
  // Makes record recordNo current (for maintenance calls).
  void Select(std::uint32_t recordNo) { (void)ReadFilterRecord(recordNo); }

  // Counters of the reads filters made.
  std::int64_t RecordReads() const { return FRecordReads; }
  std::int64_t KeysCollected() const { return FKeysCollected; }
  void ResetCounters() { FRecordReads = FKeysCollected = 0; }
  tarn::TDataTable& Table() { return *FTable; }

  // TFilterCursor
  std::string_view FilterTableName() const override { return "Items"; }
  tarn::TExpRecordSource& FilterRecordSource() override { return *this; }
  std::uint32_t HighestRecordNo() override;
  std::uint32_t FilterRecordSize() const override;
  tarn::TFilterRead ReadFilterRecord(std::uint32_t recordNo) override;
  int FindFilterIndex(std::uint16_t fieldNo, bool caseInsensitive, bool matchCase) override;
  const tarn::TKeyDef& FilterKeyDef(int slot) override;
  bool IndexHasCounts(int slot) override;
  std::int64_t CountKeyRange(int slot, const std::uint8_t* low, const std::uint8_t* high) override;
  bool CollectKeyRange(int slot, const std::uint8_t* low, const std::uint8_t* high,
                       tarn::TRecordsBitmap& bitmap) override;
  std::int64_t FilterRecordCount() override;
  bool TextIndexCovers(std::uint16_t fieldNo) override { return fieldNo == 6; }

  // TExpRecordSource
  std::optional<tarn::TExpColumn> FindColumn(std::string_view name) const override;
  std::uint16_t LanguageId() const override { return static_cast<std::uint16_t>(FLanguageId); }
  std::uint16_t SortId() const override { return 0; }
  tarn::TFieldRead ReadField(std::uint16_t fieldNo) override;
  bool ReadBlob(std::uint16_t, std::string& content) override {
    content.clear();
    return false;
  }
  std::optional<std::int32_t> LastAutoInc(std::string_view) override { return std::nullopt; }

 private:
  class TContext : public tarn::TTreeContext {
   public:
    int Slot = 0;
    tarn::TDescentPath PathData;
    int IndexSlot() const override { return Slot; }
    tarn::TDescentPath& Path() override { return PathData; }
    bool TableChanged() override { return false; }
  };

  void WriteValues(std::span<std::uint8_t> record, const TItem& item);
  void AddKeys(std::span<const std::uint8_t> record, std::uint32_t recordNo);
  void RemoveKeys(std::span<const std::uint8_t> record);
  // The "Sys Text" keys of a record's Title.
  std::vector<tarn::TTextKey> TextKeys(std::span<const std::uint8_t> record);

  testing_support::TTempDir FTemp;
  tarn::TDataSession FSession;
  tarn::TDataTable* FTable = nullptr;
  std::int16_t FLanguageId;
  TContext FContext;
  tarn::TRecordPin FCurrent;
  std::int64_t FRecordReads = 0;
  std::int64_t FKeysCollected = 0;
};

}  // namespace exptest
