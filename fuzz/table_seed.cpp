#include "table_seed.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/base/date_time.h"
#include "engine/blob/blob_buffer.h"
#include "engine/index/btree.h"
#include "engine/index/index_page.h"
#include "engine/index/keys.h"
#include "engine/index/text_words.h"
#include "engine/index/tree_context.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/session/data_table.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"

namespace fuzzing {

namespace {

using namespace tarn;

struct TSeedRow {
  std::string Name;  // empty: null
  std::int32_t Num = 0;
  std::int32_t Year = 0;  // 0: Born is null
  std::string Notes;      // empty: no blob
  std::string Pic;
};

TIndexDescriptor MakeIndex(const std::string& name, std::int16_t field,
                           const std::vector<TFieldDesc>& defs, bool unique) {
  TIndexDescriptor d;
  d.IndexName = name;
  d.Unique = unique;
  const TFieldDesc& def = defs[static_cast<std::size_t>(field - 1)];
  d.FieldNumbers[d.FieldCount++] = field;
  d.KeySize = static_cast<std::int16_t>((unique ? 0 : KeyLimits::AutoIncSize) +
                                        KeyFieldSize(def.FieldType(), def.FieldSize()) + 1);
  return d;
}

TTableDefinition SeedDefinition() {
  TTableDefinition def;
  def.Fields.push_back(MakeFieldDesc(1, "Name", FieldType::String, 0, 16));
  def.Fields.push_back(MakeFieldDesc(2, "Num", FieldType::Int32));
  def.Fields.push_back(MakeFieldDesc(3, "Born", FieldType::Date));
  def.Fields.push_back(MakeFieldDesc(4, "Notes", FieldType::Blob, FieldSubType::Memo));
  def.Fields.push_back(MakeFieldDesc(5, "Pic", FieldType::Blob, FieldSubType::Graphic));
  AssignFieldOffsets(def.Fields);
  def.Primary = MakeIndex("", 2, def.Fields, true);
  TIndexDescriptor byName = MakeIndex("ByName", 1, def.Fields, false);
  byName.CaseInsensitive = true;
  def.Secondary = {byName};
  TIndexDescriptor text;
  text.FieldCount = 2;
  text.FieldNumbers[0] = 1;
  text.FieldNumbers[1] = 4;
  def.TextIndex = text;
  def.BlobBlockSize = 64;
  def.Description = "seed table";
  return def;
}

std::span<const std::uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Appends and deletes records with every index, "Sys Text" and the blobs kept.
class TSeedWriter : public TTreeContext {
 public:
  explicit TSeedWriter(TDataTable& table)
      : FTable(table), FWords(TTextIndexParams::Defaults(), 0, 0) {}

  int IndexSlot() const override { return FSlot; }
  TDescentPath& Path() override { return FPath; }
  bool TableChanged() override { return false; }

  std::int32_t Append(const TSeedRow& row) {
    TDataFile& data = FTable.DataFile();
    const std::span<const TFieldDesc> defs = data.FieldDefs();
    TRecordPin pin = data.AllocateRecord(nullptr);
    const std::int32_t recordNo = pin->RecordNo();
    pin->Clear(true);
    const std::span<std::uint8_t> image = pin->MutableData();
    std::array<std::uint8_t, 4> num{};
    PutLE32(num, 0, static_cast<std::uint32_t>(row.Num));
    SetFieldValue(image, defs[0], row.Name.empty() ? std::nullopt : std::optional(Bytes(row.Name)));
    SetFieldValue(image, defs[1], std::span<const std::uint8_t>(num));
    if (row.Year != 0) {
      std::array<std::uint8_t, 4> day{};
      PutLE32(day, 0, static_cast<std::uint32_t>(*EncodeDate(row.Year, 3, 14)));
      SetFieldValue(image, defs[2], std::span<const std::uint8_t>(day));
    }
    StoreBlob(image, defs[3], recordNo, row.Notes);
    StoreBlob(image, defs[4], recordNo, row.Pic);
    pin->MarkModified();
    AddKeys(recordNo, image, row);
    FTable.IndexFile().IncRecordCount();
    return recordNo;
  }

