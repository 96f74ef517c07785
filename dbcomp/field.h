#pragma once
// Field objects: one per field of an open dataset, found by name.
//
// A field is owned by its dataset. Persistent fields are added to a closed
// dataset (TDataSet::AddField) and bound to the table field of the same name
// (case-insensitive) each time the dataset opens; they stay when it closes.
// Without persistent fields the dataset creates a field for every table field
// on open and destroys them on close.
//
// Values travel between a field and the dataset's record buffer in the
// field's native form (GetData/SetData), DataSize() bytes:
//   String     Size() characters and a terminating zero (8-bit text)
//   Smallint   2 bytes, signed;   Word 2 bytes, unsigned;   Boolean 2 bytes, 0 or 1
//   Integer    4 bytes, signed (also AutoInc)
//   Largeint   8 bytes, signed
//   Float      8 bytes, IEEE double (also Currency)
//   Date       4 bytes, signed day number
//   Time       4 bytes, signed milliseconds of the day
//   DateTime   8 bytes, signed: day number x 86400000 + milliseconds of the day
//   Bytes      Size() bytes
//   BCD        34 bytes: the stored decimal of engine/base/bcd.h, precision 32,
//              scale Size()
//   blobs      no bytes in the record; read and written whole (AsBytes)
// All integers little-endian. A null value has no bytes: GetData answers false.
//
// Reading and writing go through the dataset (TDataSet::GetFieldData and
// SetFieldData), which applies the field-write rules: see data_set.h.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dbcomp/field_def.h"

namespace dbcomp {

class TDataSet;

enum class TFieldKind : std::uint8_t {
  Data,           // a table field
  Calculated,     // computed in OnCalcFields, kept in the record buffer's calculated area
  InternalCalc,   // computed by the dataset itself
};

class TField {
 public:
  TField(TFieldType type, std::string fieldName, int size = 0);
  virtual ~TField();
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  const std::string& FieldName() const noexcept { return FFieldName; }
  // Label shown to the user; the field name when no label is set.
  const std::string& DisplayName() const noexcept;
  void SetDisplayLabel(std::string label) { FDisplayLabel = std::move(label); }
  // Where the field's value comes from, as "Table.Field"; informational.
  const std::string& Origin() const noexcept { return FOrigin; }
  void SetOrigin(std::string origin) { FOrigin = std::move(origin); }

  TFieldType DataType() const noexcept { return FDataType; }
  int Size() const noexcept { return FSize; }
  // Bytes of the native form (see above); 0 for blobs.
  virtual int DataSize() const;
  // 1-based number of the bound table field; 0 while unbound or calculated.
  int FieldNo() const noexcept { return FFieldNo; }
  TFieldKind FieldKind() const noexcept { return FFieldKind; }
  void SetFieldKind(TFieldKind kind);  // Requires: not bound to a dataset that is open
  bool Calculated() const noexcept { return FFieldKind != TFieldKind::Data; }
  bool ReadOnly() const noexcept { return FReadOnly; }
  void SetReadOnly(bool value) noexcept { FReadOnly = value; }
  bool Required() const noexcept { return FRequired; }
  void SetRequired(bool value) noexcept { FRequired = value; }
  bool IsBlob() const noexcept { return IsBlobType(FDataType); }
  TDataSet* DataSet() const noexcept { return FDataSet; }
  // True when the dataset may write this field (not read-only, dataset modifiable).
  bool CanModify() const;

  // Typed access. Reads copy out of the current record buffer; writes follow
  // the dataset's field-write rules and raise EDatabaseError on a type the
  // field cannot convert ("Cannot access field '%s' as type %s").
  bool IsNull() const;
  void Clear();  // sets the value to null
  virtual std::string AsString() const;
  virtual void SetAsString(std::string_view value);
  virtual std::int32_t AsInteger() const;
  virtual void SetAsInteger(std::int32_t value);
  virtual std::int64_t AsLargeInt() const;
  virtual void SetAsLargeInt(std::int64_t value);
  virtual double AsFloat() const;
  virtual void SetAsFloat(double value);
  virtual bool AsBoolean() const;
  virtual void SetAsBoolean(bool value);
  // The whole value as bytes; the blob read for blob fields.
  virtual std::vector<std::uint8_t> AsBytes() const;
  virtual void SetAsBytes(std::span<const std::uint8_t> value);
  // "Write as text": what an edit control stores; the empty text is null.
  virtual std::string Text() const { return AsString(); }
  virtual void SetText(std::string_view text);

  // Native form (see the header comment). GetData answers false for null and
  // then leaves the buffer alone. Requires: buffer of DataSize() bytes.
  bool GetData(std::span<std::uint8_t> buffer) const;
  void SetData(std::span<const std::uint8_t> buffer);  // an empty span writes null

  // Called before a value is stored, with the new native value (empty for
  // null). Raise to refuse the value.
  std::function<void(TField& field, std::span<const std::uint8_t> newValue)> OnValidate;
  // Called after a value was stored.
  std::function<void(TField& field)> OnChange;

  // Offset of the value in the dataset's calculated-field area (calculated fields).
  int CalcOffset() const noexcept { return FCalcOffset; }

