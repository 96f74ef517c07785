#include "dbcomp/table_factory.h"

#include "engine/base/error_context.h"

namespace dbcomp {

namespace {

constexpr std::size_t MaxName = 255;

TTableFactory& InstalledFactory() {
  static TTableFactory factory;
  return factory;
}

// No table component is linked in: every table is missing.
std::unique_ptr<TDataSet> NoTable(const std::string& databaseName, const std::string& tableName) {
  tarn::RaiseEngineError(tarn::TARN_OSENOENT, {.Database = databaseName, .Table = tableName});
}

}  // namespace

std::string NormalizeDatabaseName(std::string_view name) {
  std::string result(name.substr(0, MaxName));
  for (char& c : result)
    if (c == '/') c = '\\';
  return result;
}

std::unique_ptr<TDataSet> CreateTable(std::string_view databaseName, std::string_view tableName) {
  const std::string database = NormalizeDatabaseName(databaseName);
  const std::string table(tableName.substr(0, MaxName));
  const TTableFactory& factory = InstalledFactory();
  return factory ? factory(database, table) : NoTable(database, table);
}

TTableFactory SetTableFactory(TTableFactory factory) {
  TTableFactory previous = std::move(InstalledFactory());
  InstalledFactory() = std::move(factory);
  return previous;
}

}  // namespace dbcomp
