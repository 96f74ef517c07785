#pragma once
// The text forms the tarn tool dumps and loads field values in.
//
//   string                 the characters
//   date                   ISO 8601 "YYYY-MM-DD"
//   time                   "HH:MM:SS.mmm"
//   timestamp              "YYYY-MM-DDTHH:MM:SS.mmm" (a blank for the "T" is
//                          read too)
//   boolean                "true" / "false"
//   integers, autoinc      decimal
//   float, money           the shortest decimal text that reads back to the
//                          same double
//   BCD                    decimal text with the field's scale ("-12.50")
//   bytes, varbytes,
//   extended, blobs        base64
//   indicator-only types   "true" when set
// A NULL field has no text (nullopt). Computed fields are never dumped.
// JSON writes booleans and the integer and float types as JSON values, the
// rest as strings (TValueText::Kind says which).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/table/field_desc.h"

namespace tarn_tool {

enum class TValueKind : std::uint8_t { Text, Number, Boolean };

// How a field's values are written in JSON.
TValueKind ValueKindOf(const tarn::TFieldDesc& field);

// The text of a stored value (the field's value bytes, not blank).
std::string ValueToText(const tarn::TFieldDesc& field, std::span<const std::uint8_t> bytes);

// The value bytes of a text, in the field's storage form; an error message
// when the text does not fit the field.
struct TParsedValue {
  std::vector<std::uint8_t> Bytes;
  std::string Error;  // empty on success
};
TParsedValue TextToValue(const tarn::TFieldDesc& field, std::string_view text);

std::string Base64Encode(std::span<const std::uint8_t> bytes);
// Nothing for text that is not base64.
std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text);

}  // namespace tarn_tool
