#include "dbcomp/field_def.h"

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

}  // namespace dbcomp
