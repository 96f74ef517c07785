#pragma once
// A table's definition as JSON, the header of the tool's JSON dumps and what
// `load --create` makes a table from.
//
// {"format": "tarn-dump", "version": 1, "table": NAME,
//  "language": ID, "sort": ID, "blockSize": N, "description": TEXT,
//  "userVersion": [MAJOR, MINOR], "encrypted": BOOL, "lastAutoInc": N,
//  "fields": [{"name", "type" (code), "typeName", "subtype", "size", "scale",
//              "required", "case" (0 as given, 1 lower, 2 upper), "min",
//              "max", "default", "description"}, ...],
//  "primary": INDEX or null, "indexes": [INDEX, ...],
//  "textIndex": {"fields": [NAMES], "stopWords": [WORDS],
//                "separators": BASE64, "wordChars": BASE64} or null}
// INDEX = {"name", "fields": [NAMES], "fieldDescending": [BOOLS],
//          "descending", "caseInsensitive", "unique", "compression"
//          ("NONE", "DUPBYTE", "TRAILBYTE", "FULL"), "noCounts"}
// The character sets are the 32 bytes of the set's bit map.

#include <nlohmann/json.hpp>

#include <string>

#include "engine/session/data_table.h"

namespace tarn {
class TDataCursor;
}

namespace tarn_tool {

// The definition of the cursor's table, its members in the order above.
nlohmann::ordered_json SchemaOf(tarn::TDataCursor& cursor);

// A definition to create a table from; password for an encrypted one. Throws
// std::runtime_error naming what is wrong with the schema.
tarn::TTableDefinition DefinitionFromSchema(const nlohmann::json& schema, const std::string& password);

}  // namespace tarn_tool
