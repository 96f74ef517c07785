#include "sql/sql_data_change.h"

#include <cstdlib>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/base/error_context.h"
#include "engine/base/names.h"
#include "engine/cursor/data_cursor.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/field_types.h"
#include "expr/exp_cast.h"
#include "expr/exp_token_stack.h"
#include "expr/expression_evaluator.h"
#include "sql/sql_result_table.h"
#include "sql/sql_row.h"

namespace tarn {

namespace {

[[noreturn]] void Fail(const std::string& message) {
  RaiseEngineError(TARN_SQLPARSE, {.Message = message});
}

bool IsTextual(std::uint8_t type) {
  return type == FieldType::String || type == FieldType::Blob || type == FieldType::Bytes ||
         type == FieldType::VarBytes;
}

// The target's field numbers for the statement's columns.
std::vector<int> TargetFields(TDataCursor& cursor, const TDataQuery& query, bool update) {
  std::vector<int> fields;
  const std::string reference = query.Sources.at(0).ReferenceName();
  for (const TUpdateField& u : query.UpdateFields) {
    const auto invalid = [&] {
      Fail("Invalid column name '" + u.Name + "' or table correlation name '" + u.Correlation +
           "' specified in table columns");
    };
    if (u.Name == "*") {
      if (update) invalid();
      for (int f = 1; f <= cursor.FieldCount(); ++f) fields.push_back(f);
      continue;
    }
    if (!u.Correlation.empty() && !SameName(u.Correlation, reference)) invalid();
    int found = 0;
    for (int f = 1; f <= cursor.FieldCount() && found == 0; ++f)
      if (SameName(cursor.Field(f).FieldName(), u.Name)) found = f;
    if (found == 0) invalid();
    fields.push_back(found);
  }
  if (query.UpdateFields.empty())
    for (int f = 1; f <= cursor.FieldCount(); ++f) fields.push_back(f);
  return fields;
}

// Whether text reads as a number (blanks around it allowed).
bool ReadsAsNumber(std::string_view text) {
  std::string s(text);
  const char* begin = s.c_str();
  char* end = nullptr;
  std::strtod(begin, &end);
  if (end == begin) return false;
  while (*end == ' ') ++end;
  return *end == 0;
}

// Stores value into field fieldNo of record.
void StoreValue(TDataCursor& cursor, std::vector<std::uint8_t>& record, int fieldNo,
                const TExpValue& value, const char* statement, std::string& bytes,
                TExpValue& converted) {
  const TFieldDesc& field = cursor.Field(fieldNo);
  const std::uint8_t type = field.FieldType();
  if (value.Null) {
    if (type == FieldType::Blob) {
      std::uint32_t size = 0;
      cursor.RaiseIfError(cursor.OpenBlob(fieldNo, record, TDataCursor::TBlobMode::Write, size));
      cursor.RaiseIfError(cursor.TruncateBlob(fieldNo, record, 0));
      return;
    }
    cursor.PutField(fieldNo, record, std::nullopt);
    return;
  }
  const auto mismatch = [&] {
    std::string text;
    AppendValueText(value, text);
    Fail("Type mismatch between column " + field.FieldName() + " and constant value " + text +
         " in " + statement + " statement");
  };
  if (type == FieldType::Blob) {
    std::uint32_t size = 0;
    cursor.RaiseIfError(cursor.OpenBlob(fieldNo, record, TDataCursor::TBlobMode::Write, size));
    cursor.RaiseIfError(cursor.TruncateBlob(fieldNo, record, 0));
    std::string text;
    if (IsTextual(value.Type))
      text.assign(value.Text.data(), value.Text.size());
    else
      AppendValueText(value, text);
    if (!text.empty())
      cursor.RaiseIfError(
          cursor.WriteBlob(fieldNo, record, 0,
                           std::span<const std::uint8_t>(
                               reinterpret_cast<const std::uint8_t*>(text.data()), text.size())));
    return;
  }
  const TExpValue* v = &value;
  if (value.Type != type && !(IsTextual(type) && IsTextual(value.Type))) {
    if (IsTextual(value.Type) && (ExpTypes::IsNumber(type)) && !ReadsAsNumber(value.Text))
      mismatch();
    if (value.Type == FieldType::Blob) mismatch();
    const std::uint16_t size = type == FieldType::String
                                   ? static_cast<std::uint16_t>(field.FieldSize() + 1)
                                   : field.FieldSize();
    CastValue(value, TCastTarget{type, field.FieldSubType(), size, field.FieldDecimals()},
              converted);
    v = &converted;
    if (v->Null) {
      cursor.PutField(fieldNo, record, std::nullopt);
      return;
    }
  }
  if (IsTextual(type)) {
    const std::size_t n = std::min<std::size_t>(v->Text.size(), 251);
    cursor.PutField(
        fieldNo, record,
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(v->Text.data()), n));
    return;
  }
  StoredBytesOf(*v, bytes);
  cursor.PutField(fieldNo, record,
                  std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                                bytes.size()));
}

