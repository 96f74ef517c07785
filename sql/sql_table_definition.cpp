#include "sql/sql_table_definition.h"

#include <algorithm>

#include "engine/base/error_context.h"
#include "engine/base/names.h"
#include "engine/cursor/data_cursor.h"
#include "engine/index/index_page.h"
#include "engine/index/keys.h"
#include "engine/index/text_params_chain.h"
#include "engine/index/text_words.h"

namespace tarn {

namespace {

[[noreturn]] void Fail(const std::string& message) {
  RaiseEngineError(TARN_SQLPARSE, {.Message = message});
}

// The field (by position) named name, or -1.
int FindField(const std::vector<TFieldDesc>& fields, const std::string& name) {
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (SameName(fields[i].FieldName(), name)) return static_cast<int>(i);
  return -1;
}

std::uint16_t NextFieldNo(const std::vector<TFieldDesc>& fields) {
  std::uint16_t next = 1;
  for (const TFieldDesc& f : fields)
    next = std::max<std::uint16_t>(next, static_cast<std::uint16_t>(f.FieldNo() + 1));
  return next;
}

void ApplyAttributes(const TCreateField& column, TFieldDesc& field) {
  if (column.Description) field.SetFieldDescription(*column.Description);
  if (column.NotNull) field.SetFieldRequired(*column.NotNull);
  if (column.Default) field.SetFieldDefault(*column.Default);
  if (column.Minimum) field.SetFieldMin(*column.Minimum);
  if (column.Maximum) field.SetFieldMax(*column.Maximum);
  if (column.CharCase) field.SetFieldCharCase(*column.CharCase);
}

// Every character of text as a set.
TCharSet CharSetOf(const std::string& text) {
  TCharSet set;
  for (const char c : text) set.Add(static_cast<std::uint8_t>(c));
  return set;
}

std::vector<std::string> WordsOf(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) <= 32) {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

TIndexDescriptor TextIndexDescriptor(const std::vector<std::string>& columns,
                                     const std::vector<TFieldDesc>& fields) {
  TIndexDescriptor text;
  for (const std::string& column : columns) {
    const int at = FindField(fields, column);
    if (at < 0) Fail("Invalid field name '" + column + "' specified for text index");
    if (text.FieldCount < MaxKeyFields)
      text.FieldNumbers[text.FieldCount] =
          static_cast<std::int16_t>(fields[static_cast<std::size_t>(at)].FieldNo());
    ++text.FieldCount;
  }
  return text;
}

// Table options over a definition whose fields are final.
void ApplyTableOptions(const TTableOptions& o, TSqlTableDefinition& out) {
  TTableDefinition& d = out.Definition;
  if (o.TextIndex) {
    if (o.TextIndex->empty())
      d.TextIndex.reset();
    else
      d.TextIndex = TextIndexDescriptor(*o.TextIndex, d.Fields);
  }
  if (o.StopWords || o.SpaceChars || o.IncludeChars) {
    TTextIndexParams params = d.TextParams          ? *d.TextParams
                              : out.TableTextParams ? *out.TableTextParams
                                                    : TTextIndexParams::Defaults();
    if (o.StopWords) params.StopWords = WordsOf(*o.StopWords);
    if (o.SpaceChars && !o.SpaceChars->empty()) params.SpaceChars = CharSetOf(*o.SpaceChars);
    if (o.IncludeChars && !o.IncludeChars->empty())
      params.IncludeChars = CharSetOf(*o.IncludeChars);
    d.TextParams = std::move(params);
    out.StopWordsGiven = o.StopWords.has_value();
  }
  if (o.Description) d.Description = *o.Description;
  if (o.BlobBlockSize)
    d.BlobBlockSize =
        static_cast<std::uint16_t>(std::clamp<std::int32_t>(*o.BlobBlockSize, 0, 65535));
  if (o.Language) {
    d.LanguageId = o.LanguageId;
    d.SortId = o.SortId;
  }
  if (o.Password) {
    d.Encrypted = !o.Password->empty();
    d.Password = *o.Password;
  }
  if (o.UserMajorVersion) d.UserMajorVersion = static_cast<std::int16_t>(*o.UserMajorVersion);
  if (o.UserMinorVersion) d.UserMinorVersion = static_cast<std::int16_t>(*o.UserMinorVersion);
  if (o.LastAutoInc) out.LastAutoInc = *o.LastAutoInc;
}

// Field numbers named by an index that no longer name a field, after a
// column was dropped: the index loses the column.
void DropFieldFromIndex(TIndexDescriptor& index, std::int16_t fieldNo) {
  std::uint8_t kept = 0;
  for (std::uint8_t i = 0; i < index.FieldCount && i < MaxKeyFields; ++i) {
    if (index.FieldNumbers[i] == fieldNo) continue;
    index.FieldNumbers[kept] = index.FieldNumbers[i];
    index.FieldDescending[kept] = index.FieldDescending[i];
    ++kept;
  }
  for (std::uint8_t i = kept; i < MaxKeyFields; ++i) {
    index.FieldNumbers[i] = 0;
    index.FieldDescending[i] = 0;
  }
  index.FieldCount = kept;
}

}  // namespace

TFieldDesc MakeColumnField(const TCreateField& column, std::uint16_t fieldNo) {
  TFieldDesc field =
      MakeFieldDesc(fieldNo, column.Name, column.Type, column.SubType, column.Size, column.Scale);
  ApplyAttributes(column, field);
  return field;
}

TIndexDescriptor MakeIndexDescriptor(const TCreateIndex& index,
                                     const std::vector<TFieldDesc>& fields,
                                     const std::string& indexName) {
  TIndexDescriptor d;
  d.IndexName = index.Primary ? std::string() : index.Name;
  d.Unique = index.Primary || index.Unique;
  d.Descending = index.Descending;
  d.CaseInsensitive = index.CaseInsensitive;
  d.Compression = index.Compression.value_or(TKeyCompression::None);
  int keySize = 0;
  for (const std::string& column : index.Columns) {
    const int at = FindField(fields, column);
    if (at < 0) Fail("Invalid field name '" + column + "' specified for index '" + indexName + "'");
    const TFieldDesc& field = fields[static_cast<std::size_t>(at)];
    if (d.FieldCount < MaxKeyFields)
      d.FieldNumbers[d.FieldCount] = static_cast<std::int16_t>(field.FieldNo());
    ++d.FieldCount;
    keySize += KeyFieldSize(field.FieldType(), field.FieldSize()) + 1;
  }
  // Non-unique keys end with the record ID. Sizes out of range are left for
  // the definition checks to refuse.
  if (!d.Unique && d.FieldCount > 0) keySize += 4;
  d.KeySize = static_cast<std::int16_t>(std::min(keySize, 32767));
  return d;
}

TSqlTableDefinition BuildCreateDefinition(const TDataQuery& create) {
  TSqlTableDefinition out;
  TTableDefinition& d = out.Definition;
  for (const TCreateField& column : create.CreateFields)
    d.Fields.push_back(MakeColumnField(column, static_cast<std::uint16_t>(d.Fields.size() + 1)));
  if (create.PrimaryKey)
    d.Primary =
        MakeIndexDescriptor(*create.PrimaryKey, d.Fields,
                            create.PrimaryKey->Name.empty() ? "Primary" : create.PrimaryKey->Name);
  ApplyTableOptions(create.Table, out);
  AssignFieldOffsets(d.Fields);
  return out;
}

TSqlTableDefinition ReadTableDefinition(TDataCursor& cursor) {
  TSqlTableDefinition out;
  TTableDefinition& d = out.Definition;
  TDataTable& table = cursor.Table();
  const TDataFile& data = table.DataFile();
  TIndexFile& index = table.IndexFile();
  for (const TFieldDesc& f : data.FieldDefs()) d.Fields.push_back(f);
  d.LanguageId = data.GetLanguageId();
  d.SortId = data.GetSortId();
  d.BlobBlockSize = static_cast<std::uint16_t>(data.GetBlobBlockSize());
  d.Description = data.GetDescription();
  d.Encrypted = data.IsEncrypted();
  d.Password = data.GetPassword();
  d.UserMajorVersion = data.GetUserMajorVersion();
  d.UserMinorVersion = data.GetUserMinorVersion();
  if (!index.NoPrimaryIndex() && index.Descriptor(0).FieldCount > 0)
    d.Primary = index.Descriptor(0);
  for (int slot = 1; slot <= index.IndexCount(); ++slot)
    d.Secondary.push_back(index.Descriptor(slot));
  if (index.Descriptor(SysTextSlot).FieldCount > 0) d.TextIndex = index.Descriptor(SysTextSlot);
  TTextIndexParams params;
  if (TTextParamsChain(table.IndexFile()).Read(cursor, params))
    out.TableTextParams = std::move(params);
  return out;
}

void ApplyAlterTable(const TDataQuery& alter, TSqlTableDefinition& out) {
  TTableDefinition& d = out.Definition;
  bool primaryDropped = false;
  const auto placeAt = [&](std::size_t from, int at) {
    if (at <= 0) return;
    const std::size_t to =
        std::min<std::size_t>(static_cast<std::size_t>(at - 1), d.Fields.size() - 1);
    TFieldDesc moved = d.Fields[from];
    d.Fields.erase(d.Fields.begin() + static_cast<std::ptrdiff_t>(from));
    d.Fields.insert(d.Fields.begin() + static_cast<std::ptrdiff_t>(to), moved);
  };
  for (const TAlterAction& action : alter.AlterActions) {
    switch (action.Kind) {
      case TAlterKind::AddColumn: {
        d.Fields.push_back(MakeColumnField(action.Field, NextFieldNo(d.Fields)));
        placeAt(d.Fields.size() - 1, action.Field.At);
        break;
      }
      case TAlterKind::RedefineColumn: {
        const int at = FindField(d.Fields, action.ColumnName);
        if (at < 0) Fail("Column " + action.ColumnName + " not found");
        TFieldDesc& field = d.Fields[static_cast<std::size_t>(at)];
        if (action.Field.HasType) {
          TFieldDesc redefined =
              MakeFieldDesc(field.FieldNo(), action.Field.Name, action.Field.Type,
                            action.Field.SubType, action.Field.Size, action.Field.Scale);
          // Attributes not written again keep their old values.
          redefined.SetFieldDescription(field.FieldDescription());
          redefined.SetFieldRequired(field.FieldRequired());
          redefined.SetFieldDefault(field.FieldDefault());
          redefined.SetFieldMin(field.FieldMin());
          redefined.SetFieldMax(field.FieldMax());
          redefined.SetFieldCharCase(field.FieldCharCase());
          field = redefined;
        }
        ApplyAttributes(action.Field, field);
        placeAt(static_cast<std::size_t>(at), action.Field.At);
        break;
      }
      case TAlterKind::DropColumn: {
        const int at = FindField(d.Fields, action.ColumnName);
        if (at < 0) Fail("Column " + action.ColumnName + " not found");
        const auto fieldNo =
            static_cast<std::int16_t>(d.Fields[static_cast<std::size_t>(at)].FieldNo());
        d.Fields.erase(d.Fields.begin() + at);
        DropFieldFromIndex(d.Primary, fieldNo);
        for (TIndexDescriptor& index : d.Secondary) DropFieldFromIndex(index, fieldNo);
        if (d.TextIndex) {
          DropFieldFromIndex(*d.TextIndex, fieldNo);
          if (d.TextIndex->FieldCount == 0) d.TextIndex.reset();
        }
        // An index left without columns goes with its last column.
        std::erase_if(d.Secondary,
                      [](const TIndexDescriptor& index) { return index.FieldCount == 0; });
        break;
      }
      case TAlterKind::AddPrimaryKey:
        if (d.Primary.FieldCount > 0 && !primaryDropped)
          Fail("Cannot REDEFINE the primary key using the ADD keyword");
        [[fallthrough]];
      case TAlterKind::RedefinePrimaryKey:
        d.Primary = MakeIndexDescriptor(action.Index, d.Fields,
                                        action.Index.Name.empty() ? "Primary" : action.Index.Name);
        break;
      case TAlterKind::DropPrimaryKey:
        d.Primary = TIndexDescriptor{};
        primaryDropped = true;
        break;
    }
  }
  ApplyTableOptions(alter.Table, out);
  // The index and text-index columns name fields of the new definition.
  const auto check = [&](const TIndexDescriptor& index, const std::string& name, bool text) {
    for (std::uint8_t i = 0; i < index.FieldCount && i < MaxKeyFields; ++i) {
      const bool present = std::any_of(d.Fields.begin(), d.Fields.end(), [&](const TFieldDesc& f) {
        return f.FieldNo() == static_cast<std::uint16_t>(index.FieldNumbers[i]);
      });
      if (!present) {
        const std::string column = std::to_string(index.FieldNumbers[i]);
        Fail(text ? "Invalid field name '" + column + "' specified for text index"
                  : "Invalid field name '" + column + "' specified for index '" + name + "'");
      }
    }
  };
  check(d.Primary, "Primary", false);
  for (const TIndexDescriptor& index : d.Secondary) check(index, index.IndexName, false);
  if (d.TextIndex) check(*d.TextIndex, "Sys Text", true);
  AssignFieldOffsets(d.Fields);
}

}  // namespace tarn
