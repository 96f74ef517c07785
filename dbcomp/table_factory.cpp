#include "dbcomp/table_factory.h"

#include "dbcomp/tarn_table.h"

namespace dbcomp {

namespace {

constexpr std::size_t MaxName = 255;

TTableFactory& InstalledFactory() {
  static TTableFactory factory;
  return factory;
}

std::unique_ptr<TDataSet> MakeTable(const std::string& databaseName, const std::string& tableName) {
  auto table = std::make_unique<TTarnTable>();
  table->SetDatabaseName(databaseName);
  table->SetTableName(tableName);
  return table;
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
  return factory ? factory(database, table) : MakeTable(database, table);
}

TTableFactory SetTableFactory(TTableFactory factory) {
  TTableFactory previous = std::move(InstalledFactory());
  InstalledFactory() = std::move(factory);
  return previous;
}

}  // namespace dbcomp