// The value trees of the statement, copied, parameters filled in, bound.
struct TValues {
  std::vector<TExpTokenPtr> Trees;
  std::vector<std::unique_ptr<TExpEvaluator>> Evals;
};

bool IsDateLike(std::uint8_t type) {
  return type == FieldType::Date || type == FieldType::Time || type == FieldType::Timestamp;
}

// Checks a constant value against its column before anything runs: a
// string for a date, time or timestamp column must read as one and then
// takes the column's type; dates and numbers do not convert into each
// other.
void CheckConstant(TExpToken& constant, const TFieldDesc& field) {
  if (!constant.IsConstant() || constant.Value.Null) return;
  const std::uint8_t type = field.FieldType();
  const std::uint8_t from = constant.DataType;
  if (from == type) return;
  std::string text;
  AppendValueText(constant.Value, text);
  if (IsDateLike(type) && from == FieldType::String) {
    const TCastTarget target{type, field.FieldSubType(), 0, 0};
    TExpValue converted;
    CastValue(constant.Value, target, converted);
    // A failed conversion leaves the zero value, which is also what an
    // unreadable text gives; the zero value written out is no failure.
    TExpValue unreadable;
    TExpValue empty;
    empty.SetOwnText(FieldType::String, "?");
    CastValue(empty, target, unreadable);
    std::string back;
    AppendValueText(converted, back);
    const bool failed = converted.Null || (converted.Int == unreadable.Int &&
                                           converted.Float == unreadable.Float && back != text);
    if (failed)
      Fail("Date, time, or timestamp expression expected, instead found '" + text +
           "' in update values");
    constant.Value.CopyFrom(converted);
    constant.DataType = type;
    constant.Size = 0;
    return;
  }
  const bool number = ExpTypes::IsNumber(from) || from == FieldType::Boolean;
  const bool toNumber = ExpTypes::IsNumber(type) || type == FieldType::Boolean;
  if ((IsDateLike(from) && toNumber) || (number && IsDateLike(type)))
    Fail("Type mismatch between column '" + field.FieldName() + "' and constant '" + text +
         "' in update values");
}

TValues BindValues(const TSqlRunContext& context, const TDataQuery& query, TSqlSources& sources,
                   const std::string& sourceName, const std::vector<int>& fields) {
  TValues values;
  for (std::size_t i = 0; i < query.UpdateValues.size(); ++i) {
    TExpTokenPtr tree = CopyExpTree(*query.UpdateValues[i].Expression);
    PrepareTree(*tree, context);
    sources.Bind(*tree, false, sourceName);
    if (i < fields.size()) CheckConstant(*tree, sources.Cursor(0).Field(fields[i]));
    values.Evals.push_back(std::make_unique<TExpEvaluator>(*tree, sources));
    values.Trees.push_back(std::move(tree));
  }
  return values;
}

// The transaction frame of a data change. Outside a transaction the change
// runs in one of its own (over the target table), committed every Interval changed rows (COMMIT
// INTERVAL, else the smaller of 2 x MaxDataBufferSize / record size and
// MaxDataBufferCount) and at the end, rolled back on failure; inside one it
// commits by interval only when COMMIT INTERVAL was given and never ends it.
class TChangeFrame {
 public:
  TChangeFrame(const TDataQuery& query, TDataDirectory& directory, const TDataCursor& target)
      : FDirectory(directory), FFlush(query.CommitFlush) {
    FOwn = !directory.InTransaction();
    if (query.CommitInterval) {
      FInterval = std::max<std::int64_t>(0, *query.CommitInterval);
    } else if (FOwn) {
      const TDataSession& session = directory.Session();
      FInterval = std::max<std::int64_t>(
          1, std::min<std::int64_t>(2 * static_cast<std::int64_t>(session.MaxDataBufferSize()) /
                                        std::max<std::int64_t>(1, target.RecordSize()),
                                    session.MaxDataBufferCount()));
    }
    // Only the target table changes: only it joins the transaction.
    if (FOwn) {
      TDataTable* const table = &target.Table();
      directory.StartTransaction(std::span<TDataTable* const>(&table, 1));
    }
  }
  ~TChangeFrame() {
    if (FOwn && !FEnded) {
      try {
        FDirectory.Rollback();
      } catch (...) {
        // The failure that brought us here is the one reported.
      }
    }
  }
  TChangeFrame(const TChangeFrame&) = delete;
  TChangeFrame& operator=(const TChangeFrame&) = delete;

