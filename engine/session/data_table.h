#pragma once
// The shared object of one table in one directory of one session.
//
// TDataTable owns the table's three file handlers (data, index and, when the
// table has blob fields, blob), the record, page and block caches behind them,
// and the table's lock state. Every cursor of the session on the table uses
// this one object; two sessions of one process that open the same table have
// two objects, which share only the file objects of FileList() (one OS
// descriptor per file per process) and meet each other through the byte-range
// locks of lock_ranges.h, exactly as two programs do.
//
// It is the owner the three file handlers ask for session settings, names,
// encryption and transaction state (TDataFileOwner, TIndexOwner, TBlobOwner).
//
// Lock state (a table opened exclusively, or whose files are read-only by
// attribute, takes no locks at all):
//   idle -> reading   BeginRead: a read lock (random slot) on the index file
//                     and, with blob fields, on the blob file; EndRead
//   idle -> writing   BeginWrite: the data file's transaction byte (unless a
//                     transaction holds it), then the write lock of the index
//                     and of the blob file; EndWrite
//   transaction       LockTransaction .. UnlockTransaction: the transaction
//                     byte; BeginWrite skips it and UnlockRecord defers
//   record R locked   LockRecord .. UnlockRecord (or the end of the
//                     transaction); bookkept in FLockedRecords
// Every lock is held by a TRegionLock guard: a Begin that fails part way gives
// back what it already took before raising, and the End functions release
// exactly what their Begin took. CloseTable releases everything still held.
//
// Record bookkeeping (bitmaps of record numbers, each sized for 8192 records
// at creation and grown on demand):
//   FLockedRecords    records whose lock byte this table holds
//   FCursorLocks      records locked by cursors of this table: a second cursor
//                     asking for one fails at once with 10258
//   FDeferredUnlocks  records whose unlock waits for the end of the transaction
// Invariants (CheckInvariants): (1) the read, query-read and write states
// agree with the guards held; (2) without a transaction FDeferredUnlocks is empty;
// (3) an exclusive or read-only-attribute table holds no lock guard; (4) a file
// marked by an open write of the buffers is open and carries the mark in memory.
//
// Change detection: CheckForChanges compares the change counters of the three
// file headers with the disk and empties the caches of whatever changed. It
// runs whenever BeginRead, BeginWrite or LockTransaction take their locks
// afresh.
//
// Writes of the buffers follow write_order.h: headers marked first, then the
// records, pages and blocks, then the marks cleared. A mark this object did
// not set, read while no writer can be at work, is the trace of an
// interrupted write: Damage() names it, BeginWrite and every write of the
// buffers refuse with it, reads go on, and ClearInterruptedWrite removes it.
// Write state: idle -> open (BeginBufferWrite, or a cache writing to make
// room, announces files; FAnnounced) -> idle (EndBufferWrite). An open write
// that fails, is discarded or outlives its write lock (EndWrite) leaves its
// marks as damage.
//
// Threads: one thread at a time (the session's); no lock of its own.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/blob/blob_file.h"
#include "engine/blob/blob_owner.h"
#include "engine/files/file_claim.h"
#include "engine/index/index_descriptor.h"
#include "engine/index/index_file.h"
#include "engine/index/index_owner.h"
#include "engine/index/text_words.h"
#include "engine/session/table_case_mapper.h"
#include "engine/session/lock_ranges.h"
#include "engine/session/region_lock.h"
#include "engine/session/write_order.h"
#include "engine/table/data_file.h"
#include "engine/table/data_file_owner.h"
#include "engine/table/field_desc.h"
#include "engine/table/records_bitmap_stack.h"

