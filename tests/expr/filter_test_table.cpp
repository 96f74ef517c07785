#include "expr/filter_test_table.h"

#include <array>
#include <cstring>

#include "engine/base/byte_order.h"
#include "engine/base/names.h"
#include "engine/index/btree.h"
#include "engine/index/keys.h"
#include "engine/table/field_desc.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"
#include "expr/index_range.h"

namespace exptest {

using namespace tarn;

namespace {

TIndexDescriptor Secondary(const char* name, std::int16_t fieldNo, std::uint8_t type, std::uint16_t size,
                           bool caseInsensitive, bool noCounts) {
  TIndexDescriptor d;
  d.IndexName = name;
  d.FieldCount = 1;
  d.FieldNumbers[0] = fieldNo;
  d.CaseInsensitive = caseInsensitive;
  d.NoCounts = noCounts;
  d.KeySize = static_cast<std::int16_t>(KeyFieldSize(type, size) + 1 + KeyLimits::AutoIncSize);
  return d;
}

// Makes d descend: the whole index, or its first key field.
TIndexDescriptor Descending(TIndexDescriptor d, bool wholeIndex, bool firstField) {
  d.Descending = wholeIndex;
  d.FieldDescending[0] = firstField ? 1 : 0;
  return d;
}

}  // namespace

TFilterTable::TFilterTable(std::int16_t languageId, bool noCounts, bool descendingKeys) : FLanguageId(languageId) {
  TTableDefinition def;
  def.LanguageId = languageId;
  def.Fields.push_back(MakeFieldDesc(1, "Name", FieldType::String, 0, 12));
  def.Fields.push_back(MakeFieldDesc(2, "Amount", FieldType::Int32));
  def.Fields.push_back(MakeFieldDesc(3, "Born", FieldType::Date));
  def.Fields.push_back(MakeFieldDesc(4, "Ratio", FieldType::Float));
  def.Fields.push_back(MakeFieldDesc(5, "Code", FieldType::Int16));
  def.Fields.push_back(MakeFieldDesc(6, "Title", FieldType::String, 0, 60));
  AssignFieldOffsets(def.Fields);
  const TIndexDescriptor byName = Secondary("ByName", 1, FieldType::String, 12, false, noCounts);
  const TIndexDescriptor byNameCI = Secondary("ByNameCI", 1, FieldType::String, 12, true, noCounts);
  const TIndexDescriptor byAmount = Secondary("ByAmount", 2, FieldType::Int32, 0, false, noCounts);
  const TIndexDescriptor byBorn = Secondary("ByBorn", 3, FieldType::Date, 0, false, noCounts);
  if (descendingKeys) {
    def.Secondary.push_back(Descending(byName, true, false));
    def.Secondary.push_back(Descending(byNameCI, false, true));
    def.Secondary.push_back(Descending(byAmount, true, false));
    def.Secondary.push_back(Descending(byBorn, false, true));
    def.Secondary.push_back(Descending(Secondary("ByCode", 5, FieldType::Int16, 0, false, noCounts), true, true));
  } else {
    for (const TIndexDescriptor& d : {byName, byNameCI, byAmount, byBorn}) def.Secondary.push_back(d);
  }
  TIndexDescriptor text;
  text.FieldCount = 1;
  text.FieldNumbers[0] = 6;
  def.TextIndex = text;
  TDataDirectory& dir = FSession.OpenDirectory("Filters", FTemp.Path());
  FTable = &dir.CreateTable("Items", false, false, def);
}

TFilterTable::~TFilterTable() { FCurrent.Release(); }

void TFilterTable::WriteValues(std::span<std::uint8_t> record, const TItem& item) {
  const std::span<const TFieldDesc> defs = FTable->DataFile().FieldDefs();
  const auto store = [&](int i, const void* bytes, std::size_t size, bool present) {
    if (present)
      SetFieldValue(record, defs[i], std::span(static_cast<const std::uint8_t*>(bytes), size));
    else
      SetFieldValue(record, defs[i], std::nullopt);
  };
  store(0, item.Name ? item.Name->data() : nullptr, item.Name ? item.Name->size() : 0, item.Name.has_value());
  std::array<std::uint8_t, 8> b{};
  PutLEI32(b, 0, item.Amount.value_or(0));
  store(1, b.data(), 4, item.Amount.has_value());
  PutLEI32(b, 0, item.Born.value_or(0));
  store(2, b.data(), 4, item.Born.has_value());
  PutLEDouble(b, 0, item.Ratio.value_or(0));
  store(3, b.data(), 8, item.Ratio.has_value());
  PutLEI16(b, 0, item.Code.value_or(0));
  store(4, b.data(), 2, item.Code.has_value());
  store(5, item.Title ? item.Title->data() : nullptr, item.Title ? item.Title->size() : 0, item.Title.has_value());
}

std::vector<TTextKey> TFilterTable::TextKeys(std::span<const std::uint8_t> record) {
  const TFieldRead title = GetFieldValue(record, FTable->DataFile().FieldDefs()[5]);
  std::vector<TTextKey> keys;
  if (title.Blank) return keys;
  const TTextKeyBuilder builder(TTextIndexParams::Defaults(), static_cast<std::uint16_t>(FLanguageId), 0);
  const auto* chars = reinterpret_cast<const char*>(title.Bytes.data());
  builder.BuildKeys(6, chars, strnlen(chars, title.Bytes.size()), GetLEI32(record, RecordLayout::RecAutoInc), keys);
  return keys;
}

void TFilterTable::AddKeys(std::span<const std::uint8_t> record, std::uint32_t recordNo) {
  TIndexFile& index = FTable->IndexFile();
  TBTree tree(index);
  for (int slot = 1; slot <= index.IndexCount(); ++slot) {
    const TKeyDef& def = index.KeyDef(slot);
    std::array<std::uint8_t, KeyLimits::MaxKeySize> key{};
    BuildKey(def, record, std::span(key.data(), def.KeySize));
    FContext.Slot = slot;
    tree.AddKey(FContext, key.data(), static_cast<std::int32_t>(recordNo));
  }
  FContext.Slot = KeyLimits::TextSlot;
  for (const TTextKey& key : TextKeys(record)) tree.AddKey(FContext, key.data(), static_cast<std::int32_t>(recordNo));
}

void TFilterTable::RemoveKeys(std::span<const std::uint8_t> record) {
  TIndexFile& index = FTable->IndexFile();
  TBTree tree(index);
  for (int slot = 1; slot <= index.IndexCount(); ++slot) {
    const TKeyDef& def = index.KeyDef(slot);
    std::array<std::uint8_t, KeyLimits::MaxKeySize> key{};
    BuildKey(def, record, std::span(key.data(), def.KeySize));
    FContext.Slot = slot;
    tree.RemoveKey(FContext, key.data());
  }
  FContext.Slot = KeyLimits::TextSlot;
  for (const TTextKey& key : TextKeys(record)) tree.RemoveKey(FContext, key.data());
}

std::uint32_t TFilterTable::Insert(const TItem& item) {
  TDataFile& data = FTable->DataFile();
  const std::int32_t recordNo = data.GetNextRecordNumber();
  FCurrent.Release();
  TRecordPin pin = data.GetRecord(nullptr, recordNo);
  const std::span<std::uint8_t> record = pin->MutableData();
  record[RecordLayout::RecDeleted] = 0;
  PutLEI32(record, RecordLayout::RecLink, recordNo);
  PutLEI32(record, RecordLayout::RecAutoInc, data.NextAutoInc());
  WriteValues(record, item);
  pin->MarkModified();
  AddKeys(pin->Data(), static_cast<std::uint32_t>(recordNo));
  FTable->IndexFile().IncRecordCount();
  return static_cast<std::uint32_t>(recordNo);
}

void TFilterTable::Update(std::uint32_t recordNo, const TItem& item) {
  FCurrent.Release();
  TRecordPin pin = FTable->DataFile().GetRecord(nullptr, static_cast<std::int32_t>(recordNo));
  RemoveKeys(pin->Data());
  WriteValues(pin->MutableData(), item);
  pin->MarkModified();
  AddKeys(pin->Data(), recordNo);
}

void TFilterTable::Delete(std::uint32_t recordNo) {
  FCurrent.Release();
  TRecordPin pin = FTable->DataFile().GetRecord(nullptr, static_cast<std::int32_t>(recordNo));
  RemoveKeys(pin->Data());
  pin->MutableData()[RecordLayout::RecDeleted] = 1;
  pin->MarkModified();
  FTable->IndexFile().DecRecordCount();
}

std::uint32_t TFilterTable::HighestRecordNo() {
  return static_cast<std::uint32_t>(FTable->DataFile().GetNextRecordNumber() - 1);
}

std::uint32_t TFilterTable::FilterRecordSize() const { return FTable->DataFile().GetRecordSize(); }

TFilterRead TFilterTable::ReadFilterRecord(std::uint32_t recordNo) {
  FCurrent.Release();
  FCurrent = FTable->DataFile().GetRecord(nullptr, static_cast<std::int32_t>(recordNo));
  ++FRecordReads;
  return FCurrent->IsDeleted() ? TFilterRead::Deleted : TFilterRead::Active;
}

int TFilterTable::FindFilterIndex(std::uint16_t fieldNo, bool caseInsensitive, bool matchCase) {
  TIndexFile& index = FTable->IndexFile();
  for (int slot = 0; slot <= index.IndexCount(); ++slot) {
    const TIndexDescriptor& d = index.Descriptor(slot);
    if (d.FieldCount == 0 || d.FieldNumbers[0] != fieldNo) continue;
    if (!matchCase || d.CaseInsensitive == caseInsensitive) return slot;
  }
  return -1;
}

const TKeyDef& TFilterTable::FilterKeyDef(int slot) { return FTable->IndexFile().KeyDef(slot); }

bool TFilterTable::IndexHasCounts(int slot) { return !FTable->IndexFile().Descriptor(slot).NoCounts; }

std::int64_t TFilterTable::CountKeyRange(int slot, const std::uint8_t* low, const std::uint8_t* high) {
  FContext.Slot = slot;
  return CountIndexRange(FTable->IndexFile(), FContext, low, high);
}

bool TFilterTable::CollectKeyRange(int slot, const std::uint8_t* low, const std::uint8_t* high,
                                   TRecordsBitmap& bitmap) {
  FContext.Slot = slot;
  const bool ok = CollectIndexRange(FTable->IndexFile(), FContext, low, high, bitmap);
  FKeysCollected += bitmap.CountSet();
  return ok;
}

std::int64_t TFilterTable::FilterRecordCount() { return FTable->IndexFile().RecordCount(); }

std::optional<TExpColumn> TFilterTable::FindColumn(std::string_view name) const {
  for (const TFieldDesc& d : FTable->DataFile().FieldDefs())
    if (SameName(d.FieldName(), name))
      return TExpColumn{d.FieldNo(), d.FieldType(), d.FieldSubType(), d.FieldSize(), d.FieldDecimals()};
  return std::nullopt;
}

TFieldRead TFilterTable::ReadField(std::uint16_t fieldNo) {
  return GetFieldValue(FCurrent->Data(), FTable->DataFile().FieldDefs()[fieldNo - 1u]);
}

}  // namespace exptest
