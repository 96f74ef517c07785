#include "tools/tarn/record_io.h"

#include "engine/base/byte_order.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"
#include "tools/tarn/value_text.h"

namespace tarn_tool {

using namespace tarn;

std::vector<int> DumpedFields(const TDataCursor& cursor) {
  std::vector<int> fields;
  for (int n = 1; n <= cursor.FieldCount(); ++n) {
    if (!cursor.Field(n).FieldComputed()) fields.push_back(n);
  }
  return fields;
}

std::optional<std::string> ReadFieldText(TDataCursor& cursor, int fieldNo, std::span<std::uint8_t> buffer) {
  const TFieldDesc& f = cursor.Field(fieldNo);
  const TFieldRead read = cursor.GetField(fieldNo, buffer);
  if (read.Blank) return std::nullopt;
  if (f.FieldType() != FieldType::Blob) return ValueToText(f, read.Bytes);
  if (GetLE32(read.Bytes, RecordLayout::BlobFirstBlock) == 0) return std::nullopt;
  std::uint32_t size = 0;
  cursor.RaiseIfError(cursor.OpenBlob(fieldNo, buffer, TDataCursor::TBlobMode::Read, size));
  std::vector<std::uint8_t> content(size);
  std::uint32_t count = 0;
  const TErrorCode code = cursor.ReadBlob(fieldNo, buffer, 0, size, content, count);
  const TErrorCode closed = cursor.CloseBlob(fieldNo, buffer);
  cursor.RaiseIfError(code);
  cursor.RaiseIfError(closed);
  return Base64Encode(content);
}

std::string WriteFieldText(TDataCursor& cursor, int fieldNo, std::span<std::uint8_t> buffer,
                           const std::optional<std::string>& text) {
  const TFieldDesc& f = cursor.Field(fieldNo);
  if (!text) {
    cursor.PutField(fieldNo, buffer, std::nullopt);
    return {};
  }
  TParsedValue value = TextToValue(f, *text);
  if (!value.Error.empty()) return value.Error;
  if (f.FieldType() != FieldType::Blob) {
    cursor.PutField(fieldNo, buffer, std::span<const std::uint8_t>(value.Bytes));
    return {};
  }
  cursor.PutField(fieldNo, buffer, std::nullopt);
  std::uint32_t size = 0;
  cursor.RaiseIfError(cursor.OpenBlob(fieldNo, buffer, TDataCursor::TBlobMode::Write, size));
  cursor.RaiseIfError(cursor.WriteBlob(fieldNo, buffer, 0, value.Bytes));
  cursor.RaiseIfError(cursor.CloseBlob(fieldNo, buffer));
  return {};
}

std::string BytesToUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::optional<std::string> Utf8ToBytes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size() &&
               (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
      out += static_cast<char>((c & 0x03) << 6 | (static_cast<unsigned char>(text[i + 1]) & 0x3F));
      ++i;
    } else {
      return std::nullopt;
    }
  }
  return out;
}

}  // namespace tarn_tool
