#pragma once
// What a shared table needs of a cursor that opens it.
//
// The cursor layer sits above the session layer, so the shared table and its
// directory reach cursors only through this interface: the cursor implements
// it, tests use a fake. The record locks a cursor holds are kept in the
// table's bookkeeping (TDataTable::LockCursorRecord / UnlockCursorRecord); the
// cursor itself remembers only which record it locked.
//
// Threads: called on the cursor's thread while the cursor opens or closes.

namespace tarn {

class TTableCursor {
 public:
  virtual ~TTableCursor() = default;

  // The engine's own cursors (work tables of table maintenance and of the SQL
  // engine): opening the table checks only its version, not the whole table.
  virtual bool IsInternalCursor() const = 0;
  // False for the SQL engine's internal cursors that carry exactly one of its
  // two statement flags: they do not count as sharing the table.
  virtual bool CountsAsSharer() const = 0;
  // The password callback: asked when the table is encrypted and no password
  // of the session fits. True: the session's list may have changed, try
  // again. False (or no callback installed): the open fails with 10498.
  virtual bool RequestPassword() = 0;
};

}  // namespace tarn