namespace tarn {

class TDataDirectory;
class TDataSession;
class TTableCursor;

// How a table is asked for by a cursor or the directory.
struct TTableOpenOptions {
  bool InMemory = false;
  bool Temporary = false;
  bool Exclusive = false;
  bool ReadOnly = false;
  // Share a table in use even when one side wants exclusive use.
  bool JoinInUse = false;
};

// Everything a new table is made of. The field definitions carry their
// physical sizes and offsets already (AssignFieldOffsets).
struct TTableDefinition {
  std::int16_t LanguageId = 0;
  std::int16_t SortId = 0;
  std::vector<TFieldDesc> Fields;
  // FieldCount 0: the table has no primary index (natural order).
  TIndexDescriptor Primary;
  std::vector<TIndexDescriptor> Secondary;
  // The definition of the "Sys Text" slot (32), when the table has one: its
  // key fields (string or memo fields); the rest of the slot is fixed
  // (TIndexFile::SetTextDescriptor).
  std::optional<TIndexDescriptor> TextIndex;
  // The full-text parameters written into the text-parameter pages at
  // creation. A table with a "Sys Text" index always gets them (the defaults
  // when unset); one without gets them only when they are set.
  std::optional<TTextIndexParams> TextParams;
  // 0 means 512.
  std::uint16_t BlobBlockSize = 512;
  std::string Description;
  std::string Password;
  bool Encrypted = false;
  std::int16_t UserMajorVersion = 0;
  std::int16_t UserMinorVersion = 0;
  // The table's last auto-increment value (RecAutoInc counter) once made;
  // -1 keeps the current value in a restructure (0 for a new table).
  std::int32_t LastAutoInc = -1;
};

// Counters of lock attempts, for statistics and tests only.
struct TTableLockStats {
  std::uint64_t RecordLockAttempts = 0;  // every try of a record-lock byte
  std::uint64_t TableLockAttempts = 0;   // every try of a read, write or transaction lock
};

class TDataTable final : public TDataFileOwner, public TIndexOwner, public TBlobOwner {
 public:
  // Bits each record bitmap covers when the table object is made.
  static constexpr std::uint32_t InitialBitmapRecords = 8192;

  TDataTable(TDataDirectory& directory, std::string_view tableName);
  // Closes the table (discarding) when still open; never throws.
  ~TDataTable() override;
  TDataTable(const TDataTable&) = delete;
  TDataTable& operator=(const TDataTable&) = delete;

  // ---- identity and flags ----
  TDataDirectory& Directory() const { return FDirectory; }
  TDataSession& Session() const;
  const std::string& Name() const { return FTableName; }
  std::uint16_t OpenCount() const { return FOpenCount; }
  std::uint16_t CursorCount() const { return FCursorCount; }
  bool IsOpen() const { return FOpen; }
  bool Exclusive() const { return FExclusive; }
  bool ReadOnly() const { return FReadOnly; }
  bool ReadOnlyAttr() const { return FReadOnlyAttr; }
  bool InMemory() const { return FInMemory; }
  bool Temporary() const { return FTemporary; }
  bool IndexRecreated() const { return FIndexRecreated; }
  // Flags taken from an open or create request. Requires: not open.
  void SetFlags(const TTableOpenOptions& options);
  void SetExclusive(bool value) { FExclusive = value; }
  // A transaction is active on the table (maintained by the directory's
  // transactions).
  bool InTransaction() const override { return FInTransaction; }
  void SetInTransaction(bool value) { FInTransaction = value; }

