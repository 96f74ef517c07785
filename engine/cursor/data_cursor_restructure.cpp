// TDataCursor::RestructureTable: a full rebuild through a work table, an
// index rebuild in place, or new names and table information only.
//
// Full rebuild. The work table is made in the work directory (the session's
// private directory, or "Memory" for in-memory tables) with the new
// definition already numbered 1..n, and the records are copied into it in
// record-number order, each field through restructure_convert.h. When the
// copy ran to the end the files change places in an order that never loses
// the table: the old files are renamed to their backup names, the work table
// is renamed to the table's name (on failure the backups are moved back),
// and only then are the backups deleted when none is to be kept. A stop or a
// failure before that deletes the work table and leaves the old files alone.
//
// Index rebuild. The index file is copied to ".IBK" first; the changed
// indexes are emptied, redefined and refilled from the records: unique ones
// (which may refuse a record) record by record, non-unique secondary ones
// afterwards from the sorted keys of the records that stayed.
//
// In a full rebuild too, the work table's non-unique secondary indexes are
// left out of the record copy and built afterwards, bottom-up from sorted
// keys (BuildIndexSorted): they hold the same keys either way, and no
// random insertion runs through the small page caches. A stop or a
// failure copies ".IBK" back, drops every cached change and deletes ".IBK".
//
// The password of a table encrypted anew is registered with the session for
// the duration of the copy when the session did not know it.

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/base/names.h"
#include "engine/blob/blob_buffer.h"
#include "engine/cursor/data_cursor.h"
#include "engine/cursor/index_switch.h"
#include "engine/cursor/maintenance_progress.h"
#include "engine/cursor/restructure_convert.h"
#include "engine/cursor/table_definition_check.h"
#include "engine/cursor/table_files.h"
#include "engine/files/file_list.h"
#include "engine/files/os_error.h"
#include "engine/files/table_file_name.h"
#include "engine/index/btree.h"
#include "engine/index/keys.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"

