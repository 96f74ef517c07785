#pragma once
// What the expression layer asks of a table.
//
// Expressions sit below the cursor, so they reach a table's fields through
// these two small interfaces: binding looks names up (TExpColumnResolver),
// evaluation reads the current record's fields (TExpRecordSource). The cursor
// implements both; tests use a small in-memory table.
//
// Threads: called on the thread that binds or evaluates.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/index/text_words.h"
#include "engine/table/record_layout.h"

namespace tarn {

// A table field as binding sees it.
struct TExpColumn {
  std::uint16_t FieldNo = 0;
  std::uint8_t Type = 0;
  std::uint8_t SubType = 0;
  std::uint16_t Size = 0;  // FieldSize (characters for strings, bytes for bytes)
  std::uint8_t Scale = 0;  // FieldDecimals
};

class TExpColumnResolver {
 public:
  virtual ~TExpColumnResolver() = default;
  // The field called name (names compare as SameName), or nothing.
  virtual std::optional<TExpColumn> FindColumn(std::string_view name) const = 0;
};

class TExpRecordSource : public TExpColumnResolver {
 public:
  // The table's language; 0 = none (bytewise comparison).
  virtual std::uint16_t LanguageId() const = 0;
  virtual std::uint16_t SortId() const = 0;

  // The value bytes of field fieldNo of the record being evaluated, as the
  // record layout reads them (record_layout.h). The bytes stay valid until the
  // next record. Blob fields are read with ReadBlob instead.
  virtual TFieldRead ReadField(std::uint16_t fieldNo) = 0;
  // The whole content of blob field fieldNo of the record being evaluated;
  // false when the field is blank.
  virtual bool ReadBlob(std::uint16_t fieldNo, std::string& content) = 0;
  // The last auto-increment value of the table called tableName (LASTAUTOINC,
  // IDENT_CURRENT); nothing when there is no such table.
  virtual std::optional<std::int32_t> LastAutoInc(std::string_view tableName) = 0;
  // The word rules of the table's full-text index (TEXTSEARCH, TEXTOCCURS):
  // its stop words and character sets.
  virtual TTextIndexParams TextIndexParams() const { return TTextIndexParams::Defaults(); }
};

}  // namespace tarn
