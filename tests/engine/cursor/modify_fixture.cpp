#include "modify_fixture.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <set>

#include "engine/base/byte_order.h"
#include "engine/blob/blob_buffer.h"
#include "engine/index/btree.h"
#include "engine/index/index_page.h"
#include "engine/index/keys.h"
#include "engine/index/text_words.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"

namespace modify_testing {

using namespace tarn;

namespace {


using TEntry = std::pair<std::vector<std::uint8_t>, std::int32_t>;

std::span<const std::uint8_t> Chars(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

}  // namespace

TTableDefinition NotesDefinition(bool withPrimary) {
  TTableDefinition def;
  def.Fields.push_back(MakeFieldDesc(1, "Id", FieldType::Int32));
  def.Fields.push_back(MakeFieldDesc(2, "Title", FieldType::String, 0, 16));
  def.Fields.push_back(MakeFieldDesc(3, "Count", FieldType::Int32));
  def.Fields.push_back(MakeFieldDesc(4, "Body", FieldType::Blob, FieldSubType::Memo, 0));
  AssignFieldOffsets(def.Fields);
  if (withPrimary) def.Primary = SingleFieldIndex("", 1, def.Fields, true);
  def.Secondary = {SingleFieldIndex("ByTitle", 2, def.Fields, true), SingleFieldIndex("ByCount", 3, def.Fields, false)};
  TIndexDescriptor text;
  text.FieldCount = 2;
  text.FieldNumbers[0] = 2;
  text.FieldNumbers[1] = 4;
  def.TextIndex = text;
  return def;
}

void PutNote(TDataCursor& cursor, std::span<std::uint8_t> buffer, const TNote& note) {
  std::array<std::uint8_t, 4> b{};
  PutLE32(b, 0, static_cast<std::uint32_t>(note.Id));
  cursor.PutField(1, buffer, std::span<const std::uint8_t>(b));
  cursor.PutField(2, buffer, note.Title ? std::optional(Chars(*note.Title)) : std::nullopt);
  if (note.Count) {
    PutLE32(b, 0, static_cast<std::uint32_t>(*note.Count));
    cursor.PutField(3, buffer, std::span<const std::uint8_t>(b));
  } else {
    cursor.PutField(3, buffer, std::nullopt);
  }
  std::uint32_t size = 0;
  ASSERT_EQ(cursor.OpenBlob(4, buffer, TDataCursor::TBlobMode::Write, size), TARN_NONE);
  ASSERT_EQ(cursor.TruncateBlob(4, buffer, 0), TARN_NONE);
  if (!note.Body.empty()) {
    ASSERT_EQ(cursor.WriteBlob(4, buffer, 0, Chars(note.Body)), TARN_NONE);
  }
  ASSERT_EQ(cursor.CloseBlob(4, buffer), TARN_NONE);
}

TNote ReadNote(TDataCursor& cursor, std::span<const std::uint8_t> image) {
  TNote note;
  note.Id = static_cast<std::int32_t>(GetLE32(cursor.GetField(1, image).Bytes, 0));
  const TFieldRead title = cursor.GetField(2, image);
  if (!title.Blank) note.Title = reinterpret_cast<const char*>(title.Bytes.data());
  const TFieldRead count = cursor.GetField(3, image);
  if (!count.Blank) note.Count = static_cast<std::int32_t>(GetLE32(count.Bytes, 0));
  std::vector<std::uint8_t> copy(image.begin(), image.end());
  std::uint32_t size = 0;
  EXPECT_EQ(cursor.OpenBlob(4, copy, TDataCursor::TBlobMode::Read, size), TARN_NONE);
  std::string body(size, '\0');
  std::uint32_t got = 0;
  EXPECT_EQ(cursor.ReadBlob(4, copy, 0, size, std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(body.data()), size), got),
            TARN_NONE);
  EXPECT_EQ(cursor.CloseBlob(4, copy), TARN_NONE);
  note.Body = body;
  return note;
}

void CheckTable(TDataCursor& cursor, const TModel& model) {
  TDataTable& table = cursor.Table();
  TDataFile& data = table.DataFile();
  TIndexFile& index = table.IndexFile();
  TBTree tree(index);
  const std::int32_t slots = data.GetPhysicalRecordCount();

  // Record slots: the live ones are the model's, every other one is free.
  std::vector<std::vector<std::uint8_t>> images(static_cast<std::size_t>(slots) + 1);
  std::set<std::int32_t> freeSlots;
  for (std::int32_t r = 1; r <= slots; ++r) {
    TRecordPin pin = data.GetRecord(nullptr, r);
    images[static_cast<std::size_t>(r)].assign(pin->Data().begin(), pin->Data().end());
    if (pin->IsDeleted()) freeSlots.insert(r);
  }
  for (std::int32_t r = 1; r <= slots; ++r) {
    const auto it = model.find(r);
    const bool deleted = freeSlots.count(r) != 0;
    EXPECT_EQ(deleted, it == model.end()) << "slot " << r;
    if (deleted || it == model.end()) continue;
    const std::vector<std::uint8_t>& image = images[static_cast<std::size_t>(r)];
    EXPECT_EQ(static_cast<std::int32_t>(GetLE32(image, RecordLayout::RecAutoInc)), it->second.AutoInc) << r;
    EXPECT_EQ(static_cast<std::int32_t>(GetLE32(image, RecordLayout::RecLink)), r);
    const TNote got = ReadNote(cursor, image);
    const TNote& want = it->second.Note;
    EXPECT_EQ(got.Id, want.Id) << "slot " << r;
    EXPECT_EQ(got.Title, want.Title) << "slot " << r;
    EXPECT_EQ(got.Count, want.Count) << "slot " << r;
    EXPECT_EQ(got.Body, want.Body) << "slot " << r;
  }
  for (const auto& [r, rec] : model) EXPECT_LE(r, slots);
  EXPECT_EQ(index.RecordCount(), static_cast<std::int32_t>(model.size()));

  // The free list reaches every free slot once (tables with a primary key
  // reuse slots; without one the list is never followed but still consistent).
  std::set<std::int32_t> onList;
  for (std::int32_t r = data.GetFirstFreeRecord(); r != 0;) {
    ASSERT_TRUE(r >= 1 && r <= slots) << "free link " << r;
    ASSERT_TRUE(onList.insert(r).second) << "free list loops at " << r;
    EXPECT_TRUE(freeSlots.count(r)) << "live slot " << r << " on the free list";
    r = static_cast<std::int32_t>(GetLE32(images[static_cast<std::size_t>(r)], RecordLayout::RecLink));
  }
  if (!index.NoPrimaryIndex()) {
    EXPECT_EQ(onList, freeSlots);
  }

  // Every index: its own check, then its entries against the model's keys.
  const TTextKeyBuilder words(TTextIndexParams::Defaults(), 0, 0);
  auto expectSlot = [&](int slot, std::vector<TEntry> want) {
    TFixedTreeContext ctx(slot);
    std::vector<TEntry> got;
    const TKeyDef& def = index.KeyDef(slot);
    const TTreeCheck check = tree.Check(ctx, [&](const std::uint8_t* key, std::int32_t ref) {
      got.emplace_back(std::vector<std::uint8_t>(key, key + def.KeySize), ref);
    });
    EXPECT_TRUE(check.Ok) << "slot " << slot << ": " << check.Error;
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got.size(), want.size()) << "slot " << slot;
    EXPECT_TRUE(got == want) << "slot " << slot << " differs from the model";
  };
  for (int slot = index.NoPrimaryIndex() ? 1 : 0; slot <= index.IndexCount(); ++slot) {
    const TKeyDef& def = index.KeyDef(slot);
    std::vector<TEntry> want;
    for (const auto& [r, rec] : model) {
      std::vector<std::uint8_t> key(def.KeySize);
      BuildKey(def, images[static_cast<std::size_t>(r)], key);
      want.emplace_back(key, r);
    }
    expectSlot(slot, want);
  }
  {
    std::vector<TEntry> want;
    for (std::int32_t r = 1; r <= slots; ++r) {
      std::vector<std::uint8_t> key(KeyLimits::DeletedKeySize);
      key[0] = freeSlots.count(r) ? 1 : 0;
      EncodeAutoIncKey(static_cast<std::int32_t>(GetLE32(images[static_cast<std::size_t>(r)], RecordLayout::RecAutoInc)),
                       std::span<std::uint8_t>(key).subspan(1));
      want.emplace_back(key, r);
    }
    expectSlot(SysDeletedSlot, want);
  }
  {
    std::vector<TEntry> want;
    std::vector<TTextKey> keys;
    for (const auto& [r, rec] : model) {
      if (rec.Note.Title) {
        words.BuildKeys(2, rec.Note.Title->data(), rec.Note.Title->size(), rec.AutoInc, keys);
        for (const TTextKey& k : keys) want.emplace_back(std::vector<std::uint8_t>(k.begin(), k.end()), r);
      }
      words.BuildKeys(4, rec.Note.Body.data(), rec.Note.Body.size(), rec.AutoInc, keys);
      for (const TTextKey& k : keys) want.emplace_back(std::vector<std::uint8_t>(k.begin(), k.end()), r);
    }
    expectSlot(SysTextSlot, want);
  }
}

}  // namespace modify_testing
