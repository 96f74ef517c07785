#pragma once
// Prints the records of a cursor as the shell shows query results:
//   table  columns padded to their widest value, a header row and a rule
//          (header row and rule only with headers on), "NULL" for no value
//   csv    comma-separated values (csv_text.h), a header row with headers on
//   json   one JSON array of objects, field name to value
//   line   "name = value" per field, a blank line between records
// Blob fields show as text for memos and as "<blob N bytes>" otherwise.

#include <cstdint>
#include <ostream>
#include <string>

namespace tarn {
class TDataCursor;
}

namespace tarn_tool {

// Prints every record of the cursor from its beginning; returns the count.
std::int64_t PrintRecords(tarn::TDataCursor& cursor, std::ostream& out, const std::string& mode, bool headers);

}  // namespace tarn_tool
