#include "engine/session/data_table.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <exception>
#include <random>
#include <thread>

#include "engine/base/engine_error.h"
#include "engine/base/error_context.h"
#include "engine/files/file_claim.h"
#include "engine/files/file_list.h"
#include "engine/files/os_error.h"
#include "engine/files/path_helpers.h"
#include "engine/files/table_file_name.h"
#include "engine/index/collation.h"
#include "engine/index/text_params_chain.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/session/table_cursor.h"

namespace tarn {

namespace {

// Longest table password of an encrypted table.
constexpr std::size_t MaxTablePassword = 15;

// A uniformly random read slot, 0 replaced by 1.
std::uint16_t RandomReadSlot() {
  thread_local std::mt19937 engine{std::random_device{}()};
  const auto slot = static_cast<std::uint16_t>(std::uniform_int_distribution<int>(0, 65535)(engine));
  return slot == 0 ? 1 : slot;
}

bool ValidRecordNo(std::int32_t recordNo) { return recordNo >= 1 && recordNo <= LockRange::MaxRecord; }

// Gives a lock back; false when it was held and the release was refused.
bool ReleaseLock(std::optional<TRegionLock>& lock) noexcept {
  if (!lock) return true;
  const bool ok = lock->Release();
  lock.reset();
  return ok;
}

}  // namespace

TDataTable::TDataTable(TDataDirectory& directory, std::string_view tableName)
    : FDirectory(directory),
      FTableName(tableName),
      FDataFile(*this),
      FIndexFile(*this),
      FBlobFile(*this),
      FLockedRecords(InitialBitmapRecords),
      FCursorLocks(InitialBitmapRecords),
      FDeferredUnlocks(InitialBitmapRecords),
      FCaseMapper(FDataFile) {}

TDataTable::~TDataTable() {
  if (FOpen) ReleaseAndCloseFiles();
}

TDataSession& TDataTable::Session() const { return FDirectory.Session(); }

void TDataTable::Raise(TErrorCode code) const {
  RaiseEngineError(code, {.Database = FDirectory.Name(), .Table = FTableName});
}

void TDataTable::SetFlags(const TTableOpenOptions& options) {
  assert(!FOpen);
  FExclusive = options.Exclusive;
  FInMemory = options.InMemory;
  FTemporary = options.Temporary;
  FReadOnly = options.ReadOnly;
  FReadOnlyAttr = false;
}

// ---------------------------------------------------------------- files ----

void TDataTable::BuildFileNames() {
  const std::string& path = FDirectory.Path();
  struct TNamed {
    TFileHandler& Handler;
    std::string_view Ext;
  };
  const TNamed files[] = {{FDataFile, TableFileExt::Data}, {FIndexFile, TableFileExt::Index},
                          {FBlobFile, TableFileExt::Blob}};
  for (const TNamed& f : files) {
    f.Handler.SetFileName(path + MakeTableFileName(FTableName, TableFileExt::Data, f.Ext));
    f.Handler.SetExclusive(FExclusive);
    f.Handler.SetReadOnly(FReadOnly);
    f.Handler.SetInMemory(FInMemory);
    f.Handler.SetTemporary(FTemporary);
  }
}

void TDataTable::OpenTable() {
  if (FOpen) {
    ++FOpenCount;
    return;
  }
  const bool requestedReadOnly = FReadOnly;
  FIndexRecreated = false;
  BuildFileNames();
  ++FOpenCount;
  FOpen = true;
  try {
    FDataFile.OpenFile();
    try {
      FIndexFile.OpenFile();
    } catch (const ETarnEngineError& e) {
      if (e.ErrorCode() != TARN_OSENOENT) throw;
      // The index file is missing: make an empty one and open it the normal
      // way; the table is flagged so that maintenance can rebuild the keys.
      FIndexFile.CreateFile();
      FIndexFile.WriteIndexHeader(true);
      FIndexFile.CloseFile();
      FIndexFile.SetExclusive(FExclusive);
      FIndexFile.OpenFile();
      FIndexRecreated = true;
    }
    if (HasBlobFields()) {
      FBlobFile.SetBlockSize(FDataFile.GetBlobBlockSize());
      FBlobFile.OpenFile();
    }
  } catch (...) {
    ReleaseAndCloseFiles();
    FReadOnly = requestedReadOnly;
    throw;
  }
  FReadOnlyAttr = FDataFile.ReadOnlyAttr() || FIndexFile.ReadOnlyAttr() ||
                  (FBlobFile.Opened() && FBlobFile.ReadOnlyAttr());
  FReadOnly = requestedReadOnly || FReadOnlyAttr || FDataFile.ReadOnly() || FIndexFile.ReadOnly() ||
              (FBlobFile.Opened() && FBlobFile.ReadOnly());
  ClearLockSlots();
  FAnnounced = {};
  FAbandoned = {};
  try {
    SettleWriteMarks();
  } catch (...) {
    ReleaseAndCloseFiles();
    FReadOnly = requestedReadOnly;
    throw;
  }
  assert(CheckInvariants());
}

void TDataTable::SettleWriteMarks() {
  if (Damage() == TARN_NONE || !TakesLocks()) return;
  // No write is under way while the read lock is held: marks read now were
  // left by a writer that is gone. The counters cannot tell (a write clears
  // its marks without raising them again), so the headers are read anyway.
  TTableReadBracket read(*this);
  DiscardBuffers(false, true);
}

void TDataTable::CloseTable(bool discard) {
  if (!FOpen) return;
  if (FOpenCount > 0) --FOpenCount;
  if (FOpenCount > 0 || FInTransaction) return;
  std::exception_ptr failure;
  if (FExclusive && !FReadOnly) {
    try {
      if (FTemporary && discard)
        DiscardBuffers(true, false);
      else
        WriteBuffers(true);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  try {
    UnlockAllRecords(false);
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  ReleaseAndCloseFiles();
  if (failure) std::rethrow_exception(failure);
}

void TDataTable::ReleaseAndCloseFiles() noexcept {
  // Locks first: the guards need the files open.
  for (std::uint32_t r = 0; FLockedRecords->NextSet(r);)
    (void)FDataFile.LockRegion(false, LockRange::RecordOffset(r), 1);
  FLockedRecords->ClearAll();
  FCursorLocks->ClearAll();
  FDeferredUnlocks->ClearAll();
  (void)ReleaseReadLocks(FRead);
  (void)ReleaseReadLocks(FQueryRead);
  for (auto* lock : {&FWriteBlobLock, &FWriteIndexLock, &FWriteTransactionByte, &FTransactionByte})
    (void)ReleaseLock(*lock);
  FWriting = FHoldsTransactionLock = false;
  for (TFileHandler* file : {static_cast<TFileHandler*>(&FIndexFile), static_cast<TFileHandler*>(&FBlobFile),
                             static_cast<TFileHandler*>(&FDataFile)}) {
    try {
      file->CloseFile();
    } catch (...) {
      // The handler counts as closed whatever the file list reported.
    }
  }
  FIndexRecreated = false;
  FDataWritten = false;
  FAnnounced = {};
  FAbandoned = {};
  FOpenCount = 0;
  FOpen = false;
}

void TDataTable::ClearLockSlots() {
  FRead.IndexSlot = FRead.BlobSlot = 0;
  FQueryRead.IndexSlot = FQueryRead.BlobSlot = 0;
}

void TDataTable::CreateTable(const TTableDefinition& def) {
  if (def.Encrypted) {
    const std::string password = TrimName(def.Password);
    if (password.empty() || password.size() > MaxTablePassword) Raise(TARN_INVALIDPASSWORD);
  }
  if (FOpen) Raise(TARN_OSEACCES);
  BuildFileNames();
  ++FOpenCount;
  FOpen = true;
  bool dataMade = false, indexMade = false, blobMade = false;
  try {
    FDataFile.CreateDataFile(def.LanguageId, def.SortId, def.Fields, def.BlobBlockSize, def.Description,
                             def.Encrypted ? TrimName(def.Password) : std::string(), def.Encrypted,
                             def.UserMajorVersion, def.UserMinorVersion);
    dataMade = true;
    FIndexFile.CreateFile();
    indexMade = true;
    FIndexFile.SetPrimaryDescriptor(def.Primary);
    for (const TIndexDescriptor& index : def.Secondary) FIndexFile.AddIndexDescriptor(index);
    const bool textIndex = def.TextIndex && def.TextIndex->FieldCount > 0;
    if (textIndex) FIndexFile.SetTextDescriptor(*def.TextIndex);
    if (textIndex || def.TextParams) {
      TFixedTreeContext ctx(SysTextSlot);  // nobody else has the new files yet
      TTextParamsChain(FIndexFile).Write(ctx, def.TextParams ? *def.TextParams : TTextIndexParams::Defaults());
    }
    if (HasBlobFields()) {
      FBlobFile.SetBlockSize(def.BlobBlockSize == 0 ? DataFormat::DefaultBlobBlockSize : def.BlobBlockSize);
      FBlobFile.CreateFile();
      blobMade = true;
    }
  } catch (...) {
    ReleaseAndCloseFiles();
    // Leave no half-made table behind.
    if (blobMade) (void)FileList().DeleteFile(FBlobFile.FileName(), FInMemory);
    if (indexMade) (void)FileList().DeleteFile(FIndexFile.FileName(), FInMemory);
    if (dataMade) (void)FileList().DeleteFile(FDataFile.FileName(), FInMemory);
    throw;
  }
  FReadOnly = false;
  FReadOnlyAttr = false;
  FAnnounced = {};
  FAbandoned = {};
  ClearLockSlots();
}

TFileClaim TDataTable::ClaimFile(const TFileHandler& handler) const {
  std::int32_t result = 0;
  std::optional<TFileClaim> claim = TFileClaim::TryClaim(handler.FileName(), FInMemory, result);
  if (!claim) {
    // In use here or in another process: the table is refused as a whole.
    if (result == -static_cast<std::int32_t>(TARN_OSEACCES)) Raise(TARN_OSEACCES);
    RaiseFileError(static_cast<TErrorCode>(-result), handler.FileName());
  }
  return std::move(*claim);
}

void TDataTable::DeleteTable() {
  if (FOpen) Raise(TARN_OSEACCES);
  BuildFileNames();
  // Every file is claimed before any is removed, and the claims are held
  // until the last one is gone: a table in use anywhere loses nothing.
  std::vector<TFileClaim> claims;
  claims.push_back(ClaimFile(FDataFile));
  claims.push_back(ClaimFile(FIndexFile));
  if (FBlobFile.FileExists()) claims.push_back(ClaimFile(FBlobFile));
  for (const TFileClaim& claim : claims) {
    if (claim.ReadOnlyAttr()) RaiseFileError(TARN_OSEACCES, claim.Name());
  }
  for (TFileClaim& claim : claims) {
    SetLastOsError(0);
    const std::int32_t result = claim.Delete();
    if (result < 0) RaiseFileError(static_cast<TErrorCode>(-result), claim.Name());
  }
}

void TDataTable::RenameTable(std::string_view newName, bool backup) {
  if (FOpen) Raise(TARN_OSEACCES);
  BuildFileNames();
  const std::string target = (CarriesOwnPath(newName) || FInMemory) ? TrimName(newName)
                                                                    : FDirectory.Path() + TrimName(newName);
  struct TRenamed {
    TFileClaim Claim;
    std::string From;
    std::string To;
  };
  struct TFileKind {
    TFileHandler& Handler;
    std::string_view Ext;
    std::string_view BackupExt;
  };
  const TFileKind kinds[] = {{FDataFile, TableFileExt::Data, TableFileExt::DataBackup},
                             {FIndexFile, TableFileExt::Index, TableFileExt::IndexBackup},
                             {FBlobFile, TableFileExt::Blob, TableFileExt::BlobBackup}};
  // Every existing file is claimed before any is renamed; the claims are held
  // until all are done, so a table in use anywhere is left as it is.
  std::vector<TRenamed> files;
  for (const TFileKind& kind : kinds) {
    if (!kind.Handler.FileExists()) continue;
    files.push_back({ClaimFile(kind.Handler), kind.Handler.FileName(),
                     MakeTableFileName(target, TableFileExt::Data, backup ? kind.BackupExt : kind.Ext)});
  }
  std::size_t done = 0;
  try {
    for (; done < files.size(); ++done) {
      TRenamed& f = files[done];
      if (backup && FileList().FileExists(f.To, FInMemory)) (void)FileList().DeleteFile(f.To, FInMemory);
      SetLastOsError(0);
      const std::int32_t result = f.Claim.Rename(f.To);
      if (result < 0) RaiseFileError(static_cast<TErrorCode>(-result), f.From);
    }
  } catch (...) {
    // A table is renamed whole or not at all: move back what was moved.
    while (done > 0) {
      TRenamed& f = files[--done];
      (void)f.Claim.Rename(f.From);
    }
    throw;
  }
}

void TDataTable::BackupIndexFile() {
  WriteBuffers();
  FIndexFile.CopyToFile(MakeTableFileName(FIndexFile.FileName(), TableFileExt::Index, TableFileExt::IndexBackup));
}

void TDataTable::RestoreIndexFile(bool skipCopy, bool deleteBackup) {
  const std::string backupName =
      MakeTableFileName(FIndexFile.FileName(), TableFileExt::Index, TableFileExt::IndexBackup);
  if (!skipCopy) {
    FIndexFile.CopyFromFile(backupName);
    // The pages and header in memory describe the file before the copy.
    FIndexFile.DiscardPages(false);
    FIndexFile.ReadIndexHeader();
  }
  if (deleteBackup && FileList().FileExists(backupName, FInMemory)) {
    const std::int32_t result = FileList().DeleteFile(backupName, FInMemory);
    if (result < 0) RaiseEngineError(static_cast<TErrorCode>(-result), {.Database = FDirectory.Name(), .Table = backupName});
  }
}

void TDataTable::WriteBuffers(bool clear, bool forceDataHeader, bool forceFlush, bool forceBlobHeader,
                              bool forceIndexHeader) {
  if (FReadOnly || !FOpen) return;
  const bool blobOpen = FBlobFile.Opened();
  if (FInTransaction) {
    if (forceDataHeader) FDataFile.BumpChangeCount();
    if (forceIndexHeader) FIndexFile.BumpChangeCount();
    if (forceBlobHeader && blobOpen) FBlobFile.BumpChangeCount();
    return;
  }
  const TBufferWrite write{.Clear = clear,
                           .ForceDataHeader = forceDataHeader,
                           .ForceFlush = forceFlush,
                           .ForceBlobHeader = forceBlobHeader,
                           .ForceIndexHeader = forceIndexHeader};
  if (WriteOrderTesting::UnorderedWrites()) {
    WriteBuffersUnordered(write);
    return;
  }
  try {
    BeginBufferWrite(write);
    WriteBufferContents(write);
    EndBufferWrite(write);
  } catch (...) {
    AbandonBufferWrite();
    throw;
  }
}

TFileHandler& TDataTable::FilePart(TTableFile part) {
  switch (part) {
    case DataPart:
      return FDataFile;
    case IndexPart:
      return FIndexFile;
    default:
      return FBlobFile;
  }
}

bool TDataTable::PartOpen(TTableFile part) const {
  switch (part) {
    case DataPart:
      return FDataFile.Opened();
    case IndexPart:
      return FIndexFile.Opened();
    default:
      return FBlobFile.Opened();
  }
}

bool TDataTable::PartMarked(TTableFile part) const {
  if (!PartOpen(part)) return false;
  switch (part) {
    case DataPart:
      return FDataFile.WriteInProgress();
    case IndexPart:
      return FIndexFile.WriteInProgress();
    default:
      return FBlobFile.Header().WriteInProgress;
  }
}

TErrorCode TDataTable::Damage() const {
  if (!FOpen) return TARN_NONE;
  static constexpr TErrorCode Codes[PartCount] = {TARN_HEADERCORRUPT, TARN_INDEXCORRUPT, TARN_MEMOCORRUPT};
  for (int p = 0; p < PartCount; ++p) {
    const auto part = static_cast<TTableFile>(p);
    if ((PartMarked(part) && !FAnnounced[p]) || FAbandoned[p]) return Codes[p];
  }
  return TARN_NONE;
}

void TDataTable::RaiseIfDamaged() const {
  const TErrorCode damage = Damage();
  if (damage != TARN_NONE) Raise(damage);
}

bool TDataTable::BufferWriteOpen() const {
  return std::find(FAnnounced.begin(), FAnnounced.end(), true) != FAnnounced.end();
}

bool TDataTable::FlushWanted(const TBufferWrite& write) const {
  return write.ForceFlush || Session().ForceBufferFlush();
}

void TDataTable::AnnouncePart(TTableFile part) {
  static constexpr TWriteStep Steps[PartCount] = {TWriteStep::DataHeaderMarked, TWriteStep::IndexHeaderMarked,
                                                  TWriteStep::BlobHeaderMarked};
  // Recorded first: should the write fail, the mark may be on disk and must
  // count as this write's until the write is abandoned.
  FAnnounced[part] = true;
  switch (part) {
    case DataPart:
      FDataFile.AnnounceHeaderWrite();
      break;
    case IndexPart:
      FIndexFile.AnnounceHeaderWrite();
      break;
    default:
      FBlobFile.AnnounceHeaderWrite();
      break;
  }
  WriteOrderTesting::ReportStep(Steps[part]);
}

void TDataTable::AnnounceBeforeWriting(TTableFile part) {
  if (!FOpen || FAnnounced[part] || WriteOrderTesting::UnorderedWrites()) return;
  RaiseIfDamaged();
  AnnouncePart(part);
  if (Session().ForceBufferFlush()) FilePart(part).FlushFile();
}

void TDataTable::BeforeWritingRecords() { AnnounceBeforeWriting(DataPart); }
void TDataTable::BeforeWritingPages() { AnnounceBeforeWriting(IndexPart); }
void TDataTable::BeforeWritingBlocks() { AnnounceBeforeWriting(BlobPart); }

void TDataTable::BeginBufferWrite(const TBufferWrite& write) {
  if (FReadOnly || !FOpen) return;
  const bool pending[PartCount] = {
      write.ForceDataHeader || FDataFile.HasUnwrittenChanges(),
      write.ForceIndexHeader || FIndexFile.HasUnwrittenChanges(),
      FBlobFile.Opened() && (write.ForceBlobHeader || FBlobFile.HasUnwrittenChanges()),
  };
  bool marking = false;
  for (int p = 0; p < PartCount; ++p) marking = marking || (pending[p] && !FAnnounced[p]);
  if (!marking) return;
  RaiseIfDamaged();
  WriteOrderTesting::ReportStep(TWriteStep::Started);
  bool marked[PartCount] = {};
  for (int p = 0; p < PartCount; ++p) {
    if (!pending[p] || FAnnounced[p]) continue;
    AnnouncePart(static_cast<TTableFile>(p));
    marked[p] = true;
  }
  // The marks must be on the device before anything they announce.
  if (FlushWanted(write)) {
    for (int p = 0; p < PartCount; ++p) {
      if (marked[p]) FilePart(static_cast<TTableFile>(p)).FlushFile();
    }
  }
}

void TDataTable::WriteBufferContents(const TBufferWrite& write) {
  if (FReadOnly || !FOpen) return;
  const bool flush = FlushWanted(write);
  {
    bool written = FDataFile.FlushRecords();
    written = FDataFile.WriteFieldDefs() || written;
    if (written && flush) FDataFile.FlushFile();
    if (write.Clear) FDataFile.TrimRecordCache();
    WriteOrderTesting::ReportStep(TWriteStep::RecordsWritten);
  }
  {
    const bool written = FIndexFile.FlushPages(false);
    if (written && flush) FIndexFile.FlushFile();
    if (write.Clear) FIndexFile.TrimPageCache();
    WriteOrderTesting::ReportStep(TWriteStep::PagesWritten);
  }
  if (FBlobFile.Opened()) {
    const bool written = FBlobFile.FlushBlocks();
    if (written && flush) FBlobFile.FlushFile();
    if (write.Clear) FBlobFile.TrimBlockCache();
    WriteOrderTesting::ReportStep(TWriteStep::BlobsWritten);
  }
}

void TDataTable::EndBufferWrite(const TBufferWrite& write) {
  if (FReadOnly || !FOpen) return;
  const bool flush = FlushWanted(write);
  static constexpr TWriteStep Steps[PartCount] = {TWriteStep::DataMarkCleared, TWriteStep::IndexMarkCleared,
                                                  TWriteStep::BlobMarkCleared};
  for (int p = 0; p < PartCount; ++p) {
    if (!FAnnounced[p]) continue;
    const auto part = static_cast<TTableFile>(p);
    switch (part) {
      case DataPart:
        FDataFile.CompleteHeaderWrite();
        break;
      case IndexPart:
        FIndexFile.CompleteHeaderWrite();
        break;
      default:
        FBlobFile.CompleteHeaderWrite();
        break;
    }
    FAnnounced[p] = false;
    if (flush) FilePart(part).FlushFile();
    WriteOrderTesting::ReportStep(Steps[p]);
  }
}

void TDataTable::AbandonBufferWrite() noexcept {
  // The marks stay where they are, in memory and on disk: from now on they
  // are the trace of an interrupted write, as other programs see them.
  for (int p = 0; p < PartCount; ++p) FAbandoned[p] = FAbandoned[p] || FAnnounced[p];
  FAnnounced = {};
}

void TDataTable::WriteBuffersUnordered(const TBufferWrite& write) {
  const bool flush = FlushWanted(write);
  {
    bool written = FDataFile.FlushRecords();
    WriteOrderTesting::ReportStep(TWriteStep::RecordsWritten);
    written = FDataFile.WriteDataHeader(write.ForceDataHeader) || written;
    written = FDataFile.WriteFieldDefs() || written;
    if (written && flush) FDataFile.FlushFile();
    if (write.Clear) FDataFile.TrimRecordCache();
  }
  {
    bool written = FIndexFile.FlushPages(false);
    WriteOrderTesting::ReportStep(TWriteStep::PagesWritten);
    written = FIndexFile.WriteIndexHeader(write.ForceIndexHeader) || written;
    if (written && flush) FIndexFile.FlushFile();
    if (write.Clear) FIndexFile.TrimPageCache();
  }
  if (FBlobFile.Opened()) {
    bool written = FBlobFile.FlushBlocks();
    WriteOrderTesting::ReportStep(TWriteStep::BlobsWritten);
    written = FBlobFile.WriteBlobHeader(write.ForceBlobHeader) || written;
    if (written && flush) FBlobFile.FlushFile();
    if (write.Clear) FBlobFile.TrimBlockCache();
  }
}

void TDataTable::ClearInterruptedWrite() {
  if (!FOpen) return;
  if (FReadOnly) Raise(TARN_OSEACCES);
  assert(!FInTransaction);
  const bool ownLock = TakesLocks() && !FWriting;
  if (ownLock) BeginWriteLocks(false);
  try {
    FAnnounced = {};
    FAbandoned = {};
    DiscardBuffers(false, true);
    for (int p = 0; p < PartCount; ++p) {
      const auto part = static_cast<TTableFile>(p);
      if (!PartMarked(part)) continue;
      switch (part) {
        case DataPart:
          FDataFile.AnnounceHeaderWrite();
          FDataFile.CompleteHeaderWrite();
          break;
        case IndexPart:
          FIndexFile.AnnounceHeaderWrite();
          FIndexFile.CompleteHeaderWrite();
          break;
        default:
          FBlobFile.AnnounceHeaderWrite();
          FBlobFile.CompleteHeaderWrite();
          break;
      }
      FilePart(part).FlushFile();
    }
  } catch (...) {
    if (ownLock) {
      try {
        EndWrite();
      } catch (...) {
        // The first failure is the one reported.
      }
    }
    throw;
  }
  if (ownLock) EndWrite();
}

void TDataTable::DiscardBuffers(bool clear, bool reread) {
  if (!FOpen) return;
  ++FDiscardCount;
  // Entries of an open write that are dropped unwritten leave its marks as damage.
  AbandonBufferWrite();
  FDataFile.DiscardRecords();
  if (clear) FDataFile.TrimRecordCache();
  if (reread) FDataFile.ReadDataHeader();
  FIndexFile.DiscardPages(false);
  FIndexFile.DiscardPages(true);
  if (clear) FIndexFile.TrimPageCache();
  if (reread) FIndexFile.ReadIndexHeader();
  if (FBlobFile.Opened()) {
    FBlobFile.DiscardBlocks();
    if (clear) FBlobFile.TrimBlockCache();
    if (reread) FBlobFile.ReadBlobHeader();
  }
}

void TDataTable::EmptyTable() {
  if (!FOpen) return;
  FDataFile.EmptyDataFile();
  FIndexFile.EmptyIndexes();
  if (FBlobFile.Opened()) FBlobFile.EmptyBlobFile();
  DiscardBuffers(true, false);
}

bool TDataTable::CheckForChanges() {
  if (!FOpen) return false;
  bool changed = false;
  if (FIndexFile.IndexHeaderChanged()) {
    FIndexFile.DiscardPages(false);
    FDataFile.ReadDataHeader();
    FDataFile.DiscardRecords();
    changed = true;
  } else if (FDataFile.DataHeaderChanged()) {
    FDataFile.DiscardRecords();
    changed = true;
  }
  if (HasBlobFields() && FBlobFile.Opened() && FBlobFile.BlobHeaderChanged()) {
    FBlobFile.DiscardBlocks();
    return true;
  }
  return changed;
}

void TDataTable::VerifyTable() {
  FDataFile.VerifyDataFile();
  if (!FIndexRecreated) FIndexFile.VerifyIndexHeader();
  if (HasBlobFields() && FBlobFile.Opened()) FBlobFile.VerifyBlobHeader();
}

void TDataTable::CheckTableVersion() {
  FDataFile.CheckDataVersion();
  if (FIndexFile.Version() != IndexHeaderLayout::CurrentVersion) Raise(TARN_OLDVERSION);
  if (HasBlobFields() && FBlobFile.Opened() && FBlobFile.Header().BlobVersion != BlobHeader::CurrentVersion)
    Raise(TARN_OLDVERSION);
}

// ------------------------------------------------------------ passwords ----

void TDataTable::DemandPassword(TTableCursor* cursor) {
  if (!FDataFile.IsEncrypted()) return;
  const std::string password = FDataFile.GetPassword();
  while (!Session().HasPassword(password)) {
    if (cursor == nullptr || !cursor->RequestPassword()) Raise(TARN_NOTSUFFTABLERIGHTS);
  }
}

// -------------------------------------------------------------- cursors ----

void TDataTable::AttachCursor(TTableCursor& cursor) {
  if (std::find(FCursors.begin(), FCursors.end(), &cursor) != FCursors.end()) return;
  FCursors.push_back(&cursor);
  if (cursor.CountsAsSharer()) ++FCursorCount;
}

void TDataTable::DetachCursor(TTableCursor& cursor) noexcept {
  const auto it = std::find(FCursors.begin(), FCursors.end(), &cursor);
  if (it == FCursors.end()) return;
  FCursors.erase(it);
  if (cursor.CountsAsSharer() && FCursorCount > 0) --FCursorCount;
}

// ---------------------------------------------------------------- locks ----

void TDataTable::Pause(std::int32_t ms) const {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::optional<TRegionLock> TDataTable::AcquireTableLock(TFileHandler& file, std::int64_t offset,
                                                        std::int64_t length) {
  for (std::int32_t attempt = 1; attempt <= FTableLockRetry.Attempts; ++attempt) {
    ++FLockStats.TableLockAttempts;
    if (auto lock = TRegionLock::TryLock(file, offset, length)) return lock;
    if (attempt < FTableLockRetry.Attempts) Pause(FTableLockRetry.PauseMs);
  }
  return std::nullopt;
}

std::optional<TRegionLock> TDataTable::AcquireReadLock(TFileHandler& file, std::uint16_t& slot) {
  for (std::int32_t attempt = 1; attempt <= FTableLockRetry.Attempts; ++attempt) {
    ++FLockStats.TableLockAttempts;
    const std::uint16_t candidate = RandomReadSlot();
    if (auto lock = TRegionLock::TryLock(file, LockRange::ReadSlotOffset(candidate), 1)) {
      slot = candidate;
      return lock;
    }
    if (attempt < FTableLockRetry.Attempts) Pause(FTableLockRetry.PauseMs);
  }
  return std::nullopt;
}

bool TDataTable::BeginReadLocks(TReadLocks& locks) {
  if (!FOpen || FRead.Active || FQueryRead.Active || FWriting || FHoldsTransactionLock || !TakesLocks())
    return false;
  std::uint16_t indexSlot = 0, blobSlot = 0;
  std::optional<TRegionLock> indexLock = AcquireReadLock(FIndexFile, indexSlot);
  if (!indexLock) Raise(TARN_LOCKTIMEOUT);
  std::optional<TRegionLock> blobLock;
  if (HasBlobFields() && FBlobFile.Opened()) {
    blobLock = AcquireReadLock(FBlobFile, blobSlot);
    if (!blobLock) Raise(TARN_LOCKTIMEOUT);  // indexLock is given back on the way out
  }
  locks.IndexLock = std::move(indexLock);
  locks.BlobLock = std::move(blobLock);
  locks.IndexSlot = indexSlot;
  locks.BlobSlot = blobSlot;
  locks.Active = true;
  assert(CheckInvariants());
  try {
    return CheckForChanges();
  } catch (...) {
    // The caller never sees a read lock from a Begin that failed.
    (void)ReleaseReadLocks(locks);
    throw;
  }
}

void TDataTable::EndReadLocks(TReadLocks& locks) {
  if (!locks.Active) return;
  const bool ok = ReleaseReadLocks(locks);
  assert(CheckInvariants());
  if (!ok) Raise(TARN_UNLOCKFAILED);
}

bool TDataTable::ReleaseReadLocks(TReadLocks& locks) noexcept {
  const bool blobOk = ReleaseLock(locks.BlobLock);
  const bool indexOk = ReleaseLock(locks.IndexLock);
  locks.Active = false;
  locks.IndexSlot = locks.BlobSlot = 0;
  return blobOk && indexOk;
}

bool TDataTable::BeginRead() { return BeginReadLocks(FRead); }

void TDataTable::EndRead() { EndReadLocks(FRead); }

bool TDataTable::BeginQueryRead() { return BeginReadLocks(FQueryRead); }

void TDataTable::EndQueryRead() { EndReadLocks(FQueryRead); }

bool TDataTable::BeginWrite() { return BeginWriteLocks(true); }

bool TDataTable::BeginWriteLocks(bool refuseDamaged) {
  if (!FOpen || FWriting) return false;
  if (!TakesLocks()) {
    // No other program can be writing: the marks in memory are the disk's.
    if (refuseDamaged) RaiseIfDamaged();
    return false;
  }
  const bool transactionHeld = FHoldsTransactionLock;
  std::optional<TRegionLock> transactionByte;
  if (!transactionHeld) {
    transactionByte = AcquireTableLock(FDataFile, LockRange::TransactionByte, 1);
    if (!transactionByte) Raise(TARN_LOCKTIMEOUT);
  }
  std::optional<TRegionLock> indexLock = AcquireTableLock(FIndexFile, LockRange::WriteFirst, LockRange::WriteLength);
  if (!indexLock) Raise(TARN_LOCKTIMEOUT);  // the transaction byte goes back on the way out
  std::optional<TRegionLock> blobLock;
  if (HasBlobFields() && FBlobFile.Opened()) {
    blobLock = AcquireTableLock(FBlobFile, LockRange::WriteFirst, LockRange::WriteLength);
    if (!blobLock) Raise(TARN_LOCKTIMEOUT);
  }
  FWriteTransactionByte = std::move(transactionByte);
  FWriteIndexLock = std::move(indexLock);
  FWriteBlobLock = std::move(blobLock);
  FWriting = true;
  assert(CheckInvariants());
  try {
    const bool changed = transactionHeld ? false : CheckForChanges();
    // With the write lock held nobody else is writing: a mark now is damage.
    if (refuseDamaged) RaiseIfDamaged();
    return changed;
  } catch (...) {
    (void)ReleaseLock(FWriteBlobLock);
    (void)ReleaseLock(FWriteIndexLock);
    (void)ReleaseLock(FWriteTransactionByte);
    FWriting = false;
    throw;
  }
}

void TDataTable::EndWrite() {
  if (!FWriting) return;
  // A write still open when the lock goes is interrupted as far as other
  // programs can tell: its marks are damage here too.
  AbandonBufferWrite();
  const bool blobOk = ReleaseLock(FWriteBlobLock);
  const bool indexOk = ReleaseLock(FWriteIndexLock);
  // The transaction byte stays while a transaction holds it (then this write
  // never took it, or LockTransaction took it over).
  const bool byteOk = ReleaseLock(FWriteTransactionByte);
  FWriting = false;
  assert(CheckInvariants());
  if (!blobOk || !indexOk || !byteOk) Raise(TARN_LOCKTIMEOUT);
}

void TDataTable::LockTransaction() {
  if (FHoldsTransactionLock || FReadOnlyAttr) return;
  if (FExclusive || !FOpen) {
    FHoldsTransactionLock = true;
    return;
  }
  if (FWriteTransactionByte) {
    // A write in progress already holds the byte: the transaction takes it over.
    FTransactionByte = std::move(FWriteTransactionByte);
    FWriteTransactionByte.reset();
  } else {
    FTransactionByte = AcquireTableLock(FDataFile, LockRange::TransactionByte, 1);
    if (!FTransactionByte) Raise(TARN_LOCKTIMEOUT);
  }
  FHoldsTransactionLock = true;
  assert(CheckInvariants());
  CheckForChanges();
}

void TDataTable::UnlockTransaction() {
  if (!FHoldsTransactionLock) return;
  const bool byteOk = ReleaseLock(FTransactionByte);
  FHoldsTransactionLock = false;
  // The deferred records are released even when the byte was not.
  std::exception_ptr failure;
  if (!FExclusive) {
    try {
      UnlockAllRecords(true);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  FDeferredUnlocks->ClearAll();
  assert(CheckInvariants());
  if (!byteOk) Raise(TARN_LOCKTIMEOUT);
  if (failure) std::rethrow_exception(failure);
}

bool TDataTable::LockRecord(std::int32_t recordNo) {
  if (!TakesLocks()) return false;
  if (!ValidRecordNo(recordNo)) Raise(TARN_RECLOCKFAILED);
  const auto r = static_cast<std::uint32_t>(recordNo);
  if (FHoldsTransactionLock && FLockedRecords->TestBit(r)) return false;
  const TDataSession& session = Session();
  bool changed = session.StrictChangeDetection() ? false : BeginRead();
  std::uint32_t failures = 0;
  while (true) {
    ++FLockStats.RecordLockAttempts;
    if (FDataFile.LockRegion(true, LockRange::RecordOffset(recordNo), 1)) {
      FLockedRecords->SetBit(r);
      FDeferredUnlocks->ClearBit(r);
      return changed;
    }
    EndRead();
    if (++failures > session.LockRetryCount()) break;
    Pause(session.LockWaitTime());
    if (!changed) changed = BeginRead();
  }
  Raise(TARN_RECLOCKFAILED);
}

void TDataTable::UnlockRecord(std::int32_t recordNo) {
  if (!TakesLocks()) return;
  if (!ValidRecordNo(recordNo)) Raise(TARN_UNLOCKFAILED);
  const auto r = static_cast<std::uint32_t>(recordNo);
  if (FHoldsTransactionLock) {
    FDeferredUnlocks->SetBit(r);
    return;
  }
  if (!FLockedRecords->TestBit(r)) Raise(TARN_UNLOCKFAILED);
  const bool ok = FDataFile.LockRegion(false, LockRange::RecordOffset(recordNo), 1);
  // A refused unlock still counts as released: the range is forgotten.
  FLockedRecords->ClearBit(r);
  FDeferredUnlocks->ClearBit(r);
  if (!ok) Raise(TARN_UNLOCKFAILED);
}

void TDataTable::UnlockAllRecords(bool onlyDeferred) {
  std::exception_ptr failure;
  for (std::uint32_t r = 0; FLockedRecords->NextSet(r);) {
    if (onlyDeferred && !FDeferredUnlocks->TestBit(r)) continue;
    try {
      UnlockRecord(static_cast<std::int32_t>(r));
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

void TDataTable::ReleaseDeferredUnlocks() {
  if (!FHoldsTransactionLock) return;
  // UnlockRecord defers while the transaction lock is held: it is set aside
  // for the unlocks, and put back even when one fails.
  FHoldsTransactionLock = false;
  std::exception_ptr failure;
  try {
    UnlockAllRecords(true);
  } catch (...) {
    failure = std::current_exception();
  }
  FDeferredUnlocks->ClearAll();
  FHoldsTransactionLock = true;
  assert(CheckInvariants());
  if (failure) std::rethrow_exception(failure);
}

bool TDataTable::LockCursorRecord(std::int32_t recordNo) {
  if (!ValidRecordNo(recordNo)) Raise(TARN_RECLOCKFAILED);
  const auto r = static_cast<std::uint32_t>(recordNo);
  if (FCursorLocks->TestBit(r)) Raise(TARN_RECLOCKFAILED);
  const bool changed = LockRecord(recordNo);
  FCursorLocks->SetBit(r);
  return changed;
}

void TDataTable::UnlockCursorRecord(std::int32_t recordNo) {
  if (recordNo > 0) FCursorLocks->ClearBit(static_cast<std::uint32_t>(recordNo));
  UnlockRecord(recordNo);
}

bool TDataTable::CursorLocked(std::int32_t recordNo) const {
  return recordNo > 0 && FCursorLocks->TestBit(static_cast<std::uint32_t>(recordNo));
}

bool TDataTable::RecordLocked(std::int32_t recordNo) const {
  return recordNo > 0 && FLockedRecords->TestBit(static_cast<std::uint32_t>(recordNo));
}

bool TDataTable::UnlockDeferred(std::int32_t recordNo) const {
  return recordNo > 0 && FDeferredUnlocks->TestBit(static_cast<std::uint32_t>(recordNo));
}

bool TDataTable::CheckInvariants() const {
  if (!FRead.Consistent() || !FQueryRead.Consistent()) return false;
  if (FWriting != FWriteIndexLock.has_value()) return false;
  if (FWriteTransactionByte && !FWriting) return false;
  if (!FHoldsTransactionLock && FDeferredUnlocks->CountSet() != 0) return false;
  if (!TakesLocks() && (FRead.Active || FQueryRead.Active || FWriting || FTransactionByte)) return false;
  for (int p = 0; p < PartCount; ++p) {
    const auto part = static_cast<TTableFile>(p);
    if (FAnnounced[p] && !PartMarked(part)) return false;
  }
  return FLockedRecords->CheckInvariants() && FCursorLocks->CheckInvariants();
}

// ------------------------------------------------------- owner interfaces ----

std::string_view TDataTable::DatabaseName() const { return FDirectory.Name(); }
bool TDataTable::ForceBufferFlush() const { return Session().ForceBufferFlush(); }
bool TDataTable::StrictChangeDetection() const { return Session().StrictChangeDetection(); }
std::int32_t TDataTable::MaxDataBufferSize() const { return Session().MaxDataBufferSize(); }
std::int32_t TDataTable::MaxDataBufferCount() const { return Session().MaxDataBufferCount(); }
std::int32_t TDataTable::MaxIndexBufferSize() const { return Session().MaxIndexBufferSize(); }
std::int32_t TDataTable::MaxBlobBufferSize() const { return Session().MaxBlobBufferSize(); }
std::int32_t TDataTable::MaxBlobBufferCount() const { return Session().MaxBlobBufferCount(); }
std::string_view TDataTable::PrivateDir() const { return Session().GetTempDirectory(); }

bool TDataTable::HasNoPrimaryIndex() const { return FIndexFile.Opened() && FIndexFile.NoPrimaryIndex(); }

bool TDataTable::LocaleInstalled(std::int16_t languageId, std::int16_t sortId) const {
  return IsValidLocale(static_cast<std::uint16_t>(languageId), static_cast<std::uint16_t>(sortId));
}

std::uint16_t TDataTable::LanguageId() const { return static_cast<std::uint16_t>(FDataFile.GetLanguageId()); }
std::uint16_t TDataTable::SortId() const { return static_cast<std::uint16_t>(FDataFile.GetSortId()); }
int TDataTable::TableFieldCount() const { return static_cast<int>(FDataFile.FieldDefs().size()); }

TIndexFieldInfo TDataTable::TableField(int fieldNumber) const {
  TIndexFieldInfo info;
  const auto defs = FDataFile.FieldDefs();
  if (fieldNumber < 1 || fieldNumber > static_cast<int>(defs.size())) return info;
  const TFieldDesc& def = defs[static_cast<std::size_t>(fieldNumber - 1)];
  if (FFieldNames.size() < defs.size()) FFieldNames.resize(defs.size());
  std::string& name = FFieldNames[static_cast<std::size_t>(fieldNumber - 1)];
  name = def.FieldName();
  info.Key.FieldType = def.FieldType();
  info.Key.FieldSize = def.FieldSize();
  info.Key.FieldOffset = def.FieldOffset();
  info.Key.HasNullFlag = !def.IsAutoInc();
  info.SubType = def.FieldSubType();
  info.Name = name;
  return info;
}

// -------------------------------------------------------------- brackets ----

TTableLockBracket::TTableLockBracket(TDataTable& table, TBegin begin, TEnd end, THeld held) : FEnd(end) {
  const bool wasHeld = (table.*held)();
  FChanged = (table.*begin)();
  if (!wasHeld && (table.*held)()) FTable = &table;
}

void TTableLockBracket::Release() noexcept {
  if (FTable == nullptr) return;
  TDataTable* table = FTable;
  FTable = nullptr;
  try {
    (table->*FEnd)();
  } catch (...) {
    // The lock counts as released; the table's state already says so.
  }
}

}  // namespace tarn
