#include "tools/tarn/field_names.h"

#include <cstdio>

#include "engine/table/field_types.h"

namespace tarn_tool {

using namespace tarn;

std::string FieldTypeName(const TFieldDesc& field) {
  switch (field.FieldSubType()) {
    case FieldSubType::Money: return "money";
    case FieldSubType::Memo: return "memo";
    case FieldSubType::FormattedMemo: return "formatted memo";
    case FieldSubType::Graphic: return "graphic";
    case FieldSubType::TypedBinary: return "typed binary";
    case FieldSubType::AutoInc: return "autoinc";
    case FieldSubType::FixedChar: return "fixed string";
    case FieldSubType::WideString: return "wide string";
    default: break;
  }
  switch (field.FieldType()) {
    case FieldType::String: return "string";
    case FieldType::Date: return "date";
    case FieldType::Blob: return "blob";
    case FieldType::Boolean: return "boolean";
    case FieldType::Int16: return "int16";
    case FieldType::Int32: return "int32";
    case FieldType::Float: return "float";
    case FieldType::Bcd: return "bcd";
    case FieldType::Bytes: return "bytes";
    case FieldType::Time: return "time";
    case FieldType::Timestamp: return "timestamp";
    case FieldType::UInt16: return "uint16";
    case FieldType::UInt32: return "uint32";
    case FieldType::Extended: return "extended";
    case FieldType::VarBytes: return "varbytes";
    case FieldType::Int64: return "int64";
    default: return "type " + std::to_string(field.FieldType());
  }
}

std::string CompressionName(TKeyCompression compression) {
  switch (compression) {
    case TKeyCompression::None: return "NONE";
    case TKeyCompression::DupByte: return "DUPBYTE";
    case TKeyCompression::TrailByte: return "TRAILBYTE";
    case TKeyCompression::Full: return "FULL";
  }
  return "?";
}

namespace {

std::string CharText(unsigned c) {
  if (c > ' ' && c < 0x7F && c != '\\') return std::string(1, static_cast<char>(c));
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\x%02x", c);
  return buf;
}

}  // namespace

std::string CharSetText(const TCharSet& set) {
  std::string text;
  unsigned c = 0;
  while (c < 256) {
    if (!set.Contains(static_cast<std::uint8_t>(c))) {
      ++c;
      continue;
    }
    unsigned last = c;
    while (last + 1 < 256 && set.Contains(static_cast<std::uint8_t>(last + 1))) ++last;
    if (!text.empty()) text += ' ';
    text += CharText(c);
    if (last > c) text += (last == c + 1 ? " " : "-") + CharText(last);
    c = last + 1;
  }
  return text.empty() ? "(none)" : text;
}

}  // namespace tarn_tool
