#include "engine/cursor/table_definition_check.h"

#include <string>
#include <vector>

#include "engine/base/error_context.h"
#include "engine/base/names.h"
#include "engine/index/collation.h"
#include "engine/index/keys.h"
#include "engine/table/field_types.h"

namespace tarn {

namespace {

[[noreturn]] void Fail(TErrorCode code, const TDefinitionNames& names, std::string_view field = {},
                       std::string_view index = {}) {
  RaiseEngineError(code, {.Database = names.Database, .Table = names.Table, .Field = field, .Index = index});
}

bool HasDeclaredSize(std::uint8_t type) {
  return type == FieldType::String || type == FieldType::Bytes || type == FieldType::VarBytes;
}

const TFieldDesc* FieldByNumber(std::span<const TFieldDesc> fields, int number) {
  for (const TFieldDesc& f : fields) {
    if (f.FieldNo() == number) return &f;
  }
  return nullptr;
}

void CheckField(TFieldDesc& f, std::span<const TFieldDesc> before, const TDefinitionNames& names) {
  std::string name(TrimBlanks(f.FieldName()));
  if (name.size() > FieldDescLayout::MaxNameLength) name.resize(FieldDescLayout::MaxNameLength);
  f.SetFieldName(name);
  if (name.empty() || !IsNameStartChar(name[0])) Fail(TARN_INVALIDFIELDNAME, names, name);
  for (const TFieldDesc& other : before) {
    if (SameName(other.FieldName(), name)) Fail(TARN_INVALIDFIELDNAME, names, name);
  }
  for (const TFieldDesc& other : before) {
    if (other.FieldNo() == f.FieldNo()) Fail(TARN_INVALIDFLDTYPE, names, name);
  }
  const std::uint8_t type = f.FieldType();
  if (type == FieldType::Unknown || !FieldType::IsKnown(type)) Fail(TARN_INVALIDFLDTYPE, names, name);
  if (HasDeclaredSize(type)) {
    if (f.FieldSize() == 0 || f.FieldSize() > FieldDescLayout::MaxFieldSize) Fail(TARN_INVALIDFLDTYPE, names, name);
  } else {
    f.SetFieldSize(0);
  }
  if (type != FieldType::Bcd) f.SetFieldDecimals(0);
  for (const std::string& text : {f.FieldDefault(), f.FieldMin(), f.FieldMax()}) {
    if (!ValueTextSuitsType(text, type, f.FieldDecimals())) Fail(TARN_INVALIDVCHKSTRUCT, names, name);
  }
}

}  // namespace

void CompleteIndexDefinition(TIndexDescriptor& index, std::span<const TFieldDesc> fields, bool primary,
                             const TDefinitionNames& names) {
  const std::string label = primary ? std::string("Primary") : index.IndexName;
  int count = 0;
  bool ended = false;
  for (int i = 0; i < MaxKeyFields; ++i) {
    const int number = index.FieldNumbers[static_cast<std::size_t>(i)];
    if (number == 0) {
      ended = true;
      continue;
    }
    if (ended || FieldByNumber(fields, number) == nullptr) Fail(TARN_INVALIDIDXDESC, names, std::to_string(number), label);
    ++count;
  }
  int keySize = 0;
  for (int i = 0; i < count; ++i) {
    const TFieldDesc& f = *FieldByNumber(fields, index.FieldNumbers[static_cast<std::size_t>(i)]);
    if (f.FieldType() == FieldType::Blob) Fail(TARN_SEARCHCOLREQD, names, f.FieldName(), label);
    keySize += KeyFieldSize(f.FieldType(), f.FieldSize()) + 1;
  }
  if (primary) index.Unique = true;
  if (keySize > 0 && !index.Unique) keySize += static_cast<int>(KeyLimits::AutoIncSize);
  if ((keySize == 0 && !primary) || keySize > MaxIndexKeySize) Fail(TARN_INVALIDKEY, names, {}, label);
  for (int i = count; i < MaxKeyFields; ++i) index.FieldDescending[static_cast<std::size_t>(i)] = 0;
  index.FieldCount = static_cast<std::uint8_t>(count);
  index.KeySize = static_cast<std::int16_t>(keySize);
  index.RootPage = 0;
  index.FreePageList = 0;
  index.TextParamsPage = 0;
}

void CheckDefinition(TTableDefinition& def, const TDefinitionNames& names) {
  if (def.Encrypted) {
    const std::string_view password = TrimBlanks(def.Password);
    if (password.empty() || password.size() >= 16) Fail(TARN_INVALIDPASSWORD, names);
    def.Password = std::string(password);
  }
  if (def.LanguageId != 0 &&
      !IsValidLocale(static_cast<std::uint16_t>(def.LanguageId), static_cast<std::uint16_t>(def.SortId)))
    Fail(TARN_CANNOTLOADLDDRV, names);
  if (def.Fields.empty() || def.Fields.size() > MaxTableFields || def.LastAutoInc < -1) Fail(TARN_FLDLIMIT, names);
  if (def.Secondary.size() > static_cast<std::size_t>(IndexFileLimits::MaxSecondaryIndexes)) Fail(TARN_INDEXLIMIT, names);
  if (def.BlobBlockSize < MinBlobBlockSize) Fail(TARN_BLOBLIMIT, names);

  for (std::size_t i = 0; i < def.Fields.size(); ++i) {
    CheckField(def.Fields[i], std::span<const TFieldDesc>(def.Fields).first(i), names);
  }
  AssignFieldOffsets(def.Fields);

  def.Primary.IndexName.clear();
  CompleteIndexDefinition(def.Primary, def.Fields, true, names);
  for (std::size_t i = 0; i < def.Secondary.size(); ++i) {
    TIndexDescriptor& index = def.Secondary[i];
    std::string name(TrimBlanks(index.IndexName));
    if (name.size() > MaxIndexNameLength) name.resize(MaxIndexNameLength);
    index.IndexName = name;
    if (name.empty() || !IsNameStartChar(name[0])) Fail(TARN_INVALIDINDEXNAME, names, {}, name);
    for (std::size_t j = 0; j < i; ++j) {
      if (SameName(def.Secondary[j].IndexName, name)) Fail(TARN_INDEXEXISTS, names, {}, name);
    }
    CompleteIndexDefinition(index, def.Fields, false, names);
  }
  if (def.TextIndex) {
    TIndexDescriptor& text = *def.TextIndex;
    int count = 0;
    for (int i = 0; i < MaxKeyFields; ++i) {
      const int number = text.FieldNumbers[static_cast<std::size_t>(i)];
      if (number == 0) break;
      const TFieldDesc* f = FieldByNumber(def.Fields, number);
      if (f == nullptr) Fail(TARN_INVALIDIDXDESC, names, std::to_string(number), "Sys Text");
      const bool memo = f->FieldType() == FieldType::Blob && f->FieldSubType() == FieldSubType::Memo;
      if (f->FieldType() != FieldType::String && !memo) Fail(TARN_SEARCHCOLREQD, names, f->FieldName(), "Sys Text");
      ++count;
    }
    text.FieldCount = static_cast<std::uint8_t>(count);
    text.IndexName = "Sys Text";
    text.KeySize = static_cast<std::int16_t>(KeyLimits::TextKeySize);
    text.RootPage = text.FreePageList = text.TextParamsPage = 0;
    if (count == 0) def.TextIndex.reset();
  }
  if (def.TextParams) {
    // Empty character sets take the defaults; an empty stop-word list stays.
    const TTextIndexParams defaults = TTextIndexParams::Defaults();
    if (def.TextParams->SpaceChars == TCharSet{}) def.TextParams->SpaceChars = defaults.SpaceChars;
    if (def.TextParams->IncludeChars == TCharSet{}) def.TextParams->IncludeChars = defaults.IncludeChars;
  }
}

void RenumberDefinition(TTableDefinition& def) {
  auto position = [&](int number) -> std::int16_t {
    for (std::size_t i = 0; i < def.Fields.size(); ++i) {
      if (def.Fields[i].FieldNo() == number) return static_cast<std::int16_t>(i + 1);
    }
    return 0;
  };
  auto renumber = [&](TIndexDescriptor& index) {
    for (std::int16_t& n : index.FieldNumbers) {
      if (n != 0) n = position(n);
    }
  };
  renumber(def.Primary);
  for (TIndexDescriptor& index : def.Secondary) renumber(index);
  if (def.TextIndex) renumber(*def.TextIndex);
  for (std::size_t i = 0; i < def.Fields.size(); ++i) def.Fields[i].SetFieldNo(static_cast<std::uint16_t>(i + 1));
}

}  // namespace tarn