  // ---- files ----
  // Gives each handler its file name (directory path + MakeTableFileName(name,
  // ".DAT", ext)) and the table's exclusive, read-only, in-memory and
  // temporary flags.
  void BuildFileNames();
  // Raises FOpenCount; when not open yet, opens the data file, the index file
  // (recreating it empty when it is missing, FIndexRecreated) and, with blob
  // fields, the blob file. Headers that show a write-in-progress mark are
  // read again under a read lock (a writer still at work has cleared it by
  // then); what remains is Damage(). Any failure closes what was opened,
  // leaves the count as it was and re-raises.
  void OpenTable();
  // Lowers FOpenCount; at 0 (and outside a transaction) writes the buffers of
  // an exclusive table (or discards them: temporary and discard), releases
  // every lock and closes the files. Nothing when not open. The files are
  // closed even when the write fails; the failure is re-raised afterwards.
  void CloseTable(bool discard);
  // Creates the three files, open and exclusive, with everything still to be
  // written (WriteBuffers or CloseTable writes it). A definition with a
  // "Sys Text" index gets slot 32 and its text-parameter chain (the given
  // parameters or the defaults); see TTableDefinition::TextParams. Raises 10015 for an
  // encrypted table with an empty password or one of 16 or more characters,
  // before anything is created; on any later failure the files made so far
  // are closed and deleted.
  void CreateTable(const TTableDefinition& definition);
  // Deletes the data and index files (a failure raises) and the blob file when
  // it exists. Each file is first claimed exclusively (file_claim.h) and the
  // claims are held until the last file is gone: a file in use in this
  // process or in another one raises 11013 naming the table, a missing data
  // or index file 11010, a file read-only by attribute 11013, and in each of
  // these cases nothing is deleted. Raises 11013 when this object is open.
  void DeleteTable();
  // Renames every existing file of the table to newName (with backup: to the
  // backup extensions, an existing backup file being deleted first). newName
  // is put into the table's directory unless it carries its own path or the
  // table is in memory. The files are claimed as for DeleteTable (11013 naming
  // the table when one is in use anywhere, nothing renamed); a rename that
  // fails part way moves the files already renamed back before raising.
  // Raises 11013 when this object is open.
  void RenameTable(std::string_view newName, bool backup);
  // Writes the buffers and copies the index file to the ".IBK" file.
  void BackupIndexFile();
  // Copies the ".IBK" file back into the index file (unless skipCopy; the
  // cached pages are dropped and the header re-read) and deletes the ".IBK"
  // file when deleteBackup and it exists.
  void RestoreIndexFile(bool skipCopy, bool deleteBackup);
  // Writes the dirty records, pages and blocks and the changed (or forced)
  // headers in the order of write_order.h: BeginBufferWrite,
  // WriteBufferContents, EndBufferWrite. Each header written raises its
  // change counter once. Nothing for a read-only table; inside a transaction
  // only the forced headers are marked changed (their change counters rise in
  // memory). Raises Damage() when the table is damaged and anything is to be
  // written; any failure after the first mark leaves the table damaged
  // (AbandonBufferWrite) and is re-raised.
  void WriteBuffers(bool clear = false, bool forceDataHeader = false, bool forceFlush = false,
                    bool forceBlobHeader = false, bool forceIndexHeader = false);
  // The three phases of an ordered write, for callers that write several
  // tables as one (a commit runs phase 1 on every table before phase 2 on
  // any). Requires: the table's write lock held (or exclusive use) and the
  // table outside its transaction for the duration.
  // Phase 1: marks the header of every file with something to write (or a
  // forced header) that is not marked yet; flushes them when a flush is
  // wanted. Raises Damage() first when the table is damaged and anything is
  // to be written.
  void BeginBufferWrite(const TBufferWrite& write);
  // Phase 2: writes the records and definitions, pages and blocks, flushing
  // each written file when a flush is wanted; with Clear trims the caches.
  void WriteBufferContents(const TBufferWrite& write);
  // Phase 3: clears the marks of phase 1 (and of any cache writes since),
  // flushing each file when a flush is wanted.
  void EndBufferWrite(const TBufferWrite& write);
  // After a failure in any phase: the marks this object set stay on disk, and
  // the files it marked count as damaged in its own view even where the mark
  // never reached the disk. Never throws.
  void AbandonBufferWrite() noexcept;
  // A write is open: some header carries a mark this object set.
  bool BufferWriteOpen() const;
  // The corruption code of the first file (data 8961, index 8965, blob 8963)
  // whose header, as last read or written, carries a mark this object did not
  // set (an interrupted write), or that an abandoned write of this object had
  // marked; TARN_NONE for a sound table.
  TErrorCode Damage() const;
  // For the repair tool: takes the write lock (nothing to take for an
  // exclusive table), drops the cached records, pages and blocks (unwritten
  // changes included), re-reads the headers, forgets any abandoned write of
  // this object, and writes every marked header back without its mark (its
  // change counter raised, so that others re-read it), flushing each. Other
  // programs see the table as sound again; checking and rebuilding its
  // contents is the caller's job, after this call. Requires: outside a
  // transaction (its buffered changes would be dropped). Raises 11013 for a
  // read-only table, 10249 when the write lock cannot be had.
  void ClearInterruptedWrite();
  // Drops every cached record, page and block without writing; with clear
  // trims the caches, with reread reads the three headers again. A write of
  // the buffers still open is abandoned (AbandonBufferWrite). Raises
  // DiscardCount.
  void DiscardBuffers(bool clear, bool reread);
  // How often the buffers were dropped unwritten. Cursors keep it with their
  // change-count snapshot: after a rollback the counters read back from disk
  // may equal a value a cursor saw during the transaction, so the counters
  // alone cannot tell that the cursor's view is gone.
  std::uint32_t DiscardCount() const { return FDiscardCount; }
  // Empties the open files and drops their caches.
  void EmptyTable();
  // Compares the change counters of the three headers with the disk; empties
  // the caches of what changed (re-reading the data header when the index
  // changed). True when anything changed.
  bool CheckForChanges();
  // The full check of a table first opened: data file, index header (unless
  // recreated) and blob header (with blob fields).
  void VerifyTable();
  // The version checks only.
  void CheckTableVersion();

