#pragma once
// A table's definition as the SQL statements that would make it: one CREATE
// TABLE (columns with their attributes, the primary key, the full-text index
// and the table options) and one CREATE INDEX per secondary index. For the
// shell's .schema.

#include <string>

namespace tarn {
class TDataCursor;
}

namespace tarn_tool {

std::string CreateTableSql(tarn::TDataCursor& cursor);

// name in double quotes, a quote inside doubled.
std::string QuoteName(const std::string& name);
// text in single quotes, a quote inside doubled.
std::string QuoteText(const std::string& text);

}  // namespace tarn_tool
