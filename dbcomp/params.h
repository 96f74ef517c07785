#pragma once
// Query parameters: named, typed values for the parameter markers of an SQL
// text, and the scan that finds the markers.
//
// A parameter has a name, a field type and a value (or null). Its type is
// Unknown until it is given one, by a typed setter or SetDataType; an
// Unknown parameter has no value. The value is kept in the form of its type:
//   String, FixedChar, WideString, Memo, FmtMemo   8-bit text
//   Blob, Graphic, TypedBinary, Bytes, VarBytes    bytes
//   Smallint, Integer, Word, AutoInc, Largeint,
//   Boolean (0/1), Date (day number), Time (ms of the day),
//   DateTime (day number x 86400000 + ms)          a 64-bit integer
//   Float, Currency                                a double
//   BCD                                            its decimal text ("-12.50")
// Every typed setter and Clear mark the parameter bound: it has a value of
// its own. A query fills only unbound parameters from its master dataset.
//
// Names compare without regard to case (blanks around them trimmed).

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dbcomp/field_def.h"

namespace dbcomp {

class TField;

class TParam {
 public:
  explicit TParam(std::string name = {}, TFieldType type = TFieldType::Unknown);

  const std::string& Name() const noexcept { return FName; }
  void SetName(std::string name) { FName = std::move(name); }
  TFieldType DataType() const noexcept { return FDataType; }
  // Changes the type; the value becomes null.
  void SetDataType(TFieldType type);
  bool IsNull() const noexcept { return FNull; }
  bool Bound() const noexcept { return FBound; }
  void SetBound(bool value) noexcept { FBound = value; }
  // The value becomes null; the type stays. Bound.
  void Clear();

  // ---- typed setters: type, value, bound ----
  void SetAsString(std::string_view value);
  void SetAsMemo(std::string_view value);
  void SetAsBlob(std::span<const std::uint8_t> value);
  void SetAsBytes(std::span<const std::uint8_t> value);
  void SetAsSmallInt(std::int16_t value);
  void SetAsWord(std::uint16_t value);
  void SetAsInteger(std::int32_t value);
  void SetAsLargeInt(std::int64_t value);
  void SetAsBoolean(bool value);
  void SetAsFloat(double value);
  void SetAsCurrency(double value);
  // Decimal text with "." as separator; "'%s' is not a valid BCD value"
  // when it is not a number.
  void SetAsBCD(std::string_view text);
  void SetAsDate(std::int32_t dayNumber);
  void SetAsTime(std::int32_t msOfDay);
  void SetAsDateTime(std::int64_t value);

  // ---- reads (of a null value: "", 0, false, no bytes) ----
  // Text of any type: numbers in decimal, booleans "True" / "False", dates
  // "YYYY-MM-DD", times "HH:MM:SS[.mmm]", BCD as kept, bytes as 8-bit text.
  std::string AsString() const;
  std::int64_t AsLargeInt() const;
  std::int32_t AsInteger() const { return static_cast<std::int32_t>(AsLargeInt()); }
  double AsFloat() const;
  bool AsBoolean() const { return AsLargeInt() != 0; }
  std::vector<std::uint8_t> AsBytes() const;

  // Takes type and value of a field of an open dataset (an auto-increment
  // field gives an Integer parameter); Bound is left as it is.
  void AssignFieldValue(const TField& field);
  // Takes type, value and Bound of another parameter (not its name).
  void AssignValue(const TParam& other);
  // Same name, type, value and Bound.
  bool IsEqual(const TParam& other) const;

 private:
  void SetValue(TFieldType type);
  std::string FName;
  TFieldType FDataType;
  bool FNull = true;
  bool FBound = false;
  std::int64_t FInt = 0;
  double FFloat = 0;
  std::string FText;
};

class TParams {
 public:
  TParams() = default;
  TParams(const TParams& other);
  TParams& operator=(const TParams& other);
  TParams(TParams&&) noexcept = default;
  TParams& operator=(TParams&&) noexcept = default;

  std::size_t Count() const noexcept { return FItems.size(); }
  TParam& operator[](std::size_t index) const { return *FItems.at(index); }
  TParam* FindParam(std::string_view name) const;
  // "Parameter '%s' not found" when there is none.
  TParam& ParamByName(std::string_view name) const;
  TParam& CreateParam(TFieldType type, std::string_view name);
  void Clear() noexcept { FItems.clear(); }
  // Each parameter of this list takes the value of other's parameter of the
  // same name, where there is one.
  void AssignValues(const TParams& other);
  bool IsEqual(const TParams& other) const;

 private:
  std::vector<std::unique_ptr<TParam>> FItems;
};

// An SQL text with its named markers replaced.
struct TParsedSQL {
  // The text with every marker replaced by "?" and every "::" by ":".
  std::string Text;
  // The marker names in text order; a name may appear more than once.
  std::vector<std::string> Markers;
};

// Finds the ":name" parameter markers of an SQL text. A name is a run of
// letters, digits and "_" (and 8-bit characters), or a double-quoted text
// (a doubled quote stands for one). Colons inside string constants ('...'
// or "..."), bracketed names ([...]) and /* comments */ are text, "::" is a
// literal colon, and a colon followed by anything else stays as it is.
TParsedSQL ParseParamMarkers(std::string_view sql);

}  // namespace dbcomp