  // ---- passwords ----
  // Nothing for a table that is not encrypted. Otherwise, while the session
  // has no password exactly equal to the table's, asks cursor->RequestPassword();
  // a refusal (or no cursor) raises 10498 naming the table.
  void DemandPassword(TTableCursor* cursor);

  // ---- cursors ----
  void AttachCursor(TTableCursor& cursor);
  void DetachCursor(TTableCursor& cursor) noexcept;

  // ---- locks ----
  // See the class comment. Begin functions return whether CheckForChanges
  // found a change. Raise 10249 when a lock cannot be had after its retries
  // (having released what they took), 10242 / 10249 when a release fails.
  // BeginWrite also raises Damage() of a damaged table, holding nothing then
  // (an exclusive table, which takes no locks, raises it all the same);
  // EndWrite abandons a write of the buffers still open (AbandonBufferWrite).
  bool BeginRead();
  void EndRead();
  bool BeginQueryRead();
  void EndQueryRead();
  bool BeginWrite();
  void EndWrite();
  void LockTransaction();
  void UnlockTransaction();
  // Locks record R (LockRetryCount + 1 attempts, LockWaitTime ms apart);
  // returns whether the read lock it took found a change (that read lock
  // stays held for the caller to end). False at once for an exclusive or
  // read-only-attribute table, or when the transaction already holds R.
  // Raises 10258 for R outside 1..200,000,000 or when every attempt fails.
  bool LockRecord(std::int32_t recordNo);
  // Releases record R (deferred to the end of a transaction). Raises 10242
  // when R is not locked or the release fails.
  void UnlockRecord(std::int32_t recordNo);
  // UnlockRecord of every locked record (only those deferred when
  // onlyDeferred), in increasing order; all are tried, the first failure is
  // raised at the end.
  void UnlockAllRecords(bool onlyDeferred);
  // Releases the records whose unlock was deferred while the transaction
  // lock stays held (a commit that keeps its transaction running). All are
  // tried; the first failure is raised at the end.
  void ReleaseDeferredUnlocks();

  // The cursor side of record locks: a record already locked by a cursor of
  // this table fails at once with 10258; otherwise LockRecord, and R joins
  // FCursorLocks. Returns LockRecord's result.
  bool LockCursorRecord(std::int32_t recordNo);
  // Removes R from FCursorLocks and UnlockRecord(R) (nothing more for an
  // exclusive or read-only-attribute table).
  void UnlockCursorRecord(std::int32_t recordNo);
  bool CursorLocked(std::int32_t recordNo) const;
  bool RecordLocked(std::int32_t recordNo) const;
  bool UnlockDeferred(std::int32_t recordNo) const;

  bool Reading() const { return FRead.Active; }
  bool QueryReading() const { return FQueryRead.Active; }
  bool Writing() const { return FWriting; }
  bool HoldsTransactionLock() const override { return FHoldsTransactionLock; }
  std::uint16_t ReadSlotIndex() const { return FRead.IndexSlot; }
  std::uint16_t ReadSlotBlob() const { return FRead.BlobSlot; }
  // Attempts and pauses of the table-level locks (32767 x 3 ms); tools and
  // tests may shorten them.
  void SetTableLockRetry(const TTableLockRetry& retry) { FTableLockRetry = retry; }
  const TTableLockStats& LockStats() const { return FLockStats; }

  // ---- pass-through to the files ----
  TDataFile& DataFile() { return FDataFile; }
  TIndexFile& IndexFile() { return FIndexFile; }
  TBlobFile& BlobFile() { return FBlobFile; }
  bool HasBlobFields() const { return FDataFile.GetBlobFieldCount() > 0; }
  bool DataWritten() const override { return FDataWritten; }
  void SetDataWritten() override { FDataWritten = true; }
  // Owner hooks of the caches: mark the file's header before its first
  // record, page or block reaches the disk (write_order.h).
  void BeforeWritingRecords() override;
  void BeforeWritingPages() override;
  void BeforeWritingBlocks() override;

