#pragma once
// Comma-separated values as the tool writes and reads them: fields separated
// by ",", records by a line break; a field that holds a comma, a quote, a
// line break or leading or trailing blanks, or that is empty, is quoted with
// "\"" (a quote inside doubled). An empty field that is not quoted is NULL; a
// quoted empty field is an empty text.

#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tarn_tool {

// One field as read: its text, or nothing for NULL.
using TCsvField = std::optional<std::string>;

// Writes one record (with its line break).
void WriteCsvRecord(std::ostream& out, const std::vector<TCsvField>& fields);

// Reads CSV records one at a time, tracking lines and columns for messages.
class TCsvReader {
 public:
  explicit TCsvReader(std::istream& in) : FIn(in) {}
  // The next record; false at the end of the input. A malformed record (a
  // quote inside an unquoted field, text after a closing quote, an unclosed
  // quote) sets Error, ErrorLine and ErrorColumn and returns false.
  bool Next(std::vector<TCsvField>& fields);
  // Line (1-based) on which the record last read starts.
  int RecordLine() const { return FRecordLine; }
  // Column (1-based) at which field i of the record last read starts.
  int FieldColumn(std::size_t i) const { return i < FColumns.size() ? FColumns[i] : 1; }
  const std::string& Error() const { return FError; }
  int ErrorLine() const { return FErrorLine; }
  int ErrorColumn() const { return FErrorColumn; }

 private:
  int Get();
  int Peek() { return FIn.peek(); }
  bool Fail(const std::string& what);

  std::istream& FIn;
  int FLine = 1;
  int FColumn = 1;
  int FRecordLine = 1;
  std::vector<int> FColumns;
  std::string FError;
  int FErrorLine = 0;
  int FErrorColumn = 0;
};

}  // namespace tarn_tool
