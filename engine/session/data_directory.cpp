#include "engine/session/data_directory.h"

#include <algorithm>
#include <utility>

#include "engine/base/error_context.h"
#include "engine/files/file_list.h"
#include "engine/files/path_helpers.h"
#include "engine/files/table_file_name.h"
#include "engine/files/temp_names.h"
#include "engine/session/data_session.h"
#include "engine/session/table_cursor.h"

namespace tarn {

TDataDirectory::TDataDirectory(TDataSession& session, std::string_view name, std::string_view path)
    : FSession(session), FName(name), FPath(path) {}

TDataDirectory::~TDataDirectory() {
  if (FInTransaction) {
    try {
      Rollback();
    } catch (...) {
      // The tables are closed below all the same.
    }
  }
  // Last opened first: each table is closed (exclusive buffers written) and
  // freed; a failure of one table does not keep the others open.
  while (!FTables.empty()) {
    TDataTable& table = *FTables.back();
    try {
      table.SetInTransaction(false);
      while (table.IsOpen()) table.CloseTable(true);
    } catch (...) {
      // The table object's destructor below closes what is left quietly.
    }
    FTables.pop_back();
  }
}

void TDataDirectory::Raise(TErrorCode code, std::string_view table) const {
  RaiseEngineError(code, {.Database = FName, .Table = table});
}

TDataTable* TDataDirectory::FindTable(std::string_view name, bool inMemory) const {
  const std::string wanted = TrimName(name);
  for (const auto& t : FTables)
    if (t->InMemory() == inMemory && EqualNoCase(TrimName(t->Name()), wanted)) return t.get();
  return nullptr;
}

int TDataDirectory::IndexOf(const TDataTable& t) const {
  for (std::size_t i = 0; i < FTables.size(); ++i)
    if (FTables[i].get() == &t) return static_cast<int>(i);
  return -1;
}

void TDataDirectory::Remove(const TDataTable& t) noexcept {
  const int index = IndexOf(t);
  if (index >= 0) FTables.erase(FTables.begin() + index);
}

TDataTable& TDataDirectory::StartTable(TDataTable* idle, std::string_view name, const TTableOpenOptions& flags,
                                       const std::function<void(TDataTable&)>& start) {
  if (idle != nullptr) {
    idle->SetFlags(flags);
    try {
      start(*idle);
    } catch (...) {
      if (!idle->IsOpen() && !idle->InTransaction()) Remove(*idle);
      throw;
    }
    return *idle;
  }
  auto table = std::make_unique<TDataTable>(*this, TrimName(name));
  table->SetFlags(flags);
  start(*table);  // a failure frees the new object
  FTables.push_back(std::move(table));
  return *FTables.back();
}

TDataTable& TDataDirectory::OpenTable(std::string_view name, const TTableOpenOptions& options) {
  TDataTable& table = OpenTableOutside(name, options);
  if (FInTransaction && !table.InTransaction()) {
    try {
      JoinTransaction(table);
    } catch (...) {
      try {
        ReleaseTable(table, false);
      } catch (...) {
        // The join's failure is the one reported.
      }
      throw;
    }
  }
  return table;
}

TDataTable& TDataDirectory::OpenTableOutside(std::string_view name, const TTableOpenOptions& options) {
  TDataTable* t = FindTable(name, options.InMemory);
  if (t != nullptr && (t->OpenCount() > 0 || t->InTransaction())) {
    if ((t->Exclusive() || options.Exclusive) && t->OpenCount() > 0 && !options.JoinInUse)
      Raise(TARN_OSEACCES, name);
    if (!t->IsOpen()) t->SetFlags(options);  // held only by a transaction
    t->OpenTable();
    return *t;
  }
  return StartTable(t, name, options, [](TDataTable& table) { table.OpenTable(); });
}

void TDataDirectory::ReleaseTable(TDataTable& table, bool discard) {
  if (IndexOf(table) < 0) Raise(TARN_OSENOENT, table.Name());
  std::exception_ptr failure;
  if (table.IsOpen()) {
    try {
      table.CloseTable(discard);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  if (!table.IsOpen() && !table.InTransaction()) Remove(table);
  if (failure) std::rethrow_exception(failure);
}

TDataTable& TDataDirectory::OpenTableForCursor(std::string_view name, const TTableOpenOptions& options,
                                               TTableCursor& cursor) {
  TDataTable& table = OpenTable(name, options);
  try {
    if (table.OpenCount() == 1 && !(table.InTransaction() && table.DataWritten())) {
      if (cursor.IsInternalCursor()) {
        table.CheckTableVersion();
      } else {
        TTableReadBracket read(table);
        table.VerifyTable();
      }
    }
    table.DemandPassword(&cursor);
    table.AttachCursor(cursor);
  } catch (...) {
    try {
      ReleaseTable(table, false);
    } catch (...) {
      // The open's own failure is the one reported.
    }
    throw;
  }
  return table;
}

void TDataDirectory::ReleaseTableForCursor(TDataTable& table, TTableCursor& cursor, bool discard) {
  if (IndexOf(table) < 0) Raise(TARN_OSENOENT, table.Name());
  table.DetachCursor(cursor);
  ReleaseTable(table, discard);
}

TDataTable& TDataDirectory::CreateTable(std::string_view name, bool inMemory, bool temporary,
                                        const TTableDefinition& definition) {
  const TTableOpenOptions flags{.InMemory = inMemory, .Temporary = temporary, .Exclusive = true};
  TDataTable* t = FindTable(name, inMemory);
  if (t != nullptr && (t->OpenCount() > 0 || t->InTransaction())) Raise(TARN_OSEACCES, name);
  return StartTable(t, name, flags, [&definition](TDataTable& table) { table.CreateTable(definition); });
}

void TDataDirectory::DeleteTable(std::string_view name, bool inMemory) {
  if (TDataTable* t = FindTable(name, inMemory)) {
    if (t->OpenCount() > 0) Raise(TARN_OSEACCES, name);
    t->DeleteTable();
    if (!t->InTransaction()) Remove(*t);
    return;
  }
  TDataTable scratch(*this, TrimName(name));
  scratch.SetFlags({.InMemory = inMemory});
  scratch.DeleteTable();
}

void TDataDirectory::RenameTable(std::string_view name, bool inMemory, std::string_view newName, bool backup) {
  if (TDataTable* t = FindTable(name, inMemory)) {
    if (t->OpenCount() > 0) Raise(TARN_OSEACCES, name);
    t->RenameTable(newName, backup);
    // The object named files that are gone now.
    if (!t->InTransaction()) Remove(*t);
    return;
  }
  TDataTable scratch(*this, TrimName(name));
  scratch.SetFlags({.InMemory = inMemory});
  scratch.RenameTable(newName, backup);
}

bool TDataDirectory::TableExists(std::string_view name, bool inMemory) const {
  const std::string dataName = MakeTableFileName(name, TableFileExt::Data, TableFileExt::Data);
  for (const auto& t : FTables) {
    if (t->InMemory() != inMemory) continue;
    const std::string tableFile = MakeTableFileName(t->Name(), TableFileExt::Data, TableFileExt::Data);
    if (EqualNoCase(tableFile, dataName)) return true;
  }
  return FileList().FileExists(FPath + dataName, inMemory);
}

std::string TDataDirectory::UniqueTableName(bool inMemory) const {
  return UniqueTempName(TableFileExt::Data, [&](const std::string& candidate) { return TableExists(candidate, inMemory); });
}

}  // namespace tarn
