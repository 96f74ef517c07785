#pragma once
// Creates the dataset of a named table in a database (a directory or the
// name of a database component): the application's way to its table
// component. The factory gives back a closed dataset with the names set; the
// caller opens it. The built-in factory makes a table component (TTarnTable);
// tests install one that makes an in-memory dataset instead.

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "dbcomp/data_set.h"

namespace dbcomp {

// Receives the normalised database name and the table name.
using TTableFactory =
    std::function<std::unique_ptr<TDataSet>(const std::string& databaseName, const std::string& tableName)>;

// A database name as the component layer keeps it: every "/" replaced by "\",
// at most 255 characters.
std::string NormalizeDatabaseName(std::string_view name);

// Creates the closed dataset through the installed factory.
std::unique_ptr<TDataSet> CreateTable(std::string_view databaseName, std::string_view tableName);

// Installs a factory (an empty one restores the built-in behaviour) and
// answers the previous one.
TTableFactory SetTableFactory(TTableFactory factory);

}  // namespace dbcomp
