#include "sql/data_query.h"

namespace tarn {

const char* QueryKindName(TQueryKind kind) {
  switch (kind) {
    case TQueryKind::None:
      return "";
    case TQueryKind::Select:
      return "SELECT";
    case TQueryKind::Insert:
      return "INSERT";
    case TQueryKind::Update:
      return "UPDATE";
    case TQueryKind::Delete:
      return "DELETE";
    case TQueryKind::CreateTable:
      return "CREATE TABLE";
    case TQueryKind::AlterTable:
      return "ALTER TABLE";
    case TQueryKind::DropTable:
      return "DROP TABLE";
    case TQueryKind::CreateIndex:
      return "CREATE INDEX";
    case TQueryKind::DropIndex:
      return "DROP INDEX";
    case TQueryKind::StartTransaction:
      return "START TRANSACTION";
    case TQueryKind::Rollback:
      return "ROLLBACK";
    case TQueryKind::Commit:
      return "COMMIT";
  }
  return "";
}

}  // namespace tarn
