#pragma once
// Names of field types, compressions and character sets as the tool prints
// them.

#include <string>

#include "engine/index/index_descriptor.h"
#include "engine/index/text_words.h"
#include "engine/table/field_desc.h"

namespace tarn_tool {

// "string", "int32", "memo", "autoinc", ... (subtype first where it names the
// field better).
std::string FieldTypeName(const tarn::TFieldDesc& field);
// "NONE", "DUPBYTE", "TRAILBYTE", "FULL".
std::string CompressionName(tarn::TKeyCompression compression);
// The members of a character set as ranges of printable characters and
// escapes, e.g. "0-9 A-Z a-z \x80-\xff".
std::string CharSetText(const tarn::TCharSet& set);

}  // namespace tarn_tool
