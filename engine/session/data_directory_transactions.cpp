// TDataDirectory: transactions over the tables of the directory.
//
// There is no log. A table in a transaction holds its data file's
// transaction byte (TDataTable::LockTransaction), so no other program writes
// it meanwhile, and keeps every changed record, page and block in its caches:
// the caches never write to make room while the table is in a transaction
// but grow instead, and WriteBuffers only raises the change counters in
// memory, so that other cursors of this process refresh. Other programs keep
// reading the files, which hold the state of the last commit.
//
// A commit writes the buffers of all tables as one ordered write
// (write_order.h): every table's headers are marked before the first record,
// page or block of any table is written, and the marks are cleared only when
// every table is written. A committer killed at any point thus leaves either
// nothing of the commit, or marks that every other program reports as damage
// (never a commit that is half on disk and looks sound). The transaction
// lock stays held through the whole commit.
//
// A rollback drops the caches unwritten and re-reads the headers while the
// transaction lock is still held; TDataTable::DiscardCount tells the cursors
// that their view is gone even when the change counters read back equal a
// value they saw during the transaction.

#include <algorithm>
#include <exception>
#include <vector>

#include "engine/session/data_directory.h"
#include "engine/session/write_order.h"

namespace tarn {

namespace {

// Keeps the first failure of a pass that goes on after it.
template <class TFn>
void Keep(std::exception_ptr& failure, TFn&& fn) noexcept {
  try {
    fn();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
}

// Clears the InTransaction flag of the tables while the commit writes their
// buffers (the caches and WriteBuffers write only outside it) and sets it
// again afterwards, on every exit path.
class TWriteOutsideTransaction {
 public:
  explicit TWriteOutsideTransaction(const std::vector<TDataTable*>& tables) : FTables(tables) {
    for (TDataTable* t : FTables) t->SetInTransaction(false);
  }
  ~TWriteOutsideTransaction() {
    for (TDataTable* t : FTables) t->SetInTransaction(true);
  }
  TWriteOutsideTransaction(const TWriteOutsideTransaction&) = delete;
  TWriteOutsideTransaction& operator=(const TWriteOutsideTransaction&) = delete;

 private:
  const std::vector<TDataTable*>& FTables;
};

// Pass 2 of a commit: the three phases of the ordered write, each over every
// table before the next phase starts, then the temporary index pages. A
// failure abandons the write of every table (their marks stay as damage).
void WriteTransactionBuffers(const std::vector<TDataTable*>& tables, const TBufferWrite& write) {
  TWriteOutsideTransaction outside(tables);
  if (WriteOrderTesting::UnorderedWrites()) {
    for (TDataTable* t : tables) t->WriteBuffers(write.Clear, false, write.ForceFlush);
  } else {
    try {
      for (TDataTable* t : tables) t->BeginBufferWrite(write);
      for (TDataTable* t : tables) t->WriteBufferContents(write);
      for (TDataTable* t : tables) t->EndBufferWrite(write);
    } catch (...) {
      for (TDataTable* t : tables) t->AbandonBufferWrite();
      throw;
    }
  }
  for (TDataTable* t : tables) t->IndexFile().FlushPages(true);
}

}  // namespace

std::vector<TDataTable*> TDataDirectory::TransactionTables() const {
  std::vector<TDataTable*> tables;
  for (auto it = FTables.rbegin(); it != FTables.rend(); ++it) {
    if ((*it)->InTransaction()) tables.push_back(it->get());
  }
  return tables;
}

bool TDataDirectory::JoinTransaction(TDataTable& table) {
  if (table.InTransaction() || table.ReadOnly() || !table.IsOpen()) return false;
  // A rollback drops the caches: an exclusive table's earlier work, which
  // waits in them until the table closes, goes to disk first.
  if (table.Exclusive()) table.WriteBuffers();
  table.IndexFile().FlushPages(true);
  table.SetInTransaction(true);
  try {
    table.LockTransaction();
  } catch (...) {
    table.SetInTransaction(false);
    throw;
  }
  return true;
}

void TDataDirectory::LeaveTransaction(TDataTable& table, std::exception_ptr& failure) noexcept {
  table.SetInTransaction(false);
  // Under the transaction lock no other program is half way through a
  // write: the headers read back now are sound.
  Keep(failure, [&] { table.DiscardBuffers(true, true); });
  Keep(failure, [&] { table.UnlockTransaction(); });
}

void TDataDirectory::ReleaseUnusedTables(std::exception_ptr& failure) noexcept {
  for (std::size_t i = FTables.size(); i-- > 0;) {
    TDataTable& t = *FTables[i];
    if (t.InTransaction() || t.OpenCount() > 0) continue;
    if (t.IsOpen()) Keep(failure, [&] { t.CloseTable(false); });
    if (!t.IsOpen()) FTables.erase(FTables.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

void TDataDirectory::StartTransaction() {
  std::vector<TDataTable*> all;
  for (const auto& t : FTables) all.push_back(t.get());
  StartTransaction(all);
}

void TDataDirectory::StartTransaction(std::span<TDataTable* const> tables) {
  if (FInTransaction) return;
  std::vector<TDataTable*> joined;
  try {
    for (const auto& t : FTables) {
      if (std::find(tables.begin(), tables.end(), t.get()) == tables.end()) continue;
      if (JoinTransaction(*t)) joined.push_back(t.get());
    }
  } catch (...) {
    std::exception_ptr ignored;
    for (auto it = joined.rbegin(); it != joined.rend(); ++it) LeaveTransaction(**it, ignored);
    throw;
  }
  FInTransaction = true;
}

void TDataDirectory::Commit(bool endTransaction, bool forceFlush) {
  if (!FInTransaction) return;
  const std::vector<TDataTable*> tables = TransactionTables();
  std::exception_ptr failure;

  // Pass 1: the write locks (index and blob files; the transaction byte
  // covers the data file).
  std::vector<TDataTable*> locked;
  for (TDataTable* t : tables) {
    if (failure) break;
    const bool held = t->Writing();
    Keep(failure, [&] { t->BeginWrite(); });
    if (!held && t->Writing()) locked.push_back(t);
  }

  // Pass 2: the ordered write of every table's buffers.
  if (!failure) {
    const TBufferWrite write{.Clear = endTransaction, .ForceFlush = forceFlush};
    Keep(failure, [&] { WriteTransactionBuffers(tables, write); });
  }

  // Pass 3: the locks, whatever happened before.
  for (TDataTable* t : tables) {
    if (std::find(locked.begin(), locked.end(), t) != locked.end()) Keep(failure, [&] { t->EndWrite(); });
    if (endTransaction) {
      Keep(failure, [&] { t->UnlockTransaction(); });
      t->SetInTransaction(false);
    } else {
      Keep(failure, [&] { t->ReleaseDeferredUnlocks(); });
    }
  }
  if (endTransaction) {
    FInTransaction = false;
    ReleaseUnusedTables(failure);
  }
  if (failure) std::rethrow_exception(failure);
}

void TDataDirectory::Rollback() {
  if (!FInTransaction) return;
  std::exception_ptr failure;
  for (TDataTable* t : TransactionTables()) LeaveTransaction(*t, failure);
  FInTransaction = false;
  ReleaseUnusedTables(failure);
  if (failure) std::rethrow_exception(failure);
}

}  // namespace tarn
