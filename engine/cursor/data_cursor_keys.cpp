// TDataCursor: key maintenance for record modification. Duplicate checks,
// adding and removing keys of any slot through TIndexSwitch, the
// "Sys Deleted" key of a record and the "Sys Text" keys of its words.

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/base/byte_order.h"
#include "engine/cursor/blob_buffer_set.h"
#include "engine/cursor/data_cursor.h"
#include "engine/cursor/index_switch.h"
#include "engine/index/btree.h"
#include "engine/index/keys.h"
#include "engine/index/text_params_chain.h"
#include "engine/index/text_words.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"

namespace tarn {

int TDataCursor::FirstKeySlot() const { return FTable->IndexFile().NoPrimaryIndex() ? 1 : 0; }

bool TDataCursor::KeyExistsIn(int slot, const std::uint8_t* key) {
  TIndexSwitch to(*this, slot);
  return TBTree(FTable->IndexFile()).KeyExists(*this, key);
}

void TDataCursor::CheckDuplicate(int slot, const std::uint8_t* key) {
  if (!ChecksDuplicates(FTable->IndexFile().KeyDef(slot), slot)) return;
  if (KeyExistsIn(slot, key)) Raise(TARN_KEYVIOL, FTable->IndexFile().Descriptor(slot).IndexName);
}

void TDataCursor::AddKeyTo(int slot, const std::uint8_t* key, std::int32_t recordNo) {
  if (slot == FActiveSlot) ++FTreeEdits;
  TIndexSwitch to(*this, slot);
  TBTree(FTable->IndexFile()).AddKey(*this, key, recordNo);
}

void TDataCursor::RemoveKeyFrom(int slot, const std::uint8_t* key) {
  if (slot == FActiveSlot) ++FTreeEdits;
  TIndexSwitch to(*this, slot);
  TBTree(FTable->IndexFile()).RemoveKey(*this, key);
}

void TDataCursor::DeletedKey(std::span<const std::uint8_t> record, bool deleted, std::uint8_t* key) const {
  key[0] = deleted ? 1 : 0;
  EncodeAutoIncKey(static_cast<std::int32_t>(GetLE32(record, RecordLayout::RecAutoInc)),
                   std::span<std::uint8_t>(key + 1, KeyLimits::AutoIncSize));
}

bool TDataCursor::HasTextIndex() { return FTable->IndexFile().Descriptor(SysTextSlot).FieldCount > 0; }

// The words of each text field: a string field's characters, or a memo's
// content (the open buffer's, or as stored when no buffer is open on it).
void TDataCursor::TextKeys(std::span<const std::uint8_t> record, std::int32_t autoInc, bool old,
                           std::vector<std::array<std::uint8_t, KeyLimits::TextKeySize>>& keys) {
  keys.clear();
  if (!FTextKeys) {
    TTextIndexParams params = TTextIndexParams::Defaults();
    TIndexSwitch to(*this, SysTextSlot);
    TTextParamsChain(FTable->IndexFile()).Read(*this, params);
    FTextKeys = std::make_unique<TTextKeyBuilder>(params, FLanguageId, FSortId);
  }
  const TIndexDescriptor& text = FTable->IndexFile().Descriptor(SysTextSlot);
  std::vector<TTextKey> fieldKeys;
  for (int i = 0; i < text.FieldCount; ++i) {
    const int fieldNo = text.FieldNumbers[static_cast<std::size_t>(i)];
    if (fieldNo < 1 || fieldNo > FieldCount()) continue;
    const TFieldDesc& f = Field(fieldNo);
    const TFieldRead read = GetFieldValue(record, f);
    if (f.FieldType() == FieldType::String) {
      if (read.Blank) continue;
      const auto* chars = reinterpret_cast<const char*>(read.Bytes.data());
      const std::size_t length = std::find(read.Bytes.begin(), read.Bytes.end(), 0) - read.Bytes.begin();
      FTextKeys->BuildKeys(static_cast<std::uint16_t>(fieldNo), chars, length, autoInc, fieldKeys);
    } else if (f.FieldType() == FieldType::Blob && f.FieldSubType() == FieldSubType::Memo) {
      const auto ref = static_cast<std::int32_t>(GetLE32(read.Bytes, 0));
      std::vector<std::uint8_t> stored;
      std::span<const std::uint8_t> content;
      TBlobBufferSet::TEntry* open = ref < 0 && FBlobs ? FBlobs->Find(ref) : nullptr;
      if (open != nullptr) {
        const TBlobBuffer& b = *open->Buffer;
        content = old && b.Original() ? std::span<const std::uint8_t>(*b.Original()) : b.Data();
      } else if (ref > 0) {
        TBlobBuffer load(FTable->BlobFile(), this, fieldNo, ref, GetBlobStamp(record, f),
                         static_cast<std::int32_t>(GetLE32(record, RecordLayout::RecLink)));
        load.LoadBlob();
        stored.assign(load.Data().begin(), load.Data().end());
        content = stored;
      }
      if (content.empty()) continue;
      FTextKeys->BuildKeys(static_cast<std::uint16_t>(fieldNo), reinterpret_cast<const char*>(content.data()),
                           content.size(), autoInc, fieldKeys);
    } else {
      continue;
    }
    keys.insert(keys.end(), fieldKeys.begin(), fieldKeys.end());
  }
}

}  // namespace tarn
