#pragma once
// Shared helpers of the SQL tests: a session with an in-memory database and
// a statement on it, and the parse outcome of a text in one string.

#include <memory>
#include <string>
#include <string_view>

#include "engine/base/engine_error.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "sql/query_statement.h"

namespace sqltest {

// A session, an in-memory database and a statement on it (the parse tests
// use Parse: their tables do not exist).
struct TStatementFixture {
  tarn::TDataSession Session;
  tarn::TDataDirectory& Directory = Session.OpenDirectory(tarn::MemoryDirectoryName);
  tarn::TQueryStatement Statement{Directory};
};

// The canonical text of the statement, or "error <code>: <message> @<offset>".
inline std::string ParseOutcome(tarn::TQueryStatement& statement, std::string_view text) {
  try {
    statement.Parse(text);
    return statement.Print();
  } catch (const tarn::ETarnEngineError& e) {
    const std::size_t at = statement.ErrorPosition() ? statement.ErrorPosition()->Offset : 0;
    return "error " + std::to_string(e.ErrorCode()) + ": " + e.ErrorMessage() + " @" +
           std::to_string(at);
  }
}

}  // namespace sqltest
