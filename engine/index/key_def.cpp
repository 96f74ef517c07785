#include "engine/index/key_def.h"

#include "engine/index/keys.h"
#include "engine/table/field_desc.h"

namespace tarn {

namespace {

TKeyDef MakeInternal(std::uint8_t slot, std::uint16_t keySize, std::uint16_t languageId,
                     std::uint16_t sortId) {
  TKeyDef def;
  def.Slot = slot;
  def.KeySize = keySize;
  def.Unique = true;
  def.LanguageId = languageId;
  def.SortId = sortId;
  return def;
}

std::uint32_t FieldsKeySize(const TKeyDef& def) {
  std::uint32_t sum = 0;
  for (std::uint8_t i = 0; i < def.FieldCount && i < KeyLimits::MaxKeyFields; ++i) {
    sum += KeyFieldSize(def.Fields[i]) + 1u;
  }
  return sum;
}

}  // namespace

TKeyField MakeKeyField(const TFieldDesc& field) {
  TKeyField key;
  key.FieldType = field.FieldType();
  key.FieldSize = field.FieldSize();
  key.FieldOffset = field.FieldOffset();
  key.HasNullFlag = !field.IsAutoInc();
  key.Computed = field.FieldComputed() && !field.IsAutoInc();
  return key;
}

TKeyDef MakeDeletedKeyDef(std::uint16_t languageId, std::uint16_t sortId) {
  return MakeInternal(KeyLimits::DeletedSlot, KeyLimits::DeletedKeySize, languageId, sortId);
}

TKeyDef MakeTextKeyDef(std::uint16_t languageId, std::uint16_t sortId) {
  return MakeInternal(KeyLimits::TextSlot, KeyLimits::TextKeySize, languageId, sortId);
}

std::uint16_t ComputeKeySize(const TKeyDef& def) {
  if (def.Slot == KeyLimits::DeletedSlot) return KeyLimits::DeletedKeySize;
  if (def.Slot == KeyLimits::TextSlot) return KeyLimits::TextKeySize;
  const std::uint32_t size = FieldsKeySize(def) + (def.Unique ? 0u : KeyLimits::AutoIncSize);
  return static_cast<std::uint16_t>(size);
}

bool TKeyDef::CheckInvariants() const {
  if (FieldCount > KeyLimits::MaxKeyFields) return false;
  if (Slot == KeyLimits::DeletedSlot) {
    return FieldCount == 0 && KeySize == KeyLimits::DeletedKeySize;
  }
  if (Slot == KeyLimits::TextSlot) return FieldCount == 0 && KeySize == KeyLimits::TextKeySize;
  if (Slot > KeyLimits::MaxOrdinarySlot) return false;
  return FieldsKeySize(*this) <= KeyLimits::MaxFieldsKeySize && KeySize == ComputeKeySize(*this);
}

}  // namespace tarn
