#pragma once
// The table that holds a copied SELECT result: TSqlResultTable.
//
// One field per result column (strings of at most 250 characters; an
// auto-increment source column becomes a plain 32-bit integer). Without
// INTO the table is a work table with a unique name in the in-memory
// database, removed when the object goes; with INTO it is a table of the
// statement's database (of the in-memory database with INTO MEMORY, of the
// path's directory when the name has one), replaced when it exists and kept
// afterwards. Cursor() is a read-only cursor on it before its first record.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "expr/exp_value.h"
#include "sql/sql_row.h"

namespace tarn {

class TDataCursor;
class TDataDirectory;

struct TResultColumn {
  std::string Name;
  std::uint8_t Type = 0;
  std::uint8_t SubType = 0;
  std::uint16_t Size = 0;  // strings: characters + 1; bytes: their count
  std::uint8_t Scale = 0;
};

struct TResultTableOptions {
  bool Into = false;
  bool IntoMemory = false;
  std::string IntoPath;
  std::string IntoName;
};

class TSqlResultTable {
 public:
  TSqlResultTable(TDataDirectory& directory, const std::vector<TResultColumn>& columns,
                  const TResultTableOptions& options);
  ~TSqlResultTable();
  TSqlResultTable(const TSqlResultTable&) = delete;
  TSqlResultTable& operator=(const TSqlResultTable&) = delete;

  // Inserts the rows in order (cells converted to the column types), then
  // opens the read-only result cursor.
  void Write(const std::vector<TSqlRow>& rows);
  TDataCursor& Cursor() { return *FCursor; }
  const std::string& Name() const { return FName; }

 private:
  TDataDirectory* FOwnDirectory = nullptr;  // opened here, closed at the end
  TDataDirectory* FDirectory = nullptr;
  std::string FName;
  bool FInMemory = false;
  bool FWork = false;  // removed at the end
  std::vector<TResultColumn> FColumns;
  std::unique_ptr<TDataCursor> FCursor;
};

// The value of field fieldNo (not a blob) of a record buffer of cursor.
void ReadFieldValue(TDataCursor& cursor, int fieldNo, std::span<const std::uint8_t> record,
                    TExpValue& out);
// The text of that value as CAST to a string writes it (blob fields: their
// content), "" for a blank field. For shells and tests.
std::string FieldText(TDataCursor& cursor, int fieldNo, std::span<std::uint8_t> record);

}  // namespace tarn