  bool CheckInvariants() const;

  // ---- owner interfaces of the file handlers ----
  std::string_view TableName() const override { return FTableName; }
  std::string_view DatabaseName() const override;
  bool ForceBufferFlush() const override;
  bool StrictChangeDetection() const override;
  std::int32_t MaxDataBufferSize() const override;
  std::int32_t MaxDataBufferCount() const override;
  bool HasNoPrimaryIndex() const override;
  bool LocaleInstalled(std::int16_t languageId, std::int16_t sortId) const override;
  const TTextCaseMapper& CaseMapper() const override { return FCaseMapper; }
  bool IsEncrypted() const override { return FDataFile.IsEncrypted(); }
  std::int32_t MaxIndexBufferSize() const override;
  std::string_view PrivateDir() const override;
  void MarkDataWritten() override { FDataWritten = true; }
  std::uint16_t LanguageId() const override;
  std::uint16_t SortId() const override;
  int TableFieldCount() const override;
  TIndexFieldInfo TableField(int fieldNumber) const override;
  std::int32_t MaxBlobBufferSize() const override;
  std::int32_t MaxBlobBufferCount() const override;
  std::int32_t NextBlobStamp() override { return FDataFile.NextBlobStamp(); }

 private:
  // One read lock of the table (BeginRead's or BeginQueryRead's): a read slot
  // on the index file and, with blob fields, one on the blob file.
  // Invariants: Active == IndexLock.has_value(); BlobLock only while Active.
  // The slots are those of the held locks, 0 while not Active.
  struct TReadLocks {
    bool Active = false;
    std::uint16_t IndexSlot = 0;
    std::uint16_t BlobSlot = 0;
    std::optional<TRegionLock> IndexLock;
    std::optional<TRegionLock> BlobLock;

    bool Consistent() const { return Active == IndexLock.has_value() && (Active || !BlobLock); }
  };

  // Locks that apply at all: not exclusive, not read-only by attribute.
  bool TakesLocks() const { return !FExclusive && !FReadOnlyAttr; }
  // The table's files in the order every write visits them.
  enum TTableFile : int { DataPart = 0, IndexPart = 1, BlobPart = 2, PartCount = 3 };
  TFileHandler& FilePart(TTableFile part);
  bool PartOpen(TTableFile part) const;
  bool PartMarked(TTableFile part) const;
  // Phase 1 for one file: writes its header with the mark, records it in
  // FAnnounced and reports the step.
  void AnnouncePart(TTableFile part);
  // The hook path: phase 1 for one file not yet marked, flushed when the
  // session forces flushes. Raises Damage() on a damaged table.
  void AnnounceBeforeWriting(TTableFile part);
  void RaiseIfDamaged() const;
  bool FlushWanted(const TBufferWrite& write) const;
  // The unordered write, for the benchmark switch: each file's entries, then its
  // header, then its flush; reports RecordsWritten, PagesWritten and
  // BlobsWritten after each file's entries.
  void WriteBuffersUnordered(const TBufferWrite& write);
  // Headers read without a lock may show the mark of a writer still at work:
  // when they show one, reads them again under a read lock.
  void SettleWriteMarks();
  // BeginWrite; with refuseDamaged false (the repair) a damaged table is let in.
  bool BeginWriteLocks(bool refuseDamaged);
  [[noreturn]] void Raise(TErrorCode code) const;
  // Tries [offset, offset + length) up to FTableLockRetry.Attempts times.
  std::optional<TRegionLock> AcquireTableLock(TFileHandler& file, std::int64_t offset, std::int64_t length);
  // A read lock on a random slot, a new slot for every attempt.
  std::optional<TRegionLock> AcquireReadLock(TFileHandler& file, std::uint16_t& slot);
  void Pause(std::int32_t ms) const;
  // BeginRead and BeginQueryRead into their own set of read locks: nothing
  // (false) while the table reads, writes or holds its transaction lock, or
  // takes no locks; otherwise the index and blob read locks, then
  // CheckForChanges. A failure gives back what was taken and raises.
  bool BeginReadLocks(TReadLocks& locks);
  // EndRead and EndQueryRead: releases both locks (nothing when not active)
  // and raises 10242 when a release was refused.
  void EndReadLocks(TReadLocks& locks);
  // Releases both locks and clears the set; false when a release was refused.
  static bool ReleaseReadLocks(TReadLocks& locks) noexcept;
  // Releases every lock and closes the files, without writing and without
  // throwing. Leaves the table closed.
  void ReleaseAndCloseFiles() noexcept;
  void ClearLockSlots();
  void ApplyFlags();
  // An exclusive claim on the handler's file; raises 11013 naming the table
  // when the file is in use anywhere, the mapped code naming the file otherwise.
  TFileClaim ClaimFile(const TFileHandler& handler) const;

