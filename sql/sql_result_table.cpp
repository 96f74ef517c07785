#include "sql/sql_result_table.h"

#include <algorithm>

#include "engine/base/engine_error.h"
#include "engine/base/error_context.h"
#include "engine/cursor/data_cursor.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/field_types.h"
#include "expr/exp_cast.h"
#include "expr/exp_record_source.h"
#include "expr/exp_token.h"
#include "expr/expression_evaluator.h"
#include "sql/data_query.h"
#include "sql/sql_table_definition.h"

namespace tarn {

namespace {

std::string StripDat(std::string name) {
  if (name.size() > 4) {
    std::string tail = name.substr(name.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    if (tail == ".DAT") name.resize(name.size() - 4);
  }
  return name;
}

TCreateField FieldOf(const TResultColumn& column) {
  TCreateField f;
  f.Name = column.Name;
  f.HasType = true;
  f.Type = column.Type;
  f.SubType = column.SubType;
  switch (column.Type) {
    case FieldType::Unknown:
      f.Type = FieldType::String;
      f.Size = 1;
      break;
    case FieldType::String:
      f.Size = static_cast<std::uint8_t>(std::clamp<int>(column.Size - 1, 1, 250));
      break;
    case FieldType::Bytes:
    case FieldType::VarBytes:
      f.Size = static_cast<std::uint8_t>(std::clamp<int>(column.Size, 1, 250));
      break;
    case FieldType::Bcd:
      f.Scale = column.Scale;
      break;
    default:
      break;
  }
  return f;
}

// The fields of one record buffer of a cursor, for evaluating a column.
class TRecordReader final : public TExpRecordSource {
 public:
  TRecordReader(TDataCursor& cursor, std::span<const std::uint8_t> record)
      : FCursor(cursor), FRecord(record) {}
  std::optional<TExpColumn> FindColumn(std::string_view) const override { return std::nullopt; }
  std::uint16_t LanguageId() const override { return FCursor.LanguageId(); }
  std::uint16_t SortId() const override { return FCursor.SortId(); }
  TFieldRead ReadField(std::uint16_t fieldNo) override {
    return FCursor.GetField(fieldNo, FRecord);
  }
  bool ReadBlob(std::uint16_t, std::string&) override { return false; }
  std::optional<std::int32_t> LastAutoInc(std::string_view) override { return std::nullopt; }

 private:
  TDataCursor& FCursor;
  std::span<const std::uint8_t> FRecord;
};

}  // namespace

void ReadFieldValue(TDataCursor& cursor, int fieldNo, std::span<const std::uint8_t> record,
                    TExpValue& out) {
  const TFieldDesc& field = cursor.Field(fieldNo);
  TExpToken column;
  column.Kind = TExpTokenKind::Column;
  column.FieldNo = static_cast<std::uint16_t>(fieldNo);
  column.DataType = field.FieldType();
  column.SubType = field.FieldSubType();
  column.Size = field.FieldType() == FieldType::String
                    ? static_cast<std::uint16_t>(field.FieldSize() + 1)
                    : field.FieldSize();
  column.Scale = field.FieldDecimals();
  TRecordReader reader(cursor, record);
  TExpEvaluator eval(column, reader);
  out.CopyFrom(eval.Evaluate());
}

std::string FieldText(TDataCursor& cursor, int fieldNo, std::span<std::uint8_t> record) {
  std::string text;
  if (cursor.GetField(fieldNo, record).Blank) return text;
  if (cursor.Field(fieldNo).FieldType() == FieldType::Blob) {
    std::uint32_t size = 0;
    cursor.RaiseIfError(cursor.OpenBlob(fieldNo, record, TDataCursor::TBlobMode::Read, size));
    text.resize(size);
    std::uint32_t got = 0;
    const TErrorCode code = cursor.ReadBlob(
        fieldNo, record, 0, size,
        std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(text.data()), size), got);
    cursor.RaiseIfError(cursor.CloseBlob(fieldNo, record));
    cursor.RaiseIfError(code);
    text.resize(got);
    return text;
  }
  TExpValue value;
  ReadFieldValue(cursor, fieldNo, record, value);
  if (value.Null) return text;
  AppendValueText(value, text);
  return text;
}

TSqlResultTable::TSqlResultTable(TDataDirectory& directory,
                                 const std::vector<TResultColumn>& columns,
                                 const TResultTableOptions& options)
    : FColumns(columns) {
  TDataQuery create(TQueryKind::CreateTable);
  for (const TResultColumn& column : columns) create.CreateFields.push_back(FieldOf(column));
  const TSqlTableDefinition definition = BuildCreateDefinition(create);
  for (std::size_t i = 0; i < FColumns.size(); ++i) {
    const TFieldDesc& f = definition.Definition.Fields[i];
    FColumns[i].Type = f.FieldType();
    FColumns[i].SubType = f.FieldSubType();
    FColumns[i].Size = f.FieldType() == FieldType::String
                           ? static_cast<std::uint16_t>(f.FieldSize() + 1)
                           : f.FieldSize();
    FColumns[i].Scale = f.FieldDecimals();
  }
  if (options.Into && !options.IntoName.empty()) {
    FInMemory = options.IntoMemory;
    if (options.IntoMemory)
      FOwnDirectory = &directory.Session().OpenDirectory(MemoryDirectoryName);
    else if (!options.IntoPath.empty())
      FOwnDirectory = &directory.Session().OpenDirectory(options.IntoPath, options.IntoPath);
    FName = options.IntoName;
  } else {
    FInMemory = true;
    FWork = true;
    FOwnDirectory = &directory.Session().OpenDirectory(MemoryDirectoryName);
  }
  FDirectory = FOwnDirectory != nullptr ? FOwnDirectory : &directory;
  try {
    if (FWork) FName = StripDat(FDirectory->UniqueTableName(true));
    if (!FWork && FDirectory->TableExists(FName, FInMemory))
      FDirectory->DeleteTable(FName, FInMemory);
    TDataTable& created = FDirectory->CreateTable(FName, FInMemory, false, definition.Definition);
    FDirectory->ReleaseTable(created, false);
  } catch (...) {
    if (FOwnDirectory != nullptr) FOwnDirectory->Session().CloseDirectory(*FOwnDirectory);
    throw;
  }
}

TSqlResultTable::~TSqlResultTable() {
  if (FCursor) {
    try {
      FCursor->CloseCursor(true);
    } catch (...) {
      // Closed all the same.
    }
    FCursor.reset();
  }
  if (FWork) {
    try {
      FDirectory->DeleteTable(FName, FInMemory);
    } catch (...) {
      // A work table nobody can reach any more; the in-memory store goes with the session.
    }
  }
  if (FOwnDirectory != nullptr) FOwnDirectory->Session().CloseDirectory(*FOwnDirectory);
}

void TSqlResultTable::Write(const std::vector<TSqlRow>& rows) {
  {
    TDataCursor writer(*FDirectory);
    writer.SetTableName(FName);
    writer.SetInMemory(FInMemory);
    writer.SetExclusive(true);
    writer.SetUnordered(true);
    writer.OpenCursor();
    writer.SetBulkLoad(true);
    try {
      std::vector<std::uint8_t> record(writer.RecordSize());
      TExpValue value;
      TExpValue converted;
      std::string bytes;
      for (const TSqlRow& row : rows) {
        writer.InitRecord(record);
        for (std::size_t i = 0; i < FColumns.size() && i < row.size(); ++i) {
          const TSqlCell& cell = row[i];
          if (cell.Null) continue;
          const TResultColumn& column = FColumns[i];
          const int fieldNo = static_cast<int>(i + 1);
          cell.To(value);
          const TExpValue* v = &value;
          const bool textual = column.Type == FieldType::String || column.Type == FieldType::Blob ||
                               column.Type == FieldType::Bytes ||
                               column.Type == FieldType::VarBytes;
          const bool sourceText = cell.Type == FieldType::String || cell.Type == FieldType::Blob ||
                                  cell.Type == FieldType::Bytes || cell.Type == FieldType::VarBytes;
          if (cell.Type != column.Type && !(textual && sourceText)) {
            CastValue(value, TCastTarget{column.Type, column.SubType, column.Size, column.Scale},
                      converted);
            v = &converted;
            if (v->Null) continue;
          }
          if (column.Type == FieldType::Blob) {
            if (v->Text.empty()) continue;
            std::uint32_t size = 0;
            writer.RaiseIfError(
                writer.OpenBlob(fieldNo, record, TDataCursor::TBlobMode::Write, size));
            writer.RaiseIfError(writer.WriteBlob(
                fieldNo, record, 0,
                std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(v->Text.data()),
                                              v->Text.size())));
            continue;
          }
          if (textual) {
            writer.PutField(
                fieldNo, record,
                std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(v->Text.data()),
                                              v->Text.size()));
          } else {
            StoredBytesOf(*v, bytes);
            writer.PutField(fieldNo, record,
                            std::span<const std::uint8_t>(
                                reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
          }
        }
        writer.InsertRecord(record, false);
      }
    } catch (...) {
      writer.CloseCursor(true);
      throw;
    }
    writer.CloseCursor();
  }
  FCursor = std::make_unique<TDataCursor>(*FDirectory);
  FCursor->SetTableName(FName);
  FCursor->SetInMemory(FInMemory);
  FCursor->SetReadOnly(FWork);
  FCursor->OpenCursor();
  FCursor->SetToBegin();
}

}  // namespace tarn
