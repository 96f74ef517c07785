#pragma once
// Field definitions: what a dataset learns about its table's fields when it
// opens (name, type, size), before field objects are bound to them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dbcomp {

// The dataset field types. A table component maps its engine types onto these
// when it reads its definitions.
enum class TFieldType : std::uint8_t {
  Unknown,
  String,       // Size characters plus a terminating zero
  Smallint,     // 16-bit signed
  Integer,      // 32-bit signed
  Word,         // 16-bit unsigned
  Boolean,
  Float,
  Currency,     // a float shown as money
  BCD,
  Date,
  Time,
  DateTime,
  Bytes,        // Size bytes
  VarBytes,
  AutoInc,      // 32-bit signed, set by the table
  Blob,
  Memo,
  Graphic,
  FmtMemo,
  TypedBinary,
  FixedChar,
  WideString,
  Largeint,     // 64-bit signed
  ADT,
  Array,
  Reference,
  DataSet,
};

// The type's name as messages show it ("String", "Smallint", ...).
std::string_view FieldTypeName(TFieldType type);

// True for the types whose value lives outside the record (blob, memo, ...).
bool IsBlobType(TFieldType type);

// The engine type code and subtype (field_types.h) a field of the type is
// stored as: when a table is created from definitions, when a query passes a
// parameter. Nothing for Unknown.
struct TEngineFieldType {
  std::uint8_t Type = 0;
  std::uint8_t SubType = 0;
};
std::optional<TEngineFieldType> EngineFieldTypeOf(TFieldType type);

struct TFieldDef {
  std::string Name;
  TFieldType DataType = TFieldType::Unknown;
  int Size = 0;          // characters of a string, bytes of a bytes field, else 0
  int Precision = 0;
  bool Required = false;
  int FieldNo = 0;       // 1-based number of the table field
};

using TFieldDefs = std::vector<TFieldDef>;

}  // namespace dbcomp