  void RowChanged() {
    ++FChanged;
    if (FInterval > 0 && FChanged % FInterval == 0) FDirectory.Commit(false, FFlush);
  }
  void End() {
    FEnded = true;
    if (FOwn) FDirectory.Commit(true, FFlush);
  }
  std::int64_t Interval() const { return FInterval; }

 private:
  TDataDirectory& FDirectory;
  bool FFlush;
  bool FOwn = false;
  bool FEnded = false;
  std::int64_t FInterval = 0;
  std::int64_t FChanged = 0;
};

// The record identifier (RecAutoInc) of a record image.
std::int32_t RecordId(std::span<const std::uint8_t> record) { return GetLEI32(record, 5); }

}  // namespace

void CheckDataChange(const TSqlRunContext& context, const TDataQuery& query,
                     std::size_t selectColumns) {
  TSqlRunContext check = context;
  check.CheckOnly = true;
  check.Parameters = nullptr;
  if (query.Kind() == TQueryKind::Delete) {
    TSqlSources sources(*context.Directory, query.Sources, true, context.Password);
    return;
  }
  const bool insert = query.Kind() == TQueryKind::Insert;
  TSqlSources sources(*context.Directory,
                      insert ? std::vector<TSourceTable>{query.Sources.at(0)} : query.Sources, true,
                      context.Password);
  const std::vector<int> fields = TargetFields(sources.Cursor(0), query, !insert);
  const std::size_t values =
      insert && query.SourceQuery >= 0 ? selectColumns : query.UpdateValues.size();
  if (values != fields.size()) Fail("The number of values must match the number of table columns");
  if (insert && query.SourceQuery >= 0) return;
  if (insert) sources.SetNoRecord(0, true);
  BindValues(check, query, sources, insert ? "insert values" : "update values", fields);
}

std::int32_t ExecuteInsert(const TSqlRunContext& context, const TDataQuery& query,
                           TDataCursor* source, std::unique_ptr<TSqlSources>* keep) {
  std::unique_ptr<TSqlSources> own;
  if (source != nullptr || keep == nullptr || !*keep) {
    own = std::make_unique<TSqlSources>(*context.Directory,
                                        std::vector<TSourceTable>{query.Sources.at(0)}, false,
                                        context.Password);
    if (source == nullptr && keep != nullptr) *keep = std::move(own);
  }
  TSqlSources& target = own ? *own : **keep;
  TDataCursor& cursor = target.Cursor(0);
  cursor.SetKeepAutoInc(query.NoAutoInc);
  const std::vector<int> fields = TargetFields(cursor, query, false);
  std::vector<std::uint8_t>& record = target.Buffer(0);
  std::string bytes;
  TExpValue converted;
  if (source == nullptr) {
    if (query.UpdateValues.size() != fields.size())
      Fail("The number of values must match the number of table columns");
    target.SetNoRecord(0, true);
    TValues values = BindValues(context, query, target, "insert values", fields);
    std::vector<TExpValue> computed(values.Evals.size());
    for (std::size_t i = 0; i < values.Evals.size(); ++i)
      computed[i].CopyFrom(values.Evals[i]->Evaluate());
    cursor.InitRecord(record);
    for (std::size_t i = 0; i < fields.size(); ++i)
      StoreValue(cursor, record, fields[i], computed[i], "INSERT", bytes, converted);
    cursor.InsertRecord(record, false);
    return 1;
  }
  if (static_cast<std::size_t>(source->FieldCount()) != fields.size())
    Fail("The number of values must match the number of table columns");
  std::vector<std::uint8_t> row(source->RecordSize());
  std::int32_t count = 0;
  TChangeFrame frame(query, target.Directory(0), cursor);
  TSqlProgress progress(context, source->GetRecordCount());
  source->SetToBegin();
  TExpValue value;
  while (source->GetNextRecord(row) == 0) {
    const bool stop = progress.Step(count + 1);
    cursor.InitRecord(record);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const int f = static_cast<int>(i + 1);
      const TFieldDesc& from = source->Field(f);
      const TFieldRead read = source->GetField(f, row);
      if (read.Blank) {
        value.SetNull(from.FieldType());
      } else if (from.FieldType() == FieldType::Blob) {
        std::uint32_t size = 0;
        source->RaiseIfError(source->OpenBlob(f, row, TDataCursor::TBlobMode::Read, size));
        value.Buffer.resize(size);
        std::uint32_t got = 0;
        const TErrorCode code = source->ReadBlob(
            f, row, 0, size,
            std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(value.Buffer.data()),
                                    value.Buffer.size()),
            got);
        source->RaiseIfError(source->CloseBlob(f, row));
        source->RaiseIfError(code);
        value.Buffer.resize(got);
        value.TakeBuffer(FieldType::Blob);
      } else {
        ReadFieldValue(*source, f, row, value);
      }
      StoreValue(cursor, record, fields[i], value, "INSERT", bytes, converted);
    }
    cursor.InsertRecord(record, false);
    ++count;
    frame.RowChanged();
    if (stop) break;
  }
  progress.Finish();
  frame.End();
  return count;
}