 protected:
  [[noreturn]] void AccessError(std::string_view typeName) const;
  std::vector<std::uint8_t> NativeValue() const;  // empty when null

 private:
  friend class TDataSet;
  std::string FFieldName;
  std::string FDisplayLabel;
  std::string FOrigin;
  TFieldType FDataType;
  int FSize;
  int FFieldNo = 0;
  TFieldKind FFieldKind = TFieldKind::Data;
  bool FReadOnly = false;
  bool FRequired = false;
  bool FPersistent = false;
  int FCalcOffset = 0;
  TDataSet* FDataSet = nullptr;
};

// Text of Size() characters; longer texts are cut when written.
class TStringField : public TField {
 public:
  TStringField(std::string fieldName, int size);
  int DataSize() const override { return Size() + 1; }
  std::string AsString() const override;
  void SetAsString(std::string_view value) override;
  std::int32_t AsInteger() const override;
  void SetAsInteger(std::int32_t value) override;
  std::int64_t AsLargeInt() const override;
  void SetAsLargeInt(std::int64_t value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  bool AsBoolean() const override;
  void SetAsBoolean(bool value) override;
};

// Smallint, Integer, Word, AutoInc and Largeint fields share one class; its
// range follows the type, and out-of-range writes raise.
class TIntegerField : public TField {
 public:
  TIntegerField(TFieldType type, std::string fieldName);
  int DataSize() const override;
  std::int64_t MinValue() const noexcept;
  std::int64_t MaxValue() const noexcept;
  std::string AsString() const override;
  void SetAsString(std::string_view value) override;
  std::int32_t AsInteger() const override;
  void SetAsInteger(std::int32_t value) override;
  std::int64_t AsLargeInt() const override;
  void SetAsLargeInt(std::int64_t value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
};

class TBooleanField : public TField {
 public:
  explicit TBooleanField(std::string fieldName);
  int DataSize() const override { return 2; }
  std::string AsString() const override;  // "True", "False", "" for null
  void SetAsString(std::string_view value) override;
  bool AsBoolean() const override;
  void SetAsBoolean(bool value) override;
  std::int32_t AsInteger() const override;
  void SetAsInteger(std::int32_t value) override;
};

// Float and Currency.
class TFloatField : public TField {
 public:
  TFloatField(TFieldType type, std::string fieldName);
  int DataSize() const override { return 8; }
  std::string AsString() const override;
  void SetAsString(std::string_view value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  std::int32_t AsInteger() const override;
  void SetAsInteger(std::int32_t value) override;
  std::int64_t AsLargeInt() const override;
  void SetAsLargeInt(std::int64_t value) override;
};

// Date (day number), Time (milliseconds of the day) and DateTime (both in one
// 64-bit number). AsLargeInt gives the stored number; AsString gives
// "YYYY-MM-DD", "HH:MM:SS" or "YYYY-MM-DD HH:MM:SS" with day 1 = 0001-01-01.
class TDateTimeField : public TField {
 public:
  TDateTimeField(TFieldType type, std::string fieldName);
  int DataSize() const override;
  std::string AsString() const override;
  void SetAsString(std::string_view value) override;
  std::int64_t AsLargeInt() const override;
  void SetAsLargeInt(std::int64_t value) override;
};

// Bytes and VarBytes: Size() bytes kept in the record. Shorter values are
// padded with zeros; longer ones are cut.
class TBytesField : public TField {
 public:
  TBytesField(TFieldType type, std::string fieldName, int size);
  int DataSize() const override { return Size(); }
  std::string AsString() const override;  // the bytes as 8-bit text
  void SetAsString(std::string_view value) override;
  std::vector<std::uint8_t> AsBytes() const override;
  void SetAsBytes(std::span<const std::uint8_t> value) override;
};

// A decimal of 32 digits, Size() of them after the point; texts use "." as
// the decimal separator and are rounded half away from zero to the scale.
class TBCDField : public TField {
 public:
  TBCDField(std::string fieldName, int scale);
  int DataSize() const override { return 34; }
  std::string AsString() const override;  // "-123.40"; "" for null
  void SetAsString(std::string_view value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  std::int32_t AsInteger() const override;
  void SetAsInteger(std::int32_t value) override;
  std::int64_t AsLargeInt() const override;
  void SetAsLargeInt(std::int64_t value) override;
};

// Blob, Memo, Graphic, FmtMemo and TypedBinary: the value lives outside the
// record and is read and written whole through the dataset.
class TBlobField : public TField {
 public:
  TBlobField(TFieldType type, std::string fieldName);
  int DataSize() const override { return 0; }
  std::string AsString() const override;
  void SetAsString(std::string_view value) override;
  std::vector<std::uint8_t> AsBytes() const override;
  void SetAsBytes(std::span<const std::uint8_t> value) override;
  std::int64_t BlobSize() const;
};

// A field object of the class that suits the type (the definition's size for
// strings and bytes). Raises "Cannot access field '%s' as type %s" for types
// that have no field class.
std::unique_ptr<TField> CreateField(const TFieldDef& def);

}  // namespace dbcomp
