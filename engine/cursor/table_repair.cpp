#include "engine/cursor/table_repair.h"

#include <exception>
#include <memory>
#include <optional>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/cursor/data_cursor.h"
#include "engine/files/file_list.h"
#include "engine/files/table_file_name.h"
#include "engine/index/index_file.h"
#include "engine/index/text_params_chain.h"
#include "engine/index/tree_context.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_table.h"
#include "engine/table/data_file.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"

namespace tarn {

namespace {

// A descriptor as a new table takes it: the same key, no pages.
TIndexDescriptor Fresh(TIndexDescriptor d) {
  d.RootPage = 0;
  d.FreePageList = 0;
  d.TextParamsPage = 0;
  d.Temporary = false;
  return d;
}

// The definition of an open table, for a table made anew with it.
TTableDefinition DefinitionOf(TDataTable& table) {
  TDataFile& data = table.DataFile();
  TIndexFile& index = table.IndexFile();
  TTableDefinition def;
  def.LanguageId = data.GetLanguageId();
  def.SortId = data.GetSortId();
  def.Fields.assign(data.FieldDefs().begin(), data.FieldDefs().end());
  if (!index.NoPrimaryIndex()) def.Primary = Fresh(index.Descriptor(0));
  for (int slot = 1; slot <= index.IndexCount(); ++slot) {
    if (!index.Descriptor(slot).Temporary) def.Secondary.push_back(Fresh(index.Descriptor(slot)));
  }
  if (index.Descriptor(KeyLimits::TextSlot).FieldCount > 0) {
    def.TextIndex = Fresh(index.Descriptor(KeyLimits::TextSlot));
  }
  TTextIndexParams params = TTextIndexParams::Defaults();
  TFixedTreeContext context(KeyLimits::TextSlot);
  if (TTextParamsChain(index).Read(context, params)) def.TextParams = params;
  def.BlobBlockSize = static_cast<std::uint16_t>(data.GetBlobBlockSize());
  def.Description = data.GetDescription();
  def.Encrypted = data.IsEncrypted();
  def.Password = data.GetPassword();
  def.UserMajorVersion = data.GetUserMajorVersion();
  def.UserMinorVersion = data.GetUserMinorVersion();
  return def;
}

// The work table: deleted again unless Keep() was called.
class TWorkTable {
 public:
  TWorkTable(TDataDirectory& directory, std::string name) : FDirectory(directory), FName(std::move(name)) {}
  ~TWorkTable() {
    if (FCursor) {
      try {
        FCursor->CloseCursor(true);
      } catch (...) {
      }
      FCursor.reset();
    }
    if (FKeep) return;
    try {
      if (FDirectory.TableExists(FName, false)) FDirectory.DeleteTable(FName, false);
    } catch (...) {
    }
  }
  TWorkTable(const TWorkTable&) = delete;
  TWorkTable& operator=(const TWorkTable&) = delete;

  void Create(const TTableDefinition& def) {
    TDataTable& created = FDirectory.CreateTable(FName, false, false, def);
    FDirectory.ReleaseTable(created, false);
  }
  TDataCursor& Open() {
    FCursor = std::make_unique<TDataCursor>(FDirectory);
    FCursor->SetTableName(FName);
    FCursor->SetExclusive(true);
    FCursor->SetUnordered(true);
    FCursor->OpenCursor();
    FCursor->SetKeepAutoInc(true);
    return *FCursor;
  }
  void Close() {
    if (FCursor) FCursor->CloseCursor();
    FCursor.reset();
  }
  const std::string& Name() const { return FName; }
  void Keep() { FKeep = true; }

