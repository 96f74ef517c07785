#include "sql/sql_sources.h"

#include "engine/base/engine_error.h"
#include "engine/base/error_context.h"
#include "engine/base/names.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "expr/exp_token_stack.h"
#include "expr/expression_parser.h"

namespace tarn {

namespace {

[[noreturn]] void Fail(const std::string& message) {
  RaiseEngineError(TARN_SQLPARSE, {.Message = message});
}

// Qualified references are rewritten to this marker followed by the field's
// number in the common numbering; no table field name starts with it.
constexpr char ColumnMarker = '\x01';

int FindField(const TDataCursor& cursor, std::string_view name) {
  for (int f = 1; f <= cursor.FieldCount(); ++f)
    if (SameName(cursor.Field(f).FieldName(), name)) return f;
  return 0;
}

}  // namespace

TSqlSources::TSqlSources(TDataDirectory& directory, const std::vector<TSourceTable>& tables,
                         bool readOnly, const TCursorEvent& password)
    : FDirectory(directory) {
  for (std::size_t i = 0; i < tables.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (SameName(tables[i].ReferenceName(), tables[j].ReferenceName()))
        Fail("Duplicate table correlation name '" + tables[i].ReferenceName() +
             "' found in source tables");
  try {
    int base = 0;
    for (const TSourceTable& source : tables) {
      TTable& t = FTables.emplace_back();
      t.Source = source;
      TDataDirectory* dir = &directory;
      if (source.InMemory) {
        t.OwnDirectory = &directory.Session().OpenDirectory(MemoryDirectoryName);
        dir = t.OwnDirectory;
      } else if (!source.Path.empty()) {
        t.OwnDirectory = &directory.Session().OpenDirectory(source.Path, source.Path);
        dir = t.OwnDirectory;
      }
      t.Cursor = std::make_unique<TDataCursor>(*dir);
      t.Cursor->SetTableName(source.Name);
      t.Cursor->SetInMemory(source.InMemory);
      t.Cursor->SetReadOnly(readOnly);
      if (password.Callback != nullptr)
        t.Cursor->SetPasswordCallback(password.Callback, password.Context);
      t.Cursor->OpenCursor();
      t.Record.assign(t.Cursor->RecordSize(), 0);
      t.Base = base;
      base += t.Cursor->FieldCount();
    }
  } catch (...) {
    CloseAll();
    throw;
  }
}

TSqlSources::~TSqlSources() { CloseAll(); }

void TSqlSources::CloseAll() noexcept {
  for (TTable& t : FTables) {
    if (t.Cursor) {
      try {
        t.Cursor->CloseCursor(true);
      } catch (...) {
        // Closed all the same; nothing more to give back.
      }
      t.Cursor.reset();
    }
    if (t.OwnDirectory != nullptr) {
      FDirectory.Session().CloseDirectory(*t.OwnDirectory);
      t.OwnDirectory = nullptr;
    }
  }
}

std::unique_ptr<TDataCursor> TSqlSources::ReleaseCursor(int t) {
  return std::move(FTables[static_cast<std::size_t>(t)].Cursor);
}

int TSqlSources::TableOf(std::uint16_t fieldNo) const {
  for (int t = Count() - 1; t >= 0; --t)
    if (fieldNo > FTables[static_cast<std::size_t>(t)].Base) return t;
  return 0;
}

int TSqlSources::FindTable(std::string_view name) const {
  for (int t = 0; t < Count(); ++t)
    if (SameName(Table(t).ReferenceName(), name)) return t;
  return -1;
}

TExpColumn TSqlSources::ColumnOf(int t, int fieldNo) const {
  const TFieldDesc& f = FTables[static_cast<std::size_t>(t)].Cursor->Field(fieldNo);
  return TExpColumn{.FieldNo = static_cast<std::uint16_t>(Base(t) + fieldNo),
                    .Type = f.FieldType(),
                    .SubType = f.FieldSubType(),
                    .Size = f.FieldSize(),
                    .Scale = f.FieldDecimals()};
}

void TSqlSources::PrepareColumns(TExpToken& root, bool whereClause,
                                 const std::string& source) const {
  ForEachNode(root, [&](TExpToken& node) {
    if (node.Kind != TExpTokenKind::Column || node.Correlation.empty() || node.ColumnName == "*")
      return;
    const int t = FindTable(node.Correlation);
    if (t < 0) {
      if (whereClause)
        Fail("Table correlation name '" + node.Correlation +
             "' referenced in WHERE clause is not defined in the FROM clause");
      Fail("Invalid column name '" + node.ColumnName + "' or table correlation name '" +
           node.Correlation + "' specified in " + source);
    }
    const int f = FindField(*FTables[static_cast<std::size_t>(t)].Cursor, node.ColumnName);
    if (f == 0)
      Fail("Invalid column name '" + node.ColumnName + "' or table correlation name '" +
           node.Correlation + "' specified in " + source);
    node.ColumnName = std::string(1, ColumnMarker) + std::to_string(Base(t) + f);
  });
}

void TSqlSources::Bind(TExpToken& root, bool whereClause, const std::string& source) const {
  PrepareColumns(root, whereClause, source);
  TExpressionParser binder(TARN_SQLPARSE, std::string(), source);
  binder.BindExpression(TARN_SQLPARSE, std::string(), root, *this);
}

std::uint64_t TSqlSources::TablesOf(const TExpToken& root) const {
  std::uint64_t mask = 0;
  ForEachNode(root, [&](const TExpToken& node) {
    if (node.Kind == TExpTokenKind::Column && node.FieldNo > 0)
      mask |= std::uint64_t{1} << std::min(TableOf(node.FieldNo), 63);
  });
  return mask;
}

TExpTokenPtr TSqlSources::LocalCopy(const TExpToken& root, int t) const {
  TExpTokenPtr copy = CopyExpTree(root);
  const TDataCursor& cursor = *FTables[static_cast<std::size_t>(t)].Cursor;
  ForEachNode(*copy, [&](TExpToken& node) {
    if (node.Kind != TExpTokenKind::Column || node.FieldNo == 0) return;
    node.FieldNo = static_cast<std::uint16_t>(node.FieldNo - Base(t));
    node.ColumnName = cursor.Field(node.FieldNo).FieldName();
    node.Correlation.clear();
  });
  return copy;
}

std::optional<TExpColumn> TSqlSources::FindColumn(std::string_view name) const {
  if (!name.empty() && name.front() == ColumnMarker) {
    const int g = std::stoi(std::string(name.substr(1)));
    const int t = TableOf(static_cast<std::uint16_t>(g));
    return ColumnOf(t, g - Base(t));
  }
  for (int t = 0; t < Count(); ++t)
    if (const int f = FindField(*FTables[static_cast<std::size_t>(t)].Cursor, name); f > 0)
      return ColumnOf(t, f);
  return std::nullopt;
}

std::uint16_t TSqlSources::LanguageId() const {
  return FTables.empty() ? 0 : FTables.front().Cursor->LanguageId();
}
std::uint16_t TSqlSources::SortId() const {
  return FTables.empty() ? 0 : FTables.front().Cursor->SortId();
}

TFieldRead TSqlSources::ReadField(std::uint16_t fieldNo) {
  const int t = TableOf(fieldNo);
  TTable& table = FTables[static_cast<std::size_t>(t)];
  if (table.NoRecord) return {};
  return table.Cursor->GetField(fieldNo - table.Base, table.Record);
}

bool TSqlSources::ReadBlob(std::uint16_t fieldNo, std::string& content) {
  content.clear();
  const int t = TableOf(fieldNo);
  TTable& table = FTables[static_cast<std::size_t>(t)];
  const int f = fieldNo - table.Base;
  if (table.NoRecord || table.Cursor->GetField(f, table.Record).Blank) return false;
  std::uint32_t size = 0;
  table.Cursor->RaiseIfError(
      table.Cursor->OpenBlob(f, table.Record, TDataCursor::TBlobMode::Read, size));
  TErrorCode code = 0;
  if (size > 0) {
    content.resize(size);
    std::uint32_t count = 0;
    code = table.Cursor->ReadBlob(
        f, table.Record, 0, size,
        std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(content.data()), content.size()),
        count);
    content.resize(count);
  }
  table.Cursor->RaiseIfError(table.Cursor->CloseBlob(f, table.Record));
  table.Cursor->RaiseIfError(code);
  return !content.empty();
}

std::optional<std::int32_t> TSqlSources::LastAutoInc(std::string_view tableName) {
  const int t = FindTable(tableName);
  if (t >= 0)
    return FTables[static_cast<std::size_t>(t)].Cursor->Table().DataFile().GetLastAutoInc();
  // Another table of the database that some cursor holds open.
  if (TDataTable* table = FDirectory.FindTable(tableName, false);
      table != nullptr && table->OpenCount() > 0)
    return table->DataFile().GetLastAutoInc();
  Fail("Illegal use of LASTAUTOINC() or IDENT_CURRENT() functions");
}

void SubstituteParameters(TExpToken& root, const TSqlParameters& values) {
  ForEachNode(root, [&](TExpToken& node) {
    const bool marker =
        node.Kind == TExpTokenKind::Parameter ||
        (node.Kind == TExpTokenKind::Constant && node.Reference > 0 && !node.Quoted);
    if (!marker) return;
    node.Kind = TExpTokenKind::Constant;
    const auto at = static_cast<std::size_t>(node.Reference - 1);
    if (node.Reference > 0 && at < values.size() && !values[at].Null) {
      node.Value.CopyFrom(values[at]);
      node.DataType = values[at].Type;
      node.Size =
          values[at].Type == FieldType::String
              ? static_cast<std::uint16_t>(std::min<std::size_t>(values[at].Text.size() + 1, 251))
              : 0;
    } else {
      node.Value.SetNull(FieldType::Unknown);
      node.DataType = FieldType::Unknown;
    }
  });
}

void SplitConjuncts(TExpToken& root, std::vector<TExpToken*>& out) {
  if (root.Kind == TExpTokenKind::Binary && root.Op == TExpOp::And && root.Left && root.Right) {
    SplitConjuncts(*root.Left, out);
    SplitConjuncts(*root.Right, out);
    return;
  }
  out.push_back(&root);
}

}  // namespace tarn
