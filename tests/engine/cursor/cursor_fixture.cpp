#include "cursor_fixture.h"

#include <array>
#include <cstring>

#include "engine/base/byte_order.h"
#include "engine/index/btree.h"
#include "engine/index/keys.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"

namespace cursor_testing {

using namespace tarn;

namespace {

TIndexDescriptor MakeIndex(const std::string& name, std::initializer_list<std::int16_t> fields,
                           const std::vector<TFieldDesc>& defs, bool unique) {
  TIndexDescriptor d;
  d.IndexName = name;
  d.Unique = unique;
  int size = unique ? 0 : KeyLimits::AutoIncSize;
  for (std::int16_t f : fields) {
    const TFieldDesc& def = defs[static_cast<std::size_t>(f - 1)];
    d.FieldNumbers[d.FieldCount++] = f;
    size += KeyFieldSize(def.FieldType(), def.FieldSize()) + 1;
  }
  d.KeySize = static_cast<std::int16_t>(size);
  return d;
}

std::span<const std::uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

}  // namespace

TTableDefinition QuizDefinition(std::uint16_t languageId, bool withPrimary) {
  TTableDefinition def;
  def.LanguageId = static_cast<std::int16_t>(languageId);
  def.Fields.push_back(MakeFieldDesc(1, "Name", FieldType::String, 0, 12));
  def.Fields.push_back(MakeFieldDesc(2, "Num", FieldType::Int32));
  def.Fields.push_back(MakeFieldDesc(3, "Score", FieldType::Int16));
  def.Fields.push_back(MakeFieldDesc(4, "Tag", FieldType::String, 0, 8));
  AssignFieldOffsets(def.Fields);
  if (withPrimary) def.Primary = MakeIndex("", {2}, def.Fields, true);
  TIndexDescriptor byName = MakeIndex("ByName", {1}, def.Fields, false);
  byName.CaseInsensitive = true;
  TIndexDescriptor byNameDesc = MakeIndex("ByNameDesc", {1}, def.Fields, false);
  byNameDesc.Descending = true;
  byNameDesc.Compression = TKeyCompression::Full;
  TIndexDescriptor byScore = MakeIndex("ByScore", {3, 2}, def.Fields, true);
  byScore.FieldDescending[0] = 1;
  byScore.Compression = TKeyCompression::DupByte;
  TIndexDescriptor byTag = MakeIndex("ByTag", {4, 1}, def.Fields, false);
  byTag.Compression = TKeyCompression::TrailByte;
  def.Secondary = {byName, byNameDesc, byScore, byTag};
  def.Description = "cursor tests";
  return def;
}

std::vector<std::uint8_t> RecordImage(const TDataTable& table, const TRow& row) {
  const TDataFile& data = const_cast<TDataTable&>(table).DataFile();
  std::vector<std::uint8_t> image(data.GetRecordSize(), 0);
  const std::span<const TFieldDesc> defs = data.FieldDefs();
  std::array<std::uint8_t, 4> num{};
  PutLE32(num, 0, static_cast<std::uint32_t>(row.Num));
  std::array<std::uint8_t, 2> score{};
  PutLE16(score, 0, static_cast<std::uint16_t>(row.Score));
  SetFieldValue(image, defs[0], row.Name.empty() ? std::nullopt : std::optional(Bytes(row.Name)));
  SetFieldValue(image, defs[1], std::span<const std::uint8_t>(num));
  SetFieldValue(image, defs[2], std::span<const std::uint8_t>(score));
  SetFieldValue(image, defs[3], row.Tag.empty() ? std::nullopt : std::optional(Bytes(row.Tag)));
  return image;
}

TRow ReadRow(const TDataCursor& cursor, std::span<const std::uint8_t> image) {
  TRow row;
  const TFieldRead name = GetFieldValue(image, cursor.Field(1));
  if (!name.Blank) row.Name = reinterpret_cast<const char*>(name.Bytes.data());
  row.Num = static_cast<std::int32_t>(GetLE32(GetFieldValue(image, cursor.Field(2)).Bytes, 0));
  row.Score = static_cast<std::int16_t>(GetLE16(GetFieldValue(image, cursor.Field(3)).Bytes, 0));
  const TFieldRead tag = GetFieldValue(image, cursor.Field(4));
  if (!tag.Blank) row.Tag = reinterpret_cast<const char*>(tag.Bytes.data());
  return row;
}

// ------------------------------------------------------------- writer ----

void TTableWriter::DeletedKey(std::span<const std::uint8_t> image, bool deleted,
                              std::uint8_t* key) const {
  key[0] = deleted ? 1 : 0;
  EncodeAutoIncKey(static_cast<std::int32_t>(GetLE32(image, RecordLayout::RecAutoInc)),
                   std::span<std::uint8_t>(key + 1, KeyLimits::AutoIncSize));
}

void TTableWriter::AddKeys(std::int32_t recordNo, std::span<const std::uint8_t> image) {
  TIndexFile& index = FTable.IndexFile();
  TBTree tree(index);
  std::array<std::uint8_t, KeyLimits::MaxKeySize> key{};
  for (int slot = 0; slot <= index.IndexCount(); ++slot) {
    if (slot == 0 && index.NoPrimaryIndex()) continue;
    FSlot = slot;
    const TKeyDef& def = index.KeyDef(slot);
    BuildKey(def, image, std::span<std::uint8_t>(key).first(def.KeySize));
    tree.AddKey(*this, key.data(), recordNo);
  }
}

std::int32_t TTableWriter::AppendOne(std::span<const std::uint8_t> image) {
  TDataFile& data = FTable.DataFile();
  TIndexFile& index = FTable.IndexFile();
  TBTree tree(index);
  std::array<std::uint8_t, KeyLimits::DeletedKeySize> deletedKey{};
  TRecordPin pin = data.AllocateRecord(nullptr);
  const std::int32_t recordNo = pin->RecordNo();
  const bool reused = pin->IsDeleted();
  if (reused) {
    DeletedKey(pin->Data(), true, deletedKey.data());
    FSlot = SysDeletedSlot;
    tree.RemoveKey(*this, deletedKey.data());
  }
  pin->Clear(true);
  std::memcpy(pin->MutableData().data() + RecordLayout::ControlSize,
              image.data() + RecordLayout::ControlSize, image.size() - RecordLayout::ControlSize);
  pin->MarkModified();
  AddKeys(recordNo, pin->Data());
  DeletedKey(pin->Data(), false, deletedKey.data());
  FSlot = SysDeletedSlot;
  tree.AddKey(*this, deletedKey.data(), recordNo);
  index.IncRecordCount();
  return recordNo;
}

std::int32_t TTableWriter::Append(const TRow& row) { return AppendAll({row}).front(); }

std::vector<std::int32_t> TTableWriter::AppendAll(const std::vector<TRow>& rows) {
  std::vector<std::int32_t> numbers;
  TTableWriteBracket write(FTable);
  for (const TRow& row : rows) numbers.push_back(AppendOne(RecordImage(FTable, row)));
  FTable.WriteBuffers(false, true, false, false, true);
  return numbers;
}

std::vector<std::int32_t> TTableWriter::AppendImages(
    const std::vector<std::vector<std::uint8_t>>& images) {
  std::vector<std::int32_t> numbers;
  TTableWriteBracket write(FTable);
  for (const std::vector<std::uint8_t>& image : images) numbers.push_back(AppendOne(image));
  FTable.WriteBuffers(false, true, false, false, true);
  return numbers;
}

void TTableWriter::Delete(std::int32_t recordNo) {
  TTableWriteBracket write(FTable);
  TDataFile& data = FTable.DataFile();
  TIndexFile& index = FTable.IndexFile();
  TBTree tree(index);
  TRecordPin pin = data.GetRecord(nullptr, recordNo);
  std::array<std::uint8_t, KeyLimits::MaxKeySize> key{};
  for (int slot = 0; slot <= index.IndexCount(); ++slot) {
    if (slot == 0 && index.NoPrimaryIndex()) continue;
    FSlot = slot;
    const TKeyDef& def = index.KeyDef(slot);
    BuildKey(def, pin->Data(), std::span<std::uint8_t>(key).first(def.KeySize));
    tree.RemoveKey(*this, key.data());
  }
  FSlot = SysDeletedSlot;
  DeletedKey(pin->Data(), false, key.data());
  tree.RemoveKey(*this, key.data());
  DeletedKey(pin->Data(), true, key.data());
  tree.AddKey(*this, key.data(), recordNo);
  data.FreeRecord(*pin);
  pin->MarkModified();
  index.DecRecordCount();
  pin.Release();
  FTable.WriteBuffers(false, true, false, false, true);
}

// ------------------------------------------------------------ fixture ----

void TCursorFixture::CreateQuiz(std::uint16_t languageId, bool withPrimary) {
  TDataTable& t = FDir.CreateTable("Quiz", false, false, QuizDefinition(languageId, withPrimary));
  FDir.ReleaseTable(t, false);
}

std::vector<std::int32_t> TCursorFixture::Fill(const std::vector<TRow>& rows) {
  TDataTable& t = FDir.OpenTable("Quiz", {});
  std::vector<std::int32_t> numbers = TTableWriter(t).AppendAll(rows);
  FDir.ReleaseTable(t, false);
  return numbers;
}

std::unique_ptr<TDataCursor> TCursorFixture::OpenQuiz(bool unordered) {
  auto cursor = std::make_unique<TDataCursor>(FDir);
  cursor->SetTableName("Quiz");
  cursor->SetUnordered(unordered);
  cursor->OpenCursor();
  return cursor;
}

}  // namespace cursor_testing