  TDataDirectory& FDirectory;
  std::uint16_t FOpenCount = 0;
  std::uint16_t FCursorCount = 0;
  std::string FTableName;
  bool FOpen = false;
  bool FExclusive = false;
  bool FReadOnly = false;
  bool FReadOnlyAttr = false;
  bool FInMemory = false;
  bool FTemporary = false;
  TDataFile FDataFile;
  TIndexFile FIndexFile;
  TBlobFile FBlobFile;
  bool FIndexRecreated = false;
  TPooledBitmap FLockedRecords;
  TPooledBitmap FCursorLocks;
  TPooledBitmap FDeferredUnlocks;

  // Lock state.
  TReadLocks FRead;       // BeginRead .. EndRead
  TReadLocks FQueryRead;  // BeginQueryRead .. EndQueryRead
  bool FWriting = false;
  bool FHoldsTransactionLock = false;
  std::optional<TRegionLock> FWriteTransactionByte;  // taken by BeginWrite
  std::optional<TRegionLock> FWriteIndexLock;
  std::optional<TRegionLock> FWriteBlobLock;
  std::optional<TRegionLock> FTransactionByte;  // taken by LockTransaction

  bool FInTransaction = false;
  bool FDataWritten = false;
  std::uint32_t FDiscardCount = 0;
  // The files whose header carries a mark set by this object's open write.
  std::array<bool, PartCount> FAnnounced{};
  // The files of an abandoned write: damaged in this object's view whatever
  // the disk says (its caches may hold half of the change), until
  // ClearInterruptedWrite or the table closes.
  std::array<bool, PartCount> FAbandoned{};

  std::vector<TTableCursor*> FCursors;
  TTableCaseMapper FCaseMapper;
  TTableLockRetry FTableLockRetry;
  TTableLockStats FLockStats;
  mutable std::vector<std::string> FFieldNames;
};

// A table-level lock of one operation: the Begin function in the
// constructor, the matching End function in the destructor (or Release) when
// this bracket took the lock; a table already holding it is left alone.
class TTableLockBracket {
 public:
  using TBegin = bool (TDataTable::*)();
  using TEnd = void (TDataTable::*)();
  using THeld = bool (TDataTable::*)() const;

  ~TTableLockBracket() { Release(); }
  TTableLockBracket(const TTableLockBracket&) = delete;
  TTableLockBracket& operator=(const TTableLockBracket&) = delete;
  // Ends the lock early; a failed release is ignored here.
  void Release() noexcept;
  // What the Begin function returned: CheckForChanges found a change.
  bool Changed() const { return FChanged; }

 protected:
  // Calls (table.*begin)(); the bracket owns the lock when (table.*held)()
  // turned true through that call. Begin's failure propagates.
  TTableLockBracket(TDataTable& table, TBegin begin, TEnd end, THeld held);

 private:
  TDataTable* FTable = nullptr;
  TEnd FEnd;
  bool FChanged = false;
};

// The read lock of one operation: BeginRead .. EndRead (a table already
// reading or writing is left alone).
class TTableReadBracket : public TTableLockBracket {
 public:
  explicit TTableReadBracket(TDataTable& table)
      : TTableLockBracket(table, &TDataTable::BeginRead, &TDataTable::EndRead, &TDataTable::Reading) {}
};

// The write lock of one operation: BeginWrite .. EndWrite, the same way.
class TTableWriteBracket : public TTableLockBracket {
 public:
  explicit TTableWriteBracket(TDataTable& table)
      : TTableLockBracket(table, &TDataTable::BeginWrite, &TDataTable::EndWrite, &TDataTable::Writing) {}
};

}  // namespace tarn
