#pragma once
// Field values of a cursor's record buffer as the dump and load commands
// carry them: optional texts in the tool's text forms (value_text.h), blobs
// as base64 of their content.

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/cursor/data_cursor.h"

namespace tarn_tool {

// The fields a dump carries: every field that is not computed, in order.
std::vector<int> DumpedFields(const tarn::TDataCursor& cursor);

// The text of field fieldNo of the record in buffer (nothing for NULL).
std::optional<std::string> ReadFieldText(tarn::TDataCursor& cursor, int fieldNo, std::span<std::uint8_t> buffer);

// Stores text (nothing: NULL) into field fieldNo of buffer; blob contents go
// into a blob buffer opened on the field (kept for the insert). An error
// message when the text does not fit the field; empty on success.
std::string WriteFieldText(tarn::TDataCursor& cursor, int fieldNo, std::span<std::uint8_t> buffer,
                           const std::optional<std::string>& text);

// 8-bit table text as UTF-8 and back, byte for byte (each byte is the code
// point of the same number), so that JSON holds any string losslessly.
std::string BytesToUtf8(const std::string& bytes);
// Nothing when text holds a code point above 255 or is not UTF-8.
std::optional<std::string> Utf8ToBytes(const std::string& text);

}  // namespace tarn_tool
