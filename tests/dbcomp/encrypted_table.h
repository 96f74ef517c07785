#pragma once
// An encrypted table on disk, made through the engine, and a way to open it
// the way a table component will: through the session's engine session, with
// a cursor whose password callback is the session's.

#include <string>

#include "dbcomp/session.h"
#include "engine/base/engine_error.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/session/table_cursor.h"
#include "engine/table/field_desc.h"
#include "engine/table/field_types.h"

namespace dbcomp_testing {

inline constexpr const char* EncryptedTableName = "Secret";
inline constexpr const char* EncryptedTablePassword = "Open Sesame";

// Creates the table "Secret" (one string field, natural order) in path,
// encrypted with the password "Open Sesame".
inline void CreateEncryptedTable(const std::string& path) {
  tarn::TTableDefinition def;
  def.Fields.push_back(tarn::MakeFieldDesc(1, "Name", tarn::FieldType::String, 0, 20));
  tarn::AssignFieldOffsets(def.Fields);
  def.Encrypted = true;
  def.Password = EncryptedTablePassword;
  tarn::TDataSession engine;
  tarn::TDataDirectory& dir = engine.OpenDirectory("Quiz", path);
  dir.ReleaseTable(dir.CreateTable(EncryptedTableName, false, false, def), false);
}

// The cursor side of an open: its password event is the session's callback
// with the session as context, as the table component installs it.
class TSessionCursor : public tarn::TTableCursor {
 public:
  explicit TSessionCursor(dbcomp::TTarnSession& session) : FSession(session) {}
  bool IsInternalCursor() const override { return false; }
  bool CountsAsSharer() const override { return true; }
  bool RequestPassword() override { return dbcomp::TTarnSession::PasswordCallback(&FSession, 0); }

 private:
  dbcomp::TTarnSession& FSession;
};

// Opens and closes "Secret" in path through session inside Enter/Leave;
// answers the engine code raised (0 when it opened).
inline tarn::TErrorCode OpenEncryptedTable(dbcomp::TTarnSession& session, const std::string& path) {
  dbcomp::TSessionGuard guard(session);
  tarn::TDataSession& engine = *session.EngineSession();
  tarn::TDataDirectory& dir = engine.OpenDirectory("Quiz", path);
  TSessionCursor cursor(session);
  tarn::TErrorCode code = tarn::TARN_NONE;
  try {
    tarn::TDataTable& table = dir.OpenTableForCursor(EncryptedTableName, {}, cursor);
    dir.ReleaseTableForCursor(table, cursor, false);
  } catch (const tarn::ETarnEngineError& e) {
    code = e.ErrorCode();
  }
  engine.CloseDirectory(dir);
  return code;
}

}  // namespace dbcomp_testing