  // Deletes a record that has no name and no blobs (so no "Sys Text" keys).
  void Delete(std::int32_t recordNo) {
    TDataFile& data = FTable.DataFile();
    TIndexFile& index = FTable.IndexFile();
    TBTree tree(index);
    TRecordPin pin = data.GetRecord(nullptr, recordNo);
    std::array<std::uint8_t, KeyLimits::MaxKeySize> key{};
    for (const int slot : Slots()) {
      FSlot = slot;
      const TKeyDef& def = index.KeyDef(slot);
      BuildKey(def, pin->Data(), std::span<std::uint8_t>(key).first(def.KeySize));
      tree.RemoveKey(*this, key.data());
    }
    data.FreeRecord(*pin);
    pin->MarkModified();
    FSlot = SysDeletedSlot;
    const TKeyDef& deleted = index.KeyDef(SysDeletedSlot);
    BuildKey(deleted, pin->Data(), std::span<std::uint8_t>(key).first(deleted.KeySize));
    tree.AddKey(*this, key.data(), recordNo);
    index.DecRecordCount();
  }

 private:
  // The primary index, the secondary ones and "Sys Deleted".
  std::vector<int> Slots() {
    std::vector<int> slots;
    TIndexFile& index = FTable.IndexFile();
    for (int slot = index.NoPrimaryIndex() ? 1 : 0; slot <= index.IndexCount(); ++slot)
      slots.push_back(slot);
    slots.push_back(SysDeletedSlot);
    return slots;
  }

  void StoreBlob(std::span<std::uint8_t> image, const TFieldDesc& desc, std::int32_t recordNo,
                 const std::string& content) {
    if (content.empty()) return;
    TBlobBuffer buffer(FTable.BlobFile(), nullptr, desc.FieldNo(), 0, 0, recordNo);
    buffer.Write(0, Bytes(content));
    buffer.SetBlobStamp(FTable.DataFile().NextBlobStamp());
    buffer.SaveBlob();
    std::array<std::uint8_t, 4> first{};
    PutLE32(first, 0, static_cast<std::uint32_t>(buffer.FirstBlock()));
    SetFieldValue(image, desc, std::span<const std::uint8_t>(first));
    SetBlobStamp(image, desc, buffer.BlobStamp());
  }

  void AddKeys(std::int32_t recordNo, std::span<const std::uint8_t> image, const TSeedRow& row) {
    TIndexFile& index = FTable.IndexFile();
    TBTree tree(index);
    std::array<std::uint8_t, KeyLimits::MaxKeySize> key{};
    for (const int slot : Slots()) {
      FSlot = slot;
      const TKeyDef& def = index.KeyDef(slot);
      BuildKey(def, image, std::span<std::uint8_t>(key).first(def.KeySize));
      tree.AddKey(*this, key.data(), recordNo);
    }
    const auto autoInc = static_cast<std::int32_t>(GetLE32(image, RecordLayout::RecAutoInc));
    FSlot = SysTextSlot;
    std::vector<TTextKey> keys;
    for (const auto& [fieldNo, text] :
         {std::pair<std::uint16_t, const std::string&>{1, row.Name}, {4, row.Notes}}) {
      FWords.BuildKeys(fieldNo, text.data(), text.size(), autoInc, keys);
      for (const TTextKey& k : keys) tree.AddKey(*this, k.data(), recordNo);
    }
  }

  TDataTable& FTable;
  TTextKeyBuilder FWords;
  int FSlot = 0;
  TDescentPath FPath;
};

}  // namespace

void MakeSeedTable(const std::string& dir) {
  TDataSession session;
  TDataDirectory& directory = session.OpenDirectory("Seed", dir);
  TDataTable& table = directory.CreateTable(SeedTableName, false, false, SeedDefinition());
  TSeedWriter writer(table);
  const std::vector<TSeedRow> rows = {
      {"Ada", 3, 1815, "Notes on the analytical engine", std::string(150, '\x89')},
      {"", 99, 0, "", ""},
      {"Grace", 1, 1906, std::string("compiler ") + std::string(120, 'z') + " cobol", ""},
      {"Alan", 2, 1912, "", "PNG"},
      {"ada", 4, 2001, "lower case twin", ""},
  };
  std::vector<std::int32_t> numbers;
  for (const TSeedRow& row : rows) numbers.push_back(writer.Append(row));
  writer.Delete(numbers[1]);
  directory.ReleaseTable(table, false);
}

}  // namespace fuzzing