 private:
  TDataDirectory& FDirectory;
  std::string FName;
  std::unique_ptr<TDataCursor> FCursor;
  bool FKeep = false;
};

std::string FieldLabel(const TFieldDesc& f) { return "field \"" + f.FieldName() + "\""; }

// Copies the blob values of the old record image into buffers of the work
// cursor; a value that cannot be read leaves its field empty and is reported.
void CopyBlobs(TDataCursor& from, TDataCursor& to, std::vector<std::uint8_t>& image, std::vector<std::uint8_t>& buffer,
               std::int32_t recordNo, TRepairResult& result) {
  for (int n = 1; n <= from.FieldCount(); ++n) {
    const TFieldDesc& f = from.Field(n);
    if (f.FieldType() != FieldType::Blob) continue;
    to.PutField(n, buffer, std::nullopt);
    const TFieldRead read = from.GetField(n, image);
    if (read.Blank || GetLE32(read.Bytes, RecordLayout::BlobFirstBlock) == 0) continue;
    std::vector<std::uint8_t> content;
    try {
      std::uint32_t size = 0;
      from.RaiseIfError(from.OpenBlob(n, image, TDataCursor::TBlobMode::Read, size));
      content.resize(size);
      std::uint32_t count = 0;
      const TErrorCode code = from.ReadBlob(n, image, 0, size, content, count);
      (void)from.CloseBlob(n, image);
      from.RaiseIfError(code);
      if (count != size) from.RaiseIfError(TARN_ENDOFBLOB);
    } catch (const std::exception& e) {
      result.Losses.push_back({recordNo, false, FieldLabel(f) + " emptied, its blob cannot be read: " + e.what()});
      continue;
    }
    std::uint32_t size = 0;
    to.RaiseIfError(to.OpenBlob(n, buffer, TDataCursor::TBlobMode::Write, size));
    to.RaiseIfError(to.WriteBlob(n, buffer, 0, content));
    to.RaiseIfError(to.CloseBlob(n, buffer));
  }
}

// Copies every readable active record of from into to.
void CopyRecords(TDataCursor& from, TDataCursor& to, TRepairResult& result, const TRepairProgress& progress) {
  TDataFile& data = from.Table().DataFile();
  const std::int32_t slots = data.GetPhysicalRecordCount();
  std::vector<std::uint8_t> image;
  std::vector<std::uint8_t> buffer(to.RecordSize());
  for (std::int32_t r = 1; r <= slots; ++r) {
    if (progress && (r & 0x3FF) == 0) progress(static_cast<double>(r) / slots);
    try {
      TRecordPin pin = data.GetRecord(nullptr, r);
      if (!pin) throw ETarnEngineError(TARN_FILECORRUPT);
      image.assign(pin->Data().begin(), pin->Data().end());
    } catch (const std::exception& e) {
      result.Losses.push_back({r, true, std::string("record cannot be read: ") + e.what()});
      continue;
    }
    if (image[RecordLayout::RecDeleted] != 0) continue;
    std::copy(image.begin(), image.end(), buffer.begin());
    try {
      CopyBlobs(from, to, image, buffer, r, result);
      to.InsertRecord(buffer, false);
      ++result.RecordsKept;
    } catch (const ETarnEngineError& e) {
      to.FreeBlobs(true);
      const std::string why = e.ErrorCode() == TARN_KEYVIOL ? "its key collides with a record kept before it: "
                                                             : "the rebuilt table refuses it: ";
      result.Losses.push_back({r, true, why + e.what()});
    }
  }
}

}  // namespace

TRepairResult RepairTable(TDataDirectory& directory, std::string_view name, const TRepairProgress& progress) {
  TRepairResult result;
  TDataCursor old(directory);
  old.SetTableName(name);
  old.SetExclusive(true);
  old.SetReadOnly(true);
  old.SetUnordered(true);
  old.OpenCursor();
  const std::string tableName = old.TableName();
  const std::int32_t lastAutoInc = old.Table().DataFile().GetLastAutoInc();

  TWorkTable work(directory, [&] {
    std::string unique = directory.UniqueTableName(false);
    return unique.substr(0, unique.size() - 4);  // without ".DAT"
  }());
  work.Create(DefinitionOf(old.Table()));
  TDataCursor& to = work.Open();
  CopyRecords(old, to, result, progress);
  TDataFile& newData = to.Table().DataFile();
  if (lastAutoInc > newData.GetLastAutoInc()) newData.SetLastAutoInc(lastAutoInc);
  work.Close();
  old.CloseCursor();

  // The old files become the backups, the work table takes their place.
  directory.RenameTable(tableName, false, tableName, true);
  try {
    directory.RenameTable(work.Name(), false, tableName, false);
  } catch (...) {
    // Put the old files back under their name; the work table is deleted.
    const std::string base = directory.Path() + tableName;
    for (const auto& [backup, ext] : {std::pair{TableFileExt::DataBackup, TableFileExt::Data},
                                      std::pair{TableFileExt::IndexBackup, TableFileExt::Index},
                                      std::pair{TableFileExt::BlobBackup, TableFileExt::Blob}}) {
      const std::string from = MakeTableFileName(base, TableFileExt::Data, backup);
      if (FileList().FileExists(from, false)) {
        (void)FileList().RenameFile(from, false, MakeTableFileName(base, TableFileExt::Data, ext));
      }
    }
    throw;
  }
  work.Keep();
  result.BackupNote = tableName + ".DBK, .IBK and .BBK";
  if (progress) progress(1.0);
  return result;
}

}  // namespace tarn
