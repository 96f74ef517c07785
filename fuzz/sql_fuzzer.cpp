// SQL statements: the input is a statement text, prepared on an in-memory
// database. Every input must end normally or with an ETarnEngineError; a
// statement that parses must print a text that parses back to the same text.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/base/engine_error.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "sql/query_statement.h"

using namespace tarn;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TDataSession session;
  static TDataDirectory& directory = session.OpenDirectory(MemoryDirectoryName);
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TQueryStatement statement(directory);
  try {
    statement.Parse(text);
  } catch (const ETarnEngineError&) {
    return 0;
  }
  const std::string printed = statement.Print();
  try {
    statement.Parse(printed);
  } catch (const ETarnEngineError&) {
    std::abort();  // the printed form must parse
  }
  if (statement.Print() != printed) std::abort();
  return 0;
}