std::int32_t ExecuteUpdate(const TSqlRunContext& context, const TDataQuery& query) {
  TSqlSources sources(*context.Directory, query.Sources, false, context.Password);
  TDataCursor& cursor = sources.Cursor(0);
  cursor.SetKeepAutoInc(query.NoAutoInc);
  const std::vector<int> fields = TargetFields(cursor, query, true);
  if (query.UpdateValues.size() != fields.size())
    Fail("The number of values must match the number of table columns");
  cursor.SwitchToIndexNo(CursorIndex::Natural);
  TSqlCombinations combinations(context, query, sources, true, false);
  combinations.Prepare();
  TValues values = BindValues(context, query, sources, "update values", fields);
  TChangeFrame frame(query, sources.Directory(0), cursor);
  std::vector<std::uint8_t>& record = sources.Buffer(0);
  std::vector<TExpValue> computed(fields.size());
  std::string bytes;
  TExpValue converted;
  std::int32_t count = 0;
  std::int32_t lastRecord = -1;
  combinations.Run([&] {
    cursor.RaiseIfError(cursor.GetCurrentRecord(record, true));
    try {
      for (std::size_t i = 0; i < fields.size(); ++i)
        computed[i].CopyFrom(values.Evals[i]->Evaluate());
      for (std::size_t i = 0; i < fields.size(); ++i)
        StoreValue(cursor, record, fields[i], computed[i], "UPDATE", bytes, converted);
      cursor.ModifyRecord(record, true, false);
    } catch (...) {
      cursor.FreeBlobs(true);
      cursor.UnlockCurrentRecord();
      throw;
    }
    // ModifyRecord left the record as stored in the buffer; the cursor may
    // stand on no record now (the change took it out of the filters).
    // A record reached through several joined rows in a row counts once.
    const std::int32_t id = RecordId(record);
    if (id != lastRecord) {
      ++count;
      frame.RowChanged();
    }
    lastRecord = id;
    return true;
  });
  frame.End();
  return count;
}

std::int32_t ExecuteDelete(const TSqlRunContext& context, const TDataQuery& query) {
  TSqlSources sources(*context.Directory, query.Sources, false, context.Password);
  TDataCursor& cursor = sources.Cursor(0);
  cursor.SwitchToIndexNo(CursorIndex::Natural);
  TSqlCombinations combinations(context, query, sources, true, false);
  combinations.Prepare();
  TChangeFrame frame(query, sources.Directory(0), cursor);
  std::vector<std::uint8_t>& record = sources.Buffer(0);
  std::int32_t count = 0;
  std::int32_t deleted = -1;
  combinations.Run([&] {
    // Further joined rows of a record already deleted have nothing left to
    // delete; the buffer keeps the deleted record's identifier.
    const std::int32_t id = RecordId(record);
    if (id == deleted) return true;
    cursor.DeleteRecord(record, false);
    deleted = id;
    ++count;
    frame.RowChanged();
    return true;
  });
  frame.End();
  return count;
}

}  // namespace tarn
