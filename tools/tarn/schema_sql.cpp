#include "tools/tarn/schema_sql.h"

#include "engine/cursor/data_cursor.h"
#include "engine/index/index_file.h"
#include "engine/index/language_drivers.h"
#include "engine/index/text_params_chain.h"
#include "engine/index/tree_context.h"
#include "engine/table/field_types.h"
#include "tools/tarn/field_names.h"

namespace tarn_tool {

using namespace tarn;

std::string QuoteName(const std::string& name) {
  std::string s = "\"";
  for (char c : name) s += c == '"' ? std::string("\"\"") : std::string(1, c);
  return s + "\"";
}

std::string QuoteText(const std::string& text) {
  std::string s = "'";
  for (char c : text) s += c == '\'' ? std::string("''") : std::string(1, c);
  return s + "'";
}

namespace {

std::string SqlType(const TFieldDesc& f) {
  switch (f.FieldType()) {
    case FieldType::String: return "VARCHAR(" + std::to_string(f.FieldSize()) + ")";
    case FieldType::Date: return "DATE";
    case FieldType::Boolean: return "BOOLEAN";
    case FieldType::Int16: return "SMALLINT";
    case FieldType::Int32: return f.IsAutoInc() ? "AUTOINC" : "INTEGER";
    case FieldType::Float: return f.FieldSubType() == FieldSubType::Money ? "MONEY" : "FLOAT";
    case FieldType::Bcd: return "DECIMAL(32, " + std::to_string(f.FieldDecimals()) + ")";
    case FieldType::Bytes: return "BYTES(" + std::to_string(f.FieldSize()) + ")";
    case FieldType::VarBytes: return "VARBYTES(" + std::to_string(f.FieldSize()) + ")";
    case FieldType::Time: return "TIME";
    case FieldType::Timestamp: return "TIMESTAMP";
    case FieldType::UInt16: return "WORD";
    case FieldType::Int64: return "LARGEINT";
    case FieldType::Blob:
      switch (f.FieldSubType()) {
        case FieldSubType::Memo: return "MEMO";
        case FieldSubType::Graphic: return "GRAPHIC";
        case FieldSubType::FormattedMemo: return "BLOB(0, 3)";
        case FieldSubType::TypedBinary: return "BLOB(0, 5)";
        default: return "LONGVARBINARY";
      }
    default: return "/* " + FieldTypeName(f) + " */ BYTES(1)";
  }
}

std::string Columns(const TIndexDescriptor& d, const TDataCursor& c) {
  std::string s = "(";
  for (int i = 0; i < d.FieldCount; ++i) {
    const int n = d.FieldNumbers[static_cast<std::size_t>(i)];
    if (i > 0) s += ", ";
    s += QuoteName(n >= 1 && n <= c.FieldCount() ? c.Field(n).FieldName() : std::to_string(n));
  }
  return s + ")";
}

std::string IndexOptions(const TIndexDescriptor& d, bool unique) {
  std::string s;
  if (unique && d.Unique) s += "UNIQUE ";
  if (d.Descending) s += "DESC ";
  if (d.CaseInsensitive) s += "NOCASE ";
  return s;
}

}  // namespace

std::string CreateTableSql(TDataCursor& c) {
  TDataTable& t = c.Table();
  TDataFile& data = t.DataFile();
  TIndexFile& index = t.IndexFile();
  std::string sql = "CREATE TABLE " + QuoteName(c.TableName()) + " (\n";
  for (int n = 1; n <= c.FieldCount(); ++n) {
    const TFieldDesc& f = c.Field(n);
    sql += "  " + QuoteName(f.FieldName()) + " " + SqlType(f);
    if (!f.FieldDescription().empty()) sql += " DESCRIPTION " + QuoteText(f.FieldDescription());
    if (f.FieldRequired()) sql += " NOT NULL";
    if (!f.FieldDefault().empty()) sql += " DEFAULT " + QuoteText(f.FieldDefault());
    if (!f.FieldMin().empty()) sql += " MIN " + QuoteText(f.FieldMin());
    if (!f.FieldMax().empty()) sql += " MAX " + QuoteText(f.FieldMax());
    if (f.FieldCharCase() == TCharCase::Upper) sql += " CHARCASE UPPER";
    if (f.FieldCharCase() == TCharCase::Lower) sql += " CHARCASE LOWER";
    sql += n < c.FieldCount() || !index.NoPrimaryIndex() ? ",\n" : "\n";
  }
  if (!index.NoPrimaryIndex()) {
    const TIndexDescriptor& p = index.Descriptor(0);
    sql += "  " + IndexOptions(p, false) + "PRIMARY KEY " + Columns(p, c) + " COMPRESS " + CompressionName(p.Compression) + "\n";
  }
  sql += ")";
  const TIndexDescriptor& text = index.Descriptor(KeyLimits::TextSlot);
  if (text.FieldCount > 0) {
    sql += "\nTEXT INDEX " + Columns(text, c);
    TTextIndexParams params = TTextIndexParams::Defaults();
    TFixedTreeContext context(KeyLimits::TextSlot);
    TTextParamsChain(index).Read(context, params);
    std::string words;
    for (const std::string& w : params.StopWords) words += (words.empty() ? "" : " ") + w;
    sql += "\nSTOP WORDS " + QuoteText(words);
  }
  if (!data.GetDescription().empty()) sql += "\nDESCRIPTION " + QuoteText(data.GetDescription());
  if (t.HasBlobFields()) sql += "\nBLOB BLOCK SIZE " + std::to_string(data.GetBlobBlockSize());
  const std::string language = LanguageNameById(static_cast<std::uint16_t>(data.GetLanguageId()));
  if (data.GetLanguageId() != 0 && !language.empty()) {
    sql += "\nLANGUAGE " + QuoteText(language);
    const auto sorts = SortOrderNames(static_cast<std::uint16_t>(data.GetLanguageId()));
    const auto sortId = static_cast<std::size_t>(data.GetSortId());
    if (sortId < sorts.size()) sql += " SORT " + QuoteText(sorts[sortId]);
  }
  if (data.GetUserMajorVersion() != 0) sql += "\nUSER MAJOR VERSION " + std::to_string(data.GetUserMajorVersion());
  if (data.GetUserMinorVersion() != 0) sql += "\nUSER MINOR VERSION " + std::to_string(data.GetUserMinorVersion());
  sql += ";\n";
  for (int slot = 1; slot <= index.IndexCount(); ++slot) {
    const TIndexDescriptor& d = index.Descriptor(slot);
    if (d.Temporary) continue;
    sql += "CREATE " + IndexOptions(d, true) + "INDEX " + QuoteName(d.IndexName) + " ON " + QuoteName(c.TableName()) +
           " " + Columns(d, c) + " COMPRESS " + CompressionName(d.Compression) + ";\n";
  }
  return sql;
}

}  // namespace tarn_tool
