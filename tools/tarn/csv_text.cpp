#include "tools/tarn/csv_text.h"

namespace tarn_tool {

namespace {

bool NeedsQuotes(const std::string& s) {
  return s.empty() || s.find_first_of(",\"\r\n") != std::string::npos || s.front() == ' ' || s.back() == ' ';
}

}  // namespace

void WriteCsvRecord(std::ostream& out, const std::vector<TCsvField>& fields) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out << ',';
    if (!fields[i]) continue;
    const std::string& s = *fields[i];
    if (!NeedsQuotes(s)) {
      out << s;
      continue;
    }
    out << '"';
    for (char c : s) {
      if (c == '"') out << '"';
      out << c;
    }
    out << '"';
  }
  out << '\n';
}

int TCsvReader::Get() {
  const int c = FIn.get();
  if (c == '\n') {
    ++FLine;
    FColumn = 1;
  } else if (c != EOF) {
    ++FColumn;
  }
  return c;
}

bool TCsvReader::Fail(const std::string& what) {
  FError = what;
  FErrorLine = FLine;
  FErrorColumn = FColumn;
  return false;
}

bool TCsvReader::Next(std::vector<TCsvField>& fields) {
  fields.clear();
  FColumns.clear();
  if (Peek() == EOF) return false;
  FRecordLine = FLine;
  for (;;) {
    FColumns.push_back(FColumn);
    if (Peek() == '"') {
      Get();
      std::string text;
      for (;;) {
        const int c = Get();
        if (c == EOF) return Fail("a quoted field is not closed");
        if (c == '"') {
          if (Peek() == '"') {
            text += static_cast<char>(Get());
            continue;
          }
          break;
        }
        text += static_cast<char>(c);
      }
      fields.emplace_back(std::move(text));
      const int after = Peek();
      if (after != ',' && after != '\n' && after != '\r' && after != EOF) return Fail("text after a closing quote");
    } else {
      std::string text;
      for (int c = Peek(); c != ',' && c != '\n' && c != '\r' && c != EOF; c = Peek()) {
        if (c == '"') return Fail("a quote inside an unquoted field");
        text += static_cast<char>(Get());
      }
      fields.emplace_back(text.empty() ? TCsvField() : TCsvField(std::move(text)));
    }
    const int end = Get();
    if (end == ',') continue;
    if (end == '\r' && Peek() == '\n') Get();
    return true;
  }
}

}  // namespace tarn_tool
