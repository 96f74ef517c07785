#include "dbcomp/field_def.h"

#include "engine/table/field_types.h"

namespace dbcomp {

std::string_view FieldTypeName(TFieldType type) {
  switch (type) {
    case TFieldType::Unknown: return "Unknown";
    case TFieldType::String: return "String";
    case TFieldType::Smallint: return "Smallint";
    case TFieldType::Integer: return "Integer";
    case TFieldType::Word: return "Word";
    case TFieldType::Boolean: return "Boolean";
    case TFieldType::Float: return "Float";
    case TFieldType::Currency: return "Currency";
    case TFieldType::BCD: return "BCD";
    case TFieldType::Date: return "Date";
    case TFieldType::Time: return "Time";
    case TFieldType::DateTime: return "DateTime";
    case TFieldType::Bytes: return "Bytes";
    case TFieldType::VarBytes: return "VarBytes";
    case TFieldType::AutoInc: return "AutoInc";
    case TFieldType::Blob: return "Blob";
    case TFieldType::Memo: return "Memo";
    case TFieldType::Graphic: return "Graphic";
    case TFieldType::FmtMemo: return "FmtMemo";
    case TFieldType::TypedBinary: return "TypedBinary";
    case TFieldType::FixedChar: return "FixedChar";
    case TFieldType::WideString: return "WideString";
    case TFieldType::Largeint: return "Largeint";
    case TFieldType::ADT: return "ADT";
    case TFieldType::Array: return "Array";
    case TFieldType::Reference: return "Reference";
    case TFieldType::DataSet: return "DataSet";
  }
  return "Unknown";
}

bool IsBlobType(TFieldType type) {
  switch (type) {
    case TFieldType::Blob:
    case TFieldType::Memo:
    case TFieldType::Graphic:
    case TFieldType::FmtMemo:
    case TFieldType::TypedBinary:
      return true;
    default:
      return false;
  }
}

std::optional<TEngineFieldType> EngineFieldTypeOf(TFieldType t) {
  namespace T = tarn::FieldType;
  namespace S = tarn::FieldSubType;
  switch (t) {
    case TFieldType::String: return TEngineFieldType{T::String, 0};
    case TFieldType::FixedChar: return TEngineFieldType{T::String, S::FixedChar};
    case TFieldType::WideString: return TEngineFieldType{T::String, S::WideString};
    case TFieldType::Smallint: return TEngineFieldType{T::Int16, 0};
    case TFieldType::Integer: return TEngineFieldType{T::Int32, 0};
    case TFieldType::Word: return TEngineFieldType{T::UInt16, 0};
    case TFieldType::Boolean: return TEngineFieldType{T::Boolean, 0};
    case TFieldType::Float: return TEngineFieldType{T::Float, 0};
    case TFieldType::Currency: return TEngineFieldType{T::Float, S::Money};
    case TFieldType::BCD: return TEngineFieldType{T::Bcd, 0};
    case TFieldType::Date: return TEngineFieldType{T::Date, 0};
    case TFieldType::Time: return TEngineFieldType{T::Time, 0};
    case TFieldType::DateTime: return TEngineFieldType{T::Timestamp, 0};
    case TFieldType::Bytes: return TEngineFieldType{T::Bytes, 0};
    case TFieldType::VarBytes: return TEngineFieldType{T::VarBytes, 0};
    case TFieldType::AutoInc: return TEngineFieldType{T::Int32, S::AutoInc};
    case TFieldType::Blob: return TEngineFieldType{T::Blob, 0};
    case TFieldType::Memo: return TEngineFieldType{T::Blob, S::Memo};
    case TFieldType::Graphic: return TEngineFieldType{T::Blob, S::Graphic};
    case TFieldType::FmtMemo: return TEngineFieldType{T::Blob, S::FormattedMemo};
    case TFieldType::TypedBinary: return TEngineFieldType{T::Blob, S::TypedBinary};
    case TFieldType::Largeint: return TEngineFieldType{T::Int64, 0};
    case TFieldType::ADT: return TEngineFieldType{20, 0};
    case TFieldType::Array: return TEngineFieldType{21, 0};
    case TFieldType::Reference: return TEngineFieldType{22, 0};
    case TFieldType::DataSet: return TEngineFieldType{23, 0};
    case TFieldType::Unknown: break;
  }
  return std::nullopt;
}

}  // namespace dbcomp