namespace tarn {

struct TDataCursor::TRestructurePlan {
  TTableDefinition Def;               // checked, fields and index field numbers as given
  TTableDefinition NewDef;            // the same numbered 1..n
  std::vector<int> NewPosition;       // per old field (0-based): the new field's position, 0 = none
  TTextIndexParams Params;            // the full-text parameters of the new structure
  bool WriteParams = false;           // the new structure stores them
  bool ParamsChanged = false;
  bool NoBackup = false;
  TDataDirectory* WorkDir = nullptr;
  bool Stopped = false;
  TMaintenanceProgress* Progress = nullptr;  // restructure progress, shared by every step
};

namespace {

bool SameFieldDef(const TFieldDesc& a, const TFieldDesc& b) {
  return a.FieldNo() == b.FieldNo() && a.FieldType() == b.FieldType() && a.FieldSubType() == b.FieldSubType() &&
         a.FieldSize() == b.FieldSize() && a.FieldDecimals() == b.FieldDecimals() &&
         a.FieldRequired() == b.FieldRequired() && a.FieldCharCase() == b.FieldCharCase() &&
         SameText(a.FieldDefault(), b.FieldDefault()) && SameText(a.FieldMin(), b.FieldMin()) &&
         SameText(a.FieldMax(), b.FieldMax());
}

bool SameIndexDef(const TIndexDescriptor& a, const TIndexDescriptor& b) {
  if (a.KeySize != b.KeySize || a.FieldCount != b.FieldCount || a.Descending != b.Descending ||
      a.CaseInsensitive != b.CaseInsensitive || a.Unique != b.Unique || a.Compression != b.Compression)
    return false;
  for (int i = 0; i < a.FieldCount; ++i) {
    const auto k = static_cast<std::size_t>(i);
    if (a.FieldNumbers[k] != b.FieldNumbers[k] || (a.FieldDescending[k] != 0) != (b.FieldDescending[k] != 0))
      return false;
  }
  return true;
}

bool SameTextDef(const TIndexDescriptor& a, const TIndexDescriptor& b) {
  if (a.FieldCount != b.FieldCount || (a.FieldCount > 0 && a.CaseInsensitive != b.CaseInsensitive)) return false;
  for (int i = 0; i < a.FieldCount; ++i) {
    if (a.FieldNumbers[static_cast<std::size_t>(i)] != b.FieldNumbers[static_cast<std::size_t>(i)]) return false;
  }
  return true;
}

bool SameParams(const TTextIndexParams& a, const TTextIndexParams& b) {
  if (a.StopWords.size() != b.StopWords.size() || !(a.SpaceChars == b.SpaceChars) ||
      !(a.IncludeChars == b.IncludeChars))
    return false;
  std::vector<std::string> x = a.StopWords;
  std::vector<std::string> y = b.StopWords;
  auto upper = [](std::string& s) {
    for (char& c : s) c = UpperAsciiChar(c);
  };
  std::for_each(x.begin(), x.end(), upper);
  std::for_each(y.begin(), y.end(), upper);
  std::sort(x.begin(), x.end());
  std::sort(y.begin(), y.end());
  return x == y;
}

// Failures of the files themselves end the restructure; every other failure
// to store one record is a loss of that record.
bool IsFileFailure(TErrorCode code) {
  return (code >= TARN_HEADERCORRUPT && code <= TARN_INDEXCORRUPT) ||
         (code >= TARN_READERR && code <= TARN_FILENOACCESS) || code == TARN_TABLEFULL ||
         (code >= TARN_LOCKED && code <= TARN_RECLOCKFAILED) || (code >= TARN_OSENOENT && code <= TARN_OSUNKNOWN);
}

// Closes a cursor (forced, never throwing) at the end of a scope.
struct TCloseGuard {
  TDataCursor& Cursor;
  ~TCloseGuard() {
    try {
      Cursor.CloseCursor(true);
    } catch (...) {
      // The operation's own failure is the one reported.
    }
  }
};

}  // namespace

bool TDataCursor::ReportDataLoss(TDataLossCause cause, std::string_view context, bool& continueRestructure,
                                 bool& stopAsking) {
  if (!stopAsking && FOnDataLost) FOnDataLost(cause, context, continueRestructure, stopAsking);
  return continueRestructure;
}

void TDataCursor::RestructureTable(const TTableDefinition& definition, bool noBackup) {
  CheckClosed();
  if (!FExclusive) Raise(TARN_NEEDEXCLACCESS);
  if (FReadOnly) Raise(TARN_OSEACCES);
  TRestructurePlan plan;
  plan.Def = definition;
  plan.NoBackup = noBackup;
  CheckDefinition(plan.Def, {.Database = FDirectory.Name(), .Table = FTableName});
  plan.NewDef = plan.Def;
  RenumberDefinition(plan.NewDef);

  OpenCursor();
  TCloseGuard closeSelf{*this};
  // Files that could be opened for reading only.
  if (FReadOnly) Raise(TARN_OSEACCES);
  TDataSession& session = FDirectory.Session();
  TDataDirectory& work = FInMemory ? session.OpenDirectory(MemoryDirectoryName)
                                   : session.OpenDirectory("Restructure", session.GetTempDirectory());
  struct TDirGuard {
    TDataSession& Session;
    TDataDirectory& Dir;
    ~TDirGuard() { Session.CloseDirectory(Dir); }
  } closeWork{session, work};
  plan.WorkDir = &work;

  TDataFile& data = FTable->DataFile();
  TIndexFile& index = FTable->IndexFile();
  const std::vector<TFieldDesc> oldFields = FFields;
  for (const TFieldDesc& old : oldFields) {
    int position = 0;
    for (std::size_t j = 0; j < plan.Def.Fields.size(); ++j) {
      if (plan.Def.Fields[j].FieldNo() == old.FieldNo()) position = static_cast<int>(j) + 1;
    }
    plan.NewPosition.push_back(position);
  }
  const bool tableHasParams = index.Descriptor(SysTextSlot).TextParamsPage != 0;
  const TTextIndexParams tableParams = ReadTextParams();
  plan.Params = plan.Def.TextParams ? *plan.Def.TextParams : tableParams;
  plan.ParamsChanged = !SameParams(plan.Params, tableParams);
  plan.WriteParams = plan.Def.TextParams.has_value() || tableHasParams || plan.NewDef.TextIndex.has_value();

  const TTableDefinition& d = plan.Def;
  const std::uint16_t blockSize = d.BlobBlockSize == 0 ? 512 : d.BlobBlockSize;
  bool full = d.Encrypted != data.IsEncrypted() || (d.Encrypted && d.Password != data.GetPassword()) ||
              blockSize != data.GetBlobBlockSize() || d.LanguageId != data.GetLanguageId() ||
              d.SortId != data.GetSortId() || d.Fields.size() != oldFields.size();
  for (std::size_t i = 0; !full && i < oldFields.size(); ++i) full = !SameFieldDef(d.Fields[i], oldFields[i]);

  TMaintenanceProgress progress(FOnRestructureProgress, session.ProgressSteps());
  plan.Progress = &progress;
  if (full) {
    RestructureFull(plan);
  } else {
    const TTableDefinition& n = plan.NewDef;
    bool indexes = static_cast<int>(n.Secondary.size()) != index.IndexCount() ||
                   (n.Primary.FieldCount > 0 && index.NoPrimaryIndex()) || plan.ParamsChanged;
    indexes = indexes || !SameIndexDef(index.NoPrimaryIndex() ? TIndexDescriptor{} : index.Descriptor(0), n.Primary);
    for (int s = 1; !indexes && s <= index.IndexCount(); ++s)
      indexes = !SameIndexDef(index.Descriptor(s), n.Secondary[static_cast<std::size_t>(s - 1)]);
    indexes = indexes || !SameTextDef(index.Descriptor(SysTextSlot), n.TextIndex.value_or(TIndexDescriptor{}));
    if (indexes) {
      RestructureIndexes(plan);
    } else {
      StoreNamesAndInfo(plan);
      FTable->WriteBuffers();
    }
  }
  if (!plan.Stopped) {
    try {
      progress.Finish();
    } catch (...) {
      // A handler's failure cannot undo a finished restructure.
    }
  }
  CloseCursor();
}

// ------------------------------------------------------- full rebuild ----

void TDataCursor::RestructureFull(TRestructurePlan& plan) {
  TDataSession& session = FDirectory.Session();
  TDataDirectory& work = *plan.WorkDir;
  const TTableDefinition& def = plan.NewDef;
  TMaintenanceProgress& progress = *plan.Progress;

  struct TPasswordGuard {
    TDataSession& Session;
    std::string Password;
    ~TPasswordGuard() {
      if (!Password.empty()) Session.RemovePassword(Password);
    }
  } password{session, {}};
  if (def.Encrypted && !session.HasPassword(def.Password)) {
    session.AddPassword(def.Password);
    password.Password = def.Password;
  }

  std::string workName = work.UniqueTableName(FInMemory);
  workName = MakeTableFileName(workName, TableFileExt::Data, "");
  TDataCursor target(work);
  target.SetTableName(workName);
  target.SetInMemory(FInMemory);
  TTableDefinition workDef = def;
  if (plan.WriteParams) workDef.TextParams = plan.Params;
  const auto dropWork = [&]() noexcept {
    try {
      target.CloseCursor(true);
    } catch (...) {
      // The files go all the same.
    }
    RemoveTableFiles(work, workName, FInMemory);
  };

  bool completed = true;
  try {
    target.CreateTable(workDef, true);
    target.SetExclusive(true);
    target.SetUnordered(true);
    target.SetInternal(true);
    target.OpenCursor();
    target.FKeepAutoInc = true;  // every record keeps its RecAutoInc
    target.FBulkLoad = true;
    // Non-unique secondary indexes cannot refuse a record: they are built
    // after the copy from sorted keys, which gives the same trees' keys.
    TIndexFile& workIndex = target.Table().IndexFile();
    target.FDeferredSlots.assign(static_cast<std::size_t>(workIndex.IndexCount()) + 1, false);
    for (int s = 1; s <= workIndex.IndexCount(); ++s) {
      target.FDeferredSlots[static_cast<std::size_t>(s)] = !workIndex.Descriptor(s).Unique;
    }
    TDataFile& data = FTable->DataFile();
    const std::int32_t slots = data.GetPhysicalRecordCount();
    std::vector<std::uint8_t> old(FRecordSize);
    std::vector<std::uint8_t> record(target.RecordSize());
    std::vector<std::uint8_t> value;
    std::vector<std::uint8_t> content;
    bool proceed = true;
    bool stopAsking = false;
    const auto loss = [&](TDataLossCause cause, std::string_view context) {
      if (!ReportDataLoss(cause, context, proceed, stopAsking)) completed = false;
      return completed;
    };
    for (std::int32_t r = 1; r <= slots && completed; ++r) {
      {
        TRecordPin pin = data.GetRecord(this, r);
        if (!pin) Raise(TARN_FILECORRUPT);
        if (pin->IsDeleted()) {
          progress.Step(r, slots);
          continue;
        }
        std::memcpy(old.data(), pin->Data().data(), FRecordSize);
      }
      target.InitRecord(record);
      bool autoIncMapped = false;
      for (std::size_t i = 0; i < FFields.size() && completed; ++i) {
        const TFieldDesc& from = FFields[i];
        const int to = plan.NewPosition[i];
        if (to == 0) {
          loss(TDataLossCause::FieldDropped, from.FieldName());
          continue;
        }
        const TFieldRead read = GetFieldValue(old, from);
        if (read.Blank) continue;
        const TFieldDesc& dest = target.Field(to);
        const bool fromBlob = from.FieldType() == FieldType::Blob;
        const bool toBlob = dest.FieldType() == FieldType::Blob;
        if (fromBlob && toBlob) {
          TBlobBuffer blob(FTable->BlobFile(), this, static_cast<std::int32_t>(i + 1),
                           static_cast<std::int32_t>(GetLE32(read.Bytes, 0)), GetBlobStamp(old, from),
                           static_cast<std::int32_t>(GetLE32(old, RecordLayout::RecLink)));
          blob.LoadBlob();
          std::uint32_t size = 0;
          target.RaiseIfError(target.OpenBlob(to, record, TBlobMode::Write, size));
          target.RaiseIfError(target.TruncateBlob(to, record, 0));
          if (!blob.Data().empty()) target.RaiseIfError(target.WriteBlob(to, record, 0, blob.Data()));
          target.RaiseIfError(target.CloseBlob(to, record));
          continue;
        }
        if (fromBlob || toBlob || !ConvertFieldValue(from, read.Bytes, dest, value)) {
          if (!toBlob) target.PutField(to, record, std::span<const std::uint8_t>(value));
          loss(TDataLossCause::NotConvertible, from.FieldName());
          continue;
        }
        target.PutField(to, record, std::span<const std::uint8_t>(value));
        autoIncMapped = autoIncMapped || dest.IsAutoInc();
      }
      if (!completed) break;
      if (!autoIncMapped) {
        PutLE32(record, RecordLayout::RecAutoInc, GetLE32(old, RecordLayout::RecAutoInc));
      }
      try {
        target.InsertRecord(record, false);
      } catch (const ETarnEngineError& e) {
        target.FreeBlobs(true);
        const TErrorCode code = e.ErrorCode();
        if (IsFileFailure(code)) throw;
        if (code == TARN_KEYVIOL) {
          loss(TDataLossCause::KeyViolation, e.ErrorIndex());
        } else if (code == TARN_MINVALERR || code == TARN_MAXVALERR || code == TARN_REQDERR) {
          loss(TDataLossCause::ValueCheck, e.ErrorField());
        } else {
          loss(TDataLossCause::Other, {});
        }
      }
      progress.Step(r, slots);
    }
    if (completed) {
      const std::vector<bool> deferred = std::exchange(target.FDeferredSlots, {});
      for (std::size_t s = 0; s < deferred.size(); ++s) {
        if (deferred[s]) target.BuildIndexSorted(static_cast<int>(s), false, nullptr);
      }
      const std::int32_t last = def.LastAutoInc >= 0 ? def.LastAutoInc : data.GetLastAutoInc();
      target.Table().DataFile().SetLastAutoInc(last);
    }
    target.CloseCursor();
  } catch (...) {
    dropWork();
    throw;
  }
  if (!completed) {
    plan.Stopped = true;
    dropWork();
    return;
  }

  // The files change places: the old files to their backup names (every
  // file claimed first: a table in use anywhere is refused whole), then the
  // work table's files, one by one, to the table's names. A failure moves
  // back whatever moved.
  const bool oldHasBlobs = FTable->HasBlobFields();
  const bool newHasBlobs = std::any_of(def.Fields.begin(), def.Fields.end(),
                                      [](const TFieldDesc& f) { return f.FieldType() == FieldType::Blob; });
  CloseCursor();
  const std::string_view exts[] = {TableFileExt::Data, TableFileExt::Index, TableFileExt::Blob};
  const std::string_view backups[] = {TableFileExt::DataBackup, TableFileExt::IndexBackup,
                                      TableFileExt::BlobBackup};
  const int oldFiles = oldHasBlobs ? 3 : 2;
  const int newFiles = newHasBlobs ? 3 : 2;
  try {
    FDirectory.RenameTable(FTableName, FInMemory, FTableName, true);
  } catch (...) {
    dropWork();
    throw;
  }
  int moved = 0;
  try {
    for (; moved < newFiles; ++moved) {
      const std::string from = TableFilePath(work, workName, exts[moved]);
      const std::int32_t result =
          FileList().RenameFile(from, FInMemory, TableFilePath(FDirectory, FTableName, exts[moved]));
      if (result < 0) RaiseFileError(static_cast<TErrorCode>(-result), from);
    }
  } catch (...) {
    while (moved > 0) {
      --moved;
      (void)FileList().RenameFile(TableFilePath(FDirectory, FTableName, exts[moved]), FInMemory,
                                  TableFilePath(work, workName, exts[moved]));
    }
    for (int k = 0; k < oldFiles; ++k) {
      (void)FileList().RenameFile(TableFilePath(FDirectory, FTableName, backups[k]), FInMemory,
                                  TableFilePath(FDirectory, FTableName, exts[k]));
    }
    dropWork();
    throw;
  }
  if (plan.NoBackup || FInMemory) {
    // A backup that will not go stays; the table is the new one all the same.
    for (int k = 0; k < oldFiles; ++k) {
      (void)FileList().DeleteFile(TableFilePath(FDirectory, FTableName, backups[k]), FInMemory);
    }
  }
  // Nothing after the swap may fail: the table already is the new one.
  plan.Stopped = false;
}

// ------------------------------------------------------ index rebuild ----

void TDataCursor::RestructureIndexes(TRestructurePlan& plan) {
  TIndexFile& index = FTable->IndexFile();
  TDataFile& data = FTable->DataFile();
  const TTableDefinition& def = plan.NewDef;
  TMaintenanceProgress& progress = *plan.Progress;
  const std::string backupName = TableFilePath(FDirectory, FTableName, TableFileExt::IndexBackup);
  try {
    FTable->BackupIndexFile();
  } catch (...) {
    (void)FileList().DeleteFile(backupName, FInMemory);
    FTable->DiscardBuffers(true, true);
    throw;
  }
  // The copy goes back over a file that may have grown: the tail is cut.
  const std::int64_t indexSize = index.GetFileSize();
  const auto restore = [&]() {
    FTable->DiscardBuffers(true, false);
    FTable->RestoreIndexFile(false, false);
    if (indexSize > 0 && index.GetFileSize() > indexSize && index.SeekFile(TSeekOrigin::Begin, indexSize) == indexSize)
      index.WriteBuffer({});
    FTable->DiscardBuffers(true, true);
    FTextKeys.reset();
    (void)FileList().DeleteFile(backupName, FInMemory);
  };
  bool completed = true;
  try {
    TIndexFile::TChangeCheckSuspension steady(index);
    std::vector<bool> marked(IndexSlotCount, false);
    const int oldCount = index.IndexCount();
    const int newCount = static_cast<int>(def.Secondary.size());
    // Changed and added indexes take a provisional name until the names are
    // stored, so that no new name meets an old one still in place.
    const auto provisional = [](TIndexDescriptor d, int slot) {
      d.IndexName = "_Restructure" + std::to_string(slot);
      return d;
    };
    for (int s = oldCount; s > newCount; --s) {
      FreeIndexPages(s);
      index.DeleteIndexDescriptor(s, true);
    }
    for (int s = 0; s <= std::min(oldCount, newCount); ++s) {
      const TIndexDescriptor& wanted = s == 0 ? def.Primary : def.Secondary[static_cast<std::size_t>(s - 1)];
      const TIndexDescriptor current = (s == 0 && index.NoPrimaryIndex()) ? TIndexDescriptor{} : index.Descriptor(s);
      if (SameIndexDef(current, wanted)) continue;
      FreeIndexPages(s);
      if (s == 0) {
        index.SetNoPrimaryIndex(true);
        if (wanted.FieldCount > 0) {
          index.SetPrimaryDescriptor(wanted);
          index.SetNoPrimaryIndex(false);
          marked[0] = true;
        }
      } else {
        index.ReplaceIndexDescriptor(s, provisional(wanted, s));
        marked[static_cast<std::size_t>(s)] = true;
      }
    }
    for (int s = oldCount + 1; s <= newCount; ++s) {
      index.AddIndexDescriptor(provisional(def.Secondary[static_cast<std::size_t>(s - 1)], s));
      marked[static_cast<std::size_t>(s)] = true;
    }
    const TIndexDescriptor newText = def.TextIndex.value_or(TIndexDescriptor{});
    if (!SameTextDef(index.Descriptor(SysTextSlot), newText) || plan.ParamsChanged) {
      FreeIndexPages(SysTextSlot);
      index.SetTextDescriptor(newText);
      if (plan.WriteParams) WriteTextParams(plan.Params);
      marked[SysTextSlot] = newText.FieldCount > 0;
    }
    FTextKeys.reset();

    const bool any = std::find(marked.begin(), marked.end(), true) != marked.end();
    // Marked non-unique secondary indexes cannot refuse a record: they are
    // filled after the pass over the records, from sorted keys.
    const auto sortedLater = [&](int s) { return s >= 1 && s < SysDeletedSlot && !index.KeyDef(s).Unique; };
    const std::int32_t slots = data.GetPhysicalRecordCount();
    if (any && index.RecordCount() > 0) {
      bool proceed = true;
      bool stopAsking = false;
      std::vector<std::uint8_t> image(FRecordSize);
      std::array<std::uint8_t, KeyLimits::MaxKeySize> key{};
      std::vector<std::array<std::uint8_t, KeyLimits::TextKeySize>> words;
      for (std::int32_t r = 1; r <= slots && completed; ++r) {
        {
          TRecordPin pin = data.GetRecord(this, r);
          if (!pin) Raise(TARN_FILECORRUPT);
          if (pin->IsDeleted()) {
            progress.Step(r, slots);
            continue;
          }
          std::memcpy(image.data(), pin->Data().data(), FRecordSize);
        }
        bool purge = false;
        for (int s = FirstKeySlot(); s <= index.IndexCount() && !purge; ++s) {
          if (!marked[static_cast<std::size_t>(s)] || !index.KeyDef(s).Unique) continue;
          const TKeyDef& kd = index.KeyDef(s);
          BuildKey(kd, image, std::span<std::uint8_t>(key).first(kd.KeySize));
          if (!KeyExistsIn(s, key.data())) continue;
          const std::string name = s == 0 ? std::string() : def.Secondary[static_cast<std::size_t>(s - 1)].IndexName;
          if (!ReportDataLoss(TDataLossCause::KeyViolation, name, proceed, stopAsking)) {
            completed = false;
            break;
          }
          purge = true;
        }
        if (!completed) break;
        if (purge) {
          PurgeRecord(r, marked);
          progress.Step(r, slots);
          continue;
        }
        for (int s = FirstKeySlot(); s <= index.IndexCount(); ++s) {
          if (!marked[static_cast<std::size_t>(s)] || sortedLater(s)) continue;
          const TKeyDef& kd = index.KeyDef(s);
          BuildKey(kd, image, std::span<std::uint8_t>(key).first(kd.KeySize));
          AddKeyTo(s, key.data(), r);
        }
        if (marked[SysTextSlot]) {
          TextKeys(image, static_cast<std::int32_t>(GetLE32(image, RecordLayout::RecAutoInc)), false, words);
          for (const auto& w : words) AddKeyTo(SysTextSlot, w.data(), r);
        }
        progress.Step(r, slots);
      }
    }
    if (completed) {
      for (int s = 1; s <= index.IndexCount(); ++s) {
        if (marked[static_cast<std::size_t>(s)] && sortedLater(s)) BuildIndexSorted(s, false, nullptr);
      }
      StoreNamesAndInfo(plan);
      FTable->WriteBuffers(false, false, false, false, true);
    }
  } catch (...) {
    try {
      restore();
    } catch (...) {
      // The ".IBK" copy stays beside the table.
    }
    throw;
  }
  if (!completed) {
    plan.Stopped = true;
    restore();
    return;
  }
  // A backup that will not go stays; the indexes are rebuilt all the same.
  if (plan.NoBackup) (void)FileList().DeleteFile(backupName, FInMemory);
}

// ------------------------------------------------- names and information ----

void TDataCursor::StoreNamesAndInfo(const TRestructurePlan& plan) {
  TDataFile& data = FTable->DataFile();
  TIndexFile& index = FTable->IndexFile();
  const TTableDefinition& def = plan.NewDef;
  // Only what differs is stored, so that a table whose names stay keeps its
  // data file as it is.
  for (std::size_t i = 0; i < def.Fields.size(); ++i) {
    const TFieldDesc& want = def.Fields[i];
    const TFieldDesc& have = data.FieldDefs()[i];
    if (want.FieldName() != have.FieldName() || want.FieldDescription() != have.FieldDescription() ||
        want.FieldSubType() != have.FieldSubType() || want.FieldRequired() != have.FieldRequired() ||
        want.FieldMin() != have.FieldMin() || want.FieldMax() != have.FieldMax() ||
        want.FieldDefault() != have.FieldDefault())
      data.UpdateFieldDef(static_cast<std::uint16_t>(i + 1), want);
  }
  for (int s = 1; s <= index.IndexCount(); ++s) {
    const TIndexDescriptor& want = def.Secondary[static_cast<std::size_t>(s - 1)];
    const TIndexDescriptor& have = index.Descriptor(s);
    if (want.IndexName != have.IndexName || want.FieldNumbers != have.FieldNumbers)
      index.RenameIndexDescriptor(s, want);
  }
  const std::int32_t last = def.LastAutoInc >= 0 ? def.LastAutoInc : data.GetLastAutoInc();
  if (def.Description != data.GetDescription() || last != data.GetLastAutoInc() ||
      def.UserMajorVersion != data.GetUserMajorVersion() || def.UserMinorVersion != data.GetUserMinorVersion())
    data.SetTableAttributes(data.GetPassword(), def.Description, last, def.UserMajorVersion, def.UserMinorVersion);
  LoadDescription();
}

}  // namespace tarn
