#include "engine/table/data_file.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cctype>
#include <limits>

#include "engine/base/bcd.h"
#include "engine/base/byte_order.h"
#include "engine/base/date_time.h"
#include "engine/base/error_context.h"
#include "engine/base/names.h"
#include "engine/files/grow_buffer.h"
#include "engine/files/os_error.h"
#include "engine/table/scramble.h"

namespace tarn {

namespace {

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// Applies the text key to the characters of a stored text.
std::string ScrambleText(std::string_view text) {
  std::string out(text);
  ScrambleBytes(std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(out.data()), out.size()), TextScrambleKey);
  return out;
}

}  // namespace

// ---------------------------------------------------------------- lifecycle

TDataFile::TDataFile(TDataFileOwner& owner) : FOwner(owner), FRecordPool(this, 0) {}

TDataFile::~TDataFile() {
  DiscardRecords();
  assert(FDetached == nullptr && "records still pinned when their data file goes away");
  FreeDetached();
  CloseQuietly();
}

std::string TDataFile::ErrorTableName() const {
  const std::string_view name = FOwner.TableName();
  return name.empty() ? FFileName : std::string(name);
}

void TDataFile::Raise(TErrorCode code) const { RaiseEngineError(code, {.Table = ErrorTableName()}); }

void TDataFile::OpenFile() {
  if (FOpened) return;
  FRecordsPerRead = 0;
  FFieldDefs.clear();
  TFileHandler::OpenFile();
  try {
    ReadDataHeader();
    if (FHeader.FieldCount() > DataFormat::MaxFieldCount) Raise(TARN_HEADERCORRUPT);
    // A record holds at least its control bytes; anything less cannot be read.
    if (FHeader.RecordSize() < RecordLayout::ControlSize) Raise(TARN_HEADERCORRUPT);
    ReadFieldDefs();
    SetUpCache();
  } catch (...) {
    FFieldDefs.clear();
    FRecordsPerRead = 0;
    DiscardRecords();
    CloseQuietly();
    throw;
  }
}

void TDataFile::CloseFile() {
  if (!FOpened) return;
  FFieldDefs.clear();
  FRecordsPerRead = 0;
  DiscardRecords();
  TFileHandler::CloseFile();
}

void TDataFile::SetUpCache() {
  DiscardRecords();
  FRecordsPerRead = std::max(1, RecordCacheLimits::ReadAheadBytes / std::max<int>(1, FHeader.RecordSize()));
  FRecordPool.SetRecordSize(FHeader.RecordSize());
  FStats = {};
  FCacheCapacity = NominalCacheCapacity();
}

std::int32_t TDataFile::NominalCacheCapacity() const {
  const std::int32_t size = std::max<std::int32_t>(1, FHeader.RecordSize());
  return std::max(0, std::min(FOwner.MaxDataBufferSize() / size, FOwner.MaxDataBufferCount()));
}

// ---------------------------------------------------------------- header

void TDataFile::ReadDataHeader() {
  TDataHeader image;
  {
    TFileSection section(*this);
    SeekFile(TSeekOrigin::Begin, 0);
    ReadBuffer(image.MutableBytes());
  }
  CheckShapeUnchanged(image);
  FHeader = image;
  FHeader.SetHeaderDirty(false);
}

void TDataFile::CheckShapeUnchanged(const TDataHeader& image) const {
  // Definitions and cached records were laid out for the record size and
  // field count in force when the file was opened; a header that changes
  // them under an open file cannot be right (restructuring needs exclusive use).
  if (FRecordsPerRead == 0) return;
  if (image.RecordSize() != FHeader.RecordSize() || image.FieldCount() != FHeader.FieldCount())
    Raise(TARN_HEADERCORRUPT);
}

bool TDataFile::DataHeaderChanged() {
  GrowBuffer(TDataHeader::Size, BufferGranularity, FReadBuffer);
  std::span<std::uint8_t> image(FReadBuffer.data(), TDataHeader::Size);
  {
    TFileSection section(*this);
    SeekFile(TSeekOrigin::Begin, 0);
    ReadBuffer(image);
  }
  if (GetLEI32(image, DataHeaderLayout::ChangeCount) == FHeader.ChangeCount()) return false;
  TDataHeader fresh;
  std::copy(image.begin(), image.end(), fresh.MutableBytes().begin());
  CheckShapeUnchanged(fresh);
  FHeader = fresh;
  return true;
}

bool TDataFile::WriteDataHeader(bool force) {
  if (!force && !FHeader.HeaderDirty()) return false;
  FHeader.SetChangeCount(FHeader.ChangeCount() + 1);
  FHeader.SetEngineVersion(DataFormat::EngineVersion);
  FHeader.SetLastUpdated(CurrentDateTime() - DateScale::DateTimeEpochDay);
  GrowBuffer(TDataHeader::Size, BufferGranularity, FWriteBuffer);
  std::copy(FHeader.Bytes().begin(), FHeader.Bytes().end(), FWriteBuffer.begin());
  {
    TFileSection section(*this);
    SeekFile(TSeekOrigin::Begin, 0);
    WriteBuffer(std::span<const std::uint8_t>(FWriteBuffer.data(), TDataHeader::Size));
  }
  FOwner.SetDataWritten();
  FHeader.SetHeaderDirty(false);
  return true;
}

void TDataFile::BumpChangeCount() {
  FHeader.SetChangeCount(FHeader.ChangeCount() + 1);
  MarkHeaderDirty();
  FOwner.SetDataWritten();
}

void TDataFile::StoreHeader() {
  std::array<std::uint8_t, TDataHeader::Size> image{};
  std::copy(FHeader.Bytes().begin(), FHeader.Bytes().end(), image.begin());
  TFileSection section(*this);
  SeekFile(TSeekOrigin::Begin, 0);
  WriteBuffer(image);
}

void TDataFile::AnnounceHeaderWrite() {
  FHeader.SetChangeCount(FHeader.ChangeCount() + 1);
  FHeader.SetEngineVersion(DataFormat::EngineVersion);
  FHeader.SetLastUpdated(CurrentDateTime() - DateScale::DateTimeEpochDay);
  FHeader.SetWriteInProgress(true);
  StoreHeader();
  FOwner.SetDataWritten();
}

void TDataFile::CompleteHeaderWrite() {
  FHeader.SetWriteInProgress(false);
  try {
    StoreHeader();
  } catch (...) {
    FHeader.SetWriteInProgress(true);  // the disk still holds the mark
    throw;
  }
  FOwner.SetDataWritten();
  FHeader.SetHeaderDirty(false);
}

bool TDataFile::HasUnwrittenChanges() const {
  if (FHeader.HeaderDirty() || FFieldDefsDirty) return true;
  for (const TRecord* r = FFirstModified; r != nullptr; r = r->FNextModified)
    if (r->FModified) return true;
  return false;
}

void TDataFile::ReadFieldDefs() {
  const std::size_t count = FHeader.FieldCount();
  if (count > DataFormat::MaxFieldCount) Raise(TARN_HEADERCORRUPT);
  const std::size_t bytes = count * TFieldDesc::Size;
  GrowBuffer(static_cast<std::int64_t>(bytes), BufferGranularity, FReadBuffer);
  std::span<std::uint8_t> run(FReadBuffer.data(), bytes);
  {
    TFileSection section(*this);
    SeekFile(TSeekOrigin::Begin, DataFormat::FieldDefsOffset);
    ReadBuffer(run);
  }
  if (FHeader.Encrypted()) ScrambleBytes(run, DataScrambleKey);
  std::vector<TFieldDesc> defs;
  defs.reserve(count);
  for (std::size_t i = 0; i < count; ++i) defs.push_back(TFieldDesc::FromBytes(run.subspan(i * TFieldDesc::Size)));
  FFieldDefs = std::move(defs);
  FFieldDefsDirty = false;
}

bool TDataFile::WriteFieldDefs() {
  if (!FFieldDefsDirty) return false;
  const std::size_t bytes = FFieldDefs.size() * TFieldDesc::Size;
  GrowBuffer(static_cast<std::int64_t>(bytes), BufferGranularity, FWriteBuffer);
  std::span<std::uint8_t> run(FWriteBuffer.data(), bytes);
  for (std::size_t i = 0; i < FFieldDefs.size(); ++i)
    std::copy(FFieldDefs[i].Bytes().begin(), FFieldDefs[i].Bytes().end(), run.begin() + i * TFieldDesc::Size);
  if (FHeader.Encrypted()) ScrambleBytes(run, DataScrambleKey);
  {
    TFileSection section(*this);
    SeekFile(TSeekOrigin::Begin, DataFormat::FieldDefsOffset);
    WriteBuffer(run);
  }
  if (FOwner.ForceBufferFlush()) FlushFile();
  FFieldDefsDirty = false;
  return true;
}

void TDataFile::StoreTexts(std::string_view password, std::string_view description) {
  const std::string_view desc = description.substr(0, DataHeaderLayout::MaxDescription);
  if (FHeader.Encrypted()) {
    FHeader.SetRawPassword(ScrambleText(password.substr(0, DataHeaderLayout::MaxPassword)));
    FHeader.SetRawDescription(ScrambleText(desc));
  } else {
    FHeader.SetRawPassword({});
    FHeader.SetRawDescription(desc);
  }
}

void TDataFile::CreateDataFile(std::int16_t languageId, std::int16_t sortId, std::span<const TFieldDesc> fieldDefs,
                               std::uint16_t blobBlockSize, std::string_view description, std::string_view password,
                               bool encrypted, std::int16_t userMajorVersion, std::int16_t userMinorVersion) {
  if (fieldDefs.size() > DataFormat::MaxFieldCount) Raise(TARN_FLDLIMIT);
  // Everything is checked before the image changes or the file is created.
  std::uint16_t blobFields = 0;
  std::uint32_t recordSize = RecordLayout::ControlSize;
  for (const TFieldDesc& d : fieldDefs) {
    if (d.FieldType() == FieldType::Blob && ++blobFields > DataFormat::MaxBlobFields) Raise(TARN_BLOBLIMIT);
    if (d.TakesRecordSpace()) recordSize += d.FieldPhysSize() + 1u;
  }
  if (recordSize > 65535) Raise(TARN_RECTOOBIG);

  DiscardRecords();
  FHeader.Clear();
  FHeader.SetLanguageId(languageId);
  FHeader.SetSortId(sortId);
  FHeader.SetUserMajorVersion(userMajorVersion);
  FHeader.SetUserMinorVersion(userMinorVersion);
  FHeader.SetEncrypted(encrypted);
  StoreTexts(password, description);
  FHeader.SetFieldCount(static_cast<std::uint16_t>(fieldDefs.size()));
  FHeader.SetBlobFieldCount(blobFields);
  FHeader.SetBlobBlockSize(blobBlockSize);
  FFieldDefs.assign(fieldDefs.begin(), fieldDefs.end());
  FFieldDefsDirty = true;
  FHeader.SetVersion(DataFormat::Version);
  FHeader.SetFirstFreeRecord(0);
  FHeader.SetNextRecordNumber(1);
  FHeader.SetLastAutoInc(0);
  FHeader.SetChangeCount(0);
  FHeader.SetRecordSize(static_cast<std::uint16_t>(recordSize));
  MarkHeaderDirty();
  TFileHandler::CreateFile();
  SetUpCache();
}

void TDataFile::EmptyDataFile() {
  DiscardRecords();
  {
    TFileSection section(*this);
    SeekFile(TSeekOrigin::Begin, RecordsOffset());
    WriteBuffer({});
  }
  if (FOwner.ForceBufferFlush()) FlushFile();
  FHeader.SetChangeCount(0);
  FHeader.SetFirstFreeRecord(0);
  FHeader.SetNextRecordNumber(1);
  FHeader.SetLastAutoInc(0);
  MarkHeaderDirty();
}

void TDataFile::SetTableAttributes(std::string_view password, std::string_view description, std::int32_t lastAutoInc,
                                   std::int16_t userMajorVersion, std::int16_t userMinorVersion) {
  StoreTexts(password, description);
  FHeader.SetLastAutoInc(lastAutoInc);
  FHeader.SetUserMajorVersion(userMajorVersion);
  FHeader.SetUserMinorVersion(userMinorVersion);
  MarkHeaderDirty();
}

void TDataFile::SetLastAutoInc(std::int32_t value) {
  if (value == FHeader.LastAutoInc()) return;
  FHeader.SetLastAutoInc(value);
  MarkHeaderDirty();
}

void TDataFile::UpdateFieldDef(std::uint16_t fieldNo, const TFieldDesc& def) {
  if (fieldNo < 1 || fieldNo > FFieldDefs.size()) Raise(TARN_OUTOFRANGE);
  TFieldDesc& d = FFieldDefs[fieldNo - 1];
  d.SetFieldNo(def.FieldNo());
  d.SetFieldName(def.FieldName());
  d.SetFieldSubType(def.FieldSubType());
  d.SetFieldDescription(def.FieldDescription());
  d.SetFieldRequired(def.FieldRequired());
  d.SetFieldMin(def.FieldMin());
  d.SetFieldMax(def.FieldMax());
  d.SetFieldDefault(def.FieldDefault());
  FFieldDefsDirty = true;
}

// ---------------------------------------------------------------- lookups

std::optional<TFieldDesc> TDataFile::GetFieldDef(std::uint16_t position) const {
  if (position < 1 || position > FFieldDefs.size()) return std::nullopt;
  return FFieldDefs[position - 1];
}

std::optional<TDataFile::TFieldDefAt> TDataFile::GetFieldDefByNumber(std::uint16_t fieldNo) const {
  for (std::size_t i = 0; i < FFieldDefs.size(); ++i)
    if (FFieldDefs[i].FieldNo() == fieldNo) return TFieldDefAt{FFieldDefs[i], static_cast<std::uint16_t>(i + 1)};
  return std::nullopt;
}

std::optional<TDataFile::TFieldDefAt> TDataFile::FindFieldDef(std::string_view name) const {
  for (std::size_t i = 0; i < FFieldDefs.size(); ++i)
    if (SameName(FFieldDefs[i].FieldName(), name)) return TFieldDefAt{FFieldDefs[i], static_cast<std::uint16_t>(i + 1)};
  return std::nullopt;
}

std::uint16_t TDataFile::FieldNumber(std::string_view name) const {
  const auto found = FindFieldDef(name);
  return found ? found->Position : 0;
}

std::string TDataFile::GetDescription() const {
  return FHeader.Encrypted() ? ScrambleText(FHeader.RawDescription()) : FHeader.RawDescription();
}

std::string TDataFile::GetPassword() const {
  return FHeader.Encrypted() ? ScrambleText(FHeader.RawPassword()) : std::string();
}

std::int32_t TDataFile::GetBlobBlockSize() const {
  const std::int32_t size = FHeader.BlobBlockSize();
  return size == 0 ? DataFormat::DefaultBlobBlockSize : size;
}

// ---------------------------------------------------------------- checks

void TDataFile::CheckDataVersion() {
  if (FHeader.Version() != DataFormat::Version) Raise(TARN_OLDVERSION);
}

void TDataFile::VerifyDataFile() {
  CheckDataVersion();
  if (FHeader.LanguageId() != 0 && !FOwner.LocaleInstalled(FHeader.LanguageId(), FHeader.SortId()))
    Raise(TARN_CANNOTLOADLDDRV);
  // Text lengths that run past their slots make the whole header suspect.
  if (FHeader.Bytes()[DataHeaderLayout::Description] > DataHeaderLayout::MaxDescription ||
      FHeader.Bytes()[DataHeaderLayout::Password] > DataHeaderLayout::MaxPassword)
    Raise(TARN_HEADERCORRUPT);
  if (FHeader.FieldCount() != FFieldDefs.size() || FHeader.FieldCount() > DataFormat::MaxFieldCount)
    Raise(TARN_HEADERCORRUPT);

  std::uint32_t running = RecordLayout::ControlSize;
  std::vector<std::string> names;
  std::vector<std::uint16_t> numbers;
  names.reserve(FFieldDefs.size());
  numbers.reserve(FFieldDefs.size());
  for (std::size_t i = 0; i < FFieldDefs.size(); ++i) {
    TFieldDesc& d = FFieldDefs[i];
    if (!d.LengthBytesValid()) Raise(TARN_HEADERCORRUPT);
    const std::uint8_t type = d.FieldType();
    if (type == FieldType::Unknown || !FieldType::IsKnown(type)) Raise(TARN_HEADERCORRUPT);
    d.ComputePhysical();

    const std::string name = UpperAscii(TrimBlanks(d.FieldName()));
    if (name.empty() || name.size() > FieldDescLayout::MaxNameLength) Raise(TARN_HEADERCORRUPT);
    const auto first = static_cast<unsigned char>(name[0]);
    if (!((first >= 'A' && first <= 'Z') || first == '_' || (first >= 128 && first <= 254))) Raise(TARN_HEADERCORRUPT);
    if (std::find(names.begin(), names.end(), name) != names.end()) Raise(TARN_HEADERCORRUPT);
    names.push_back(name);
    if (std::find(numbers.begin(), numbers.end(), d.FieldNo()) != numbers.end()) Raise(TARN_HEADERCORRUPT);
    numbers.push_back(d.FieldNo());

    const bool sized = type == FieldType::String || type == FieldType::Bytes || type == FieldType::VarBytes;
    if (sized ? d.FieldSize() > FieldDescLayout::MaxFieldSize : d.FieldSize() != 0) Raise(TARN_HEADERCORRUPT);
    if (type == FieldType::Bcd ? d.FieldDecimals() > TBcd::RecordPrecision : d.FieldDecimals() != 0)
      Raise(TARN_HEADERCORRUPT);
    for (const std::string& text : {d.FieldDefault(), d.FieldMin(), d.FieldMax()})
      if (!ValueTextSuitsType(text, type, d.FieldDecimals())) Raise(TARN_HEADERCORRUPT);

    if (d.IsAutoInc()) {
      if (d.FieldOffset() != RecordLayout::RecAutoInc) Raise(TARN_HEADERCORRUPT);
    } else {
      if (d.FieldOffset() != running) Raise(TARN_HEADERCORRUPT);
      running += d.FieldPhysSize() + 1u;
    }
    if (d.FieldNo() != i + 1) Raise(TARN_HEADERCORRUPT);
  }
  if (FHeader.RecordSize() != running) Raise(TARN_HEADERCORRUPT);

  const std::int64_t h = RecordsOffset();
  const std::int64_t size = GetFileSize();
  const std::int64_t recordSize = FHeader.RecordSize();
  if (size < h) Raise(TARN_HEADERCORRUPT);
  // A header that carries the mark of an interrupted write may have reached
  // the disk before the records it counts: the table opens, damaged (the
  // mark says so), and the records the file lacks fail when read.
  if (!FHeader.WriteInProgress()) {
    if ((size - h) % recordSize != 0) Raise(TARN_HEADERCORRUPT);
    if ((size - h) / recordSize + 1 != FHeader.NextRecordNumber()) Raise(TARN_HEADERCORRUPT);
  }
  const std::int64_t slots = FHeader.NextRecordNumber() - 1;
  if (slots < 0 || FHeader.FirstFreeRecord() < 0 || FHeader.FirstFreeRecord() > slots) Raise(TARN_HEADERCORRUPT);
}

// ---------------------------------------------------------------- cache internals

bool TDataFile::IsCached(std::int32_t recordNo) const { return FindCached(recordNo) != nullptr; }

void TDataFile::LinkOlderThan(TRecord* r, TRecord* newer) {
  r->FNewer = newer;
  if (newer == nullptr) {
    r->FOlder = FMostRecent;
    if (FMostRecent != nullptr) FMostRecent->FNewer = r;
    FMostRecent = r;
  } else {
    r->FOlder = newer->FOlder;
    newer->FOlder = r;
  }
  if (r->FOlder != nullptr) r->FOlder->FNewer = r;
  else FLeastRecent = r;
}

void TDataFile::LinkFront(TRecord* r) {
  r->FLastUse = ++FUseClock;
  LinkOlderThan(r, nullptr);
}

void TDataFile::Unlink(TRecord* r) {
  if (r->FParked) {
    if (r->FNewer != nullptr) r->FNewer->FOlder = r->FOlder;
    if (r->FOlder != nullptr) r->FOlder->FNewer = r->FNewer;
    else FParkedHead = r->FNewer;
    r->FParked = false;
  } else {
    if (r->FNewer != nullptr) r->FNewer->FOlder = r->FOlder;
    else FMostRecent = r->FOlder;
    if (r->FOlder != nullptr) r->FOlder->FNewer = r->FNewer;
    else FLeastRecent = r->FNewer;
  }
  r->FOlder = nullptr;
  r->FNewer = nullptr;
}

void TDataFile::MoveToFront(TRecord* r) {
  if (FMostRecent == r) {
    r->FLastUse = ++FUseClock;
    return;
  }
  Unlink(r);
  LinkFront(r);
}

void TDataFile::Park(TRecord* r) {
  Unlink(r);
  r->FParked = true;
  r->FOlder = nullptr;
  r->FNewer = FParkedHead;
  if (FParkedHead != nullptr) FParkedHead->FOlder = r;
  FParkedHead = r;
}

void TDataFile::PutBack(TRecord* r) {
  Unlink(r);
  TRecord* newer = FLeastRecent;
  while (newer != nullptr && newer->FLastUse < r->FLastUse) newer = newer->FNewer;
  LinkOlderThan(r, newer);
}

void TDataFile::PutBack(std::vector<TRecord*>& records) {
  auto byUse = [](const TRecord* a, const TRecord* b) { return a->FLastUse < b->FLastUse; };
  // Records appended in order and written together come sorted already.
  if (!std::is_sorted(records.begin(), records.end(), byUse)) std::sort(records.begin(), records.end(), byUse);
  // One walk from the old end: each record goes just older than the first
  // record of the chain used after it.
  TRecord* newer = FLeastRecent;
  for (TRecord* r : records) {
    Unlink(r);
    while (newer != nullptr && newer->FLastUse < r->FLastUse) newer = newer->FNewer;
    LinkOlderThan(r, newer);
  }
  records.clear();
}

void TDataFile::ListModified(TRecord& r) {
  if (r.FListedModified) return;
  r.FListedModified = true;
  r.FNextModified = nullptr;
  r.FPrevModified = FLastModified;
  if (FLastModified != nullptr) FLastModified->FNextModified = &r;
  else FFirstModified = &r;
  FLastModified = &r;
}

void TDataFile::UnlistModified(TRecord& r) {
  if (!r.FListedModified) return;
  if (r.FNextModified != nullptr) r.FNextModified->FPrevModified = r.FPrevModified;
  else FLastModified = r.FPrevModified;
  if (r.FPrevModified != nullptr) r.FPrevModified->FNextModified = r.FNextModified;
  else FFirstModified = r.FNextModified;
  r.FNextModified = nullptr;
  r.FPrevModified = nullptr;
  r.FListedModified = false;
}

TRecord* TDataFile::FindEvictable() {
  while (TRecord* r = FLeastRecent) {
    if (!r->FModified && r->FPinCount == 0) return r;
    Park(r);
  }
  return nullptr;
}

TRecord* TDataFile::InsertCached(std::unique_ptr<TRecord> r) {
  FCache.Insert(r->FRecordNo, r.get());  // r still owns it should the insert throw
  r->FCached = true;
  if (r->FModified) ListModified(*r);
  return r.release();
}

void TDataFile::RemoveCached(TRecord* r) {
  if (FindCached(r->FRecordNo) != r) Raise(TARN_FILECORRUPT);
  FCache.Erase(r->FRecordNo);
  Unlink(r);
  UnlistModified(*r);
  r->FCached = false;
  std::unique_ptr<TRecord> owned(r);
  FRecordPool.Put(owned);
}

// A buffer for record R, cleared (unless the caller loads it at once), in
// FCache and at the front of the chain. Requires: R is not cached.
TRecord* TDataFile::ObtainBuffer(std::int32_t recordNo, bool clear) {
  assert(FindCached(recordNo) == nullptr);
  if (static_cast<std::int64_t>(FCache.Size()) >= FCacheCapacity) {
    TRecord* victim = FindEvictable();
    if (victim == nullptr && !FOwner.HoldsTransactionLock()) {
      FlushRecords();
      victim = FindEvictable();
    }
    if (victim != nullptr) {
      if (FindCached(victim->FRecordNo) != victim) Raise(TARN_FILECORRUPT);
      // Renumbering in place: the hash has just freed the slot it needs, so
      // the insert cannot grow it and cannot throw.
      FCache.Erase(victim->FRecordNo);
      FCache.Insert(recordNo, victim);
      UnlistModified(*victim);  // clean: at most left listed by a lazy clear
      MoveToFront(victim);
      victim->FRecordNo = recordNo;
      if (clear) victim->Clear(false);
      return victim;
    }
    // Inside a transaction every older buffer is usually modified: growing by
    // half the capacity keeps the number of full-cache searches to O(log n)
    // for n records buffered (a capacity is a limit only; buffers are made as
    // needed).
    const std::int32_t step = FOwner.HoldsTransactionLock()
                                  ? std::max(RecordCacheLimits::GrowthStep, FCacheCapacity / 2)
                                  : RecordCacheLimits::GrowthStep;
    FCacheCapacity += step;
  }
  std::unique_ptr<TRecord> fresh = FRecordPool.Get();
  fresh->FRecordNo = recordNo;
  fresh->Clear(false);
  TRecord* raw = InsertCached(std::move(fresh));
  LinkFront(raw);
  return raw;
}

bool TDataFile::InReadAhead(std::int32_t recordNo) const {
  return FReadAheadFirst != 0 && recordNo >= FReadAheadFirst && recordNo <= FReadAheadLast;
}

// ---------------------------------------------------------------- records

TRecordPin TDataFile::GetRecord(TRecordCacheClient* cursor, std::int32_t recordNo, bool forward, bool cursorDecides,
                                bool useReadAhead) {
  const std::int32_t next = FHeader.NextRecordNumber();
  if (recordNo <= 0) Raise(TARN_FILECORRUPT);
  const std::int64_t recordSize = FHeader.RecordSize();

  if (recordNo == next) {
    if (recordNo > RecordCacheLimits::MaxRecords ||
        RecordsOffset() + std::int64_t{recordNo} * recordSize > RecordCacheLimits::MaxFileSize)
      Raise(TARN_TABLEFULL);
    TRecord* r = ObtainBuffer(recordNo);
    TRecordPin pin(*this, *r);
    ++FStats.Hits;
    FHeader.SetNextRecordNumber(next + 1);
    MarkHeaderDirty();
    assert(CheckInvariants());
    return pin;
  }
  if (recordNo > next) Raise(TARN_FILECORRUPT);

  // The few most recently used buffers first: cursors mostly come back to them.
  std::size_t seen = 0;
  for (TRecord* r = FMostRecent; r != nullptr && seen < RecordCacheLimits::RecentChecked; r = r->FOlder, ++seen) {
    if (r->FRecordNo == recordNo) {
      MoveToFront(r);
      ++FStats.Hits;
      return TRecordPin(*this, *r);
    }
  }
  if (TRecord* r = FindCached(recordNo)) {
    MoveToFront(r);
    ++FStats.Hits;
    return TRecordPin(*this, *r);
  }

  // Miss.
  if (cursor != nullptr && !FOwner.StrictChangeDetection() && cursor->ChangeCheck()) return {};
  // The check may have re-read the header; take the file as it is now.
  const std::int32_t nextNow = FHeader.NextRecordNumber();
  if (recordNo >= nextNow) Raise(TARN_FILECORRUPT);

  std::int32_t count = 1;
  if (useReadAhead) {
    if (cursorDecides && cursor != nullptr)
      count = std::clamp(cursor->ReadAheadCount(recordNo, forward, FRecordsPerRead), 1, std::max(1, FRecordsPerRead));
    else
      count = std::max(1, std::min(FRecordsPerRead, nextNow - recordNo));
  }
  // Never past either end of the file.
  count = std::min(count, forward ? nextNow - recordNo : recordNo);
  const std::int32_t first = forward ? recordNo : recordNo - count + 1;

  const std::size_t bytes = static_cast<std::size_t>(count) * static_cast<std::size_t>(recordSize);
  GrowBuffer(static_cast<std::int64_t>(bytes), BufferGranularity, FReadBuffer);
  struct TReadAheadMark {
    TDataFile& File;
    ~TReadAheadMark() { File.FReadAheadFirst = File.FReadAheadLast = 0; }
  } mark{*this};
  FReadAheadFirst = first;
  FReadAheadLast = first + count - 1;

  const std::int32_t got = ReadBufferAt(RecordsOffset() + std::int64_t{first - 1} * recordSize,
                                        std::span<std::uint8_t>(FReadBuffer.data(), bytes));
  if (got < 0) RaiseFileError(TARN_READERR, FileName());  // not open
  ++FStats.DiskReads;
  if (count > 1) ++FStats.ReadAheads;
  if (static_cast<std::size_t>(got) < bytes) {
    // Records appended by this table and not yet written lie past the end of
    // the file; that is only possible while nobody else can write. A header
    // marked by an interrupted write may count records that never reached the
    // file: those fail below, the ones before them read as usual.
    const bool acceptable =
        FHeader.WriteInProgress() || (FOwner.DataWritten() && (FExclusive || FOwner.HoldsTransactionLock()));
    if (!acceptable) Raise(TARN_READERR);
  }
  const std::int32_t delivered = static_cast<std::int32_t>(std::max(0, got) / recordSize);

  TRecordPin result;
  for (std::int32_t i = 0; i < delivered; ++i) {
    const std::int32_t n = first + i;
    std::span<std::uint8_t> raw(FReadBuffer.data() + static_cast<std::size_t>(i) * recordSize,
                                static_cast<std::size_t>(recordSize));
    TRecord* r = FindCached(n);
    if (r == nullptr) {
      // LoadFrom replaces every byte of the record (those past its size stay zero).
      r = ObtainBuffer(n, false);
      r->LoadFrom(raw);
    } else if (!r->FModified && r->FPinCount == 0) {
      r->LoadFrom(raw);
    }
    // Pinned at once, so that loading the rest of the run cannot evict it.
    if (n == recordNo) result = TRecordPin(*this, *r);
  }
  if (!result) {
    if (TRecord* r = FindCached(recordNo))
      result = TRecordPin(*this, *r);
    else
      Raise(TARN_FILECORRUPT);
  }
  MoveToFront(result.Get());
  assert(CheckInvariants());
  return result;
}

void TDataFile::PrefetchAhead(std::int32_t next, std::int32_t second, std::int32_t fourth) const noexcept {
  if (fourth > 0) FCache.Prefetch(fourth);
  if (const TRecord* r = second > 0 ? FindCached(second) : nullptr) {
    // Every line of the object, whatever its alignment.
    const char* object = reinterpret_cast<const char*>(r);
    for (std::size_t at = 0; at < sizeof(TRecord); at += 64) __builtin_prefetch(object + at);
    __builtin_prefetch(object + sizeof(TRecord) - 1);
  }
  if (const TRecord* r = next > 0 ? FindCached(next) : nullptr) {
    if (r->FSize > 0) {
      __builtin_prefetch(r->FBuffer.data());
      __builtin_prefetch(r->FBuffer.data() + r->FSize - 1);
    }
    if (r->FNewer != nullptr) __builtin_prefetch(&r->FNewer->FOlder, 1);
    if (r->FOlder != nullptr) __builtin_prefetch(&r->FOlder->FNewer, 1);
  }
}

void TDataFile::ReleaseRecord(TRecord& record) noexcept {
  record.Unpin();
  if (record.Pinned()) return;
  if (record.FParked) {
    if (!record.FModified) PutBack(&record);  // evictable again
    return;
  }
  if (!record.FDetached) return;
  for (TRecord** link = &FDetached; *link != nullptr; link = &(*link)->FNewer) {
    if (*link == &record) {
      *link = record.FNewer;
      record.FNewer = nullptr;
      std::unique_ptr<TRecord> owned(&record);
      FRecordPool.Put(owned);
      return;
    }
  }
}

void TDataFile::FreeDetached() noexcept {
  while (FDetached != nullptr) {
    TRecord* r = FDetached;
    FDetached = r->FNewer;
    delete r;
  }
}

std::int32_t TDataFile::AllocateRecordNo() const {
  if (FHeader.FirstFreeRecord() == 0 || FOwner.HasNoPrimaryIndex()) return FHeader.NextRecordNumber();
  return FHeader.FirstFreeRecord();
}

TRecordPin TDataFile::AllocateRecord(TRecordCacheClient* cursor) {
  const std::int32_t recordNo = AllocateRecordNo();
  const std::int32_t next = FHeader.NextRecordNumber();
  const bool reuse = recordNo != next;
  // A free-list head outside the file would hand out a slot that is not there.
  if (reuse && (recordNo < 1 || recordNo >= next)) Raise(TARN_FILECORRUPT);
  TRecordPin pin = GetRecord(cursor, recordNo, true, false, false);
  if (!pin) return pin;
  if (reuse && !pin->IsDeleted()) Raise(TARN_FILECORRUPT);  // would overwrite a live record
  const std::int32_t link = pin->GetFreeLink();
  if (link < 0 || link >= FHeader.NextRecordNumber()) Raise(TARN_FILECORRUPT);
  if (link != FHeader.FirstFreeRecord()) {
    FHeader.SetFirstFreeRecord(link);
    MarkHeaderDirty();
  }
  return pin;
}

void TDataFile::FreeRecord(TRecord& record) {
  const bool appends = AllocateRecordNo() == FHeader.NextRecordNumber();
  record.SetDeleted(true);
  record.SetLink(appends ? 0 : FHeader.FirstFreeRecord());
  FHeader.SetFirstFreeRecord(record.RecordNo());
  MarkHeaderDirty();
}

std::int32_t TDataFile::NextAutoInc() {
  std::int32_t last = FHeader.LastAutoInc();
  if (last == std::numeric_limits<std::int32_t>::max()) last = 0;
  FHeader.SetLastAutoInc(last + 1);
  MarkHeaderDirty();
  return last + 1;
}

std::int32_t TDataFile::NextBlobStamp() {
  std::int32_t last = FHeader.LastBlobStamp();
  if (last == std::numeric_limits<std::int32_t>::max()) last = 0;
  FHeader.SetLastBlobStamp(last + 1);
  MarkHeaderDirty();
  return last + 1;
}

bool TDataFile::FlushRecords() {
  const std::int64_t recordSize = FHeader.RecordSize();
  // The modified, unpinned records outside the read-ahead, in record order.
  FFlushList.clear();
  for (TRecord* r = FFirstModified; r != nullptr;) {
    TRecord* next = r->FNextModified;
    if (!r->FModified) {
      UnlistModified(*r);  // cleared by other means since it was listed
      if (r->FParked && r->FPinCount == 0) PutBack(r);
    } else if (r->FPinCount == 0 && !InReadAhead(r->FRecordNo)) {
      FFlushList.push_back(r);
    }
    r = next;
  }
  if (FFlushList.empty()) return false;
  // The list holds records in the order they were changed: appends come sorted.
  auto byNumber = [](const TRecord* a, const TRecord* b) { return a->FRecordNo < b->FRecordNo; };
  if (!std::is_sorted(FFlushList.begin(), FFlushList.end(), byNumber))
    std::sort(FFlushList.begin(), FFlushList.end(), byNumber);
  // Written records leave the modified list at once; those parked go back
  // into the chain on every exit (the push_backs below cannot allocate).
  FPutBackList.clear();
  FPutBackList.reserve(FFlushList.size());
  struct TPutBack {
    TDataFile& File;
    ~TPutBack() { File.PutBack(File.FPutBackList); }
  } putBack{*this};
  bool wrote = false;
  std::size_t i = 0;
  while (i < FFlushList.size()) {
    // Other programs must learn of the change before a record of it reaches the disk.
    FOwner.BeforeWritingRecords();
    std::size_t end = i + 1;
    while (end < FFlushList.size() && FFlushList[end]->FRecordNo == FFlushList[end - 1]->FRecordNo + 1) ++end;
    const std::size_t runLength = end - i;
    const std::size_t bytes = runLength * static_cast<std::size_t>(recordSize);
    GrowBuffer(static_cast<std::int64_t>(bytes), BufferGranularity, FWriteBuffer);
    for (std::size_t k = 0; k < runLength; ++k)
      FFlushList[i + k]->StoreTo(std::span<std::uint8_t>(FWriteBuffer.data() + k * recordSize, recordSize));
    try {
      TFileSection section(*this);
      SeekFile(TSeekOrigin::Begin, RecordsOffset() + std::int64_t{FFlushList[i]->FRecordNo - 1} * recordSize);
      WriteBuffer(std::span<const std::uint8_t>(FWriteBuffer.data(), bytes));
    } catch (...) {
      // Nothing of the run is known to be on disk: keep it to be written.
      for (std::size_t k = 0; k < runLength; ++k) FFlushList[i + k]->FModified = true;
      throw;
    }
    for (std::size_t k = i; k < end; ++k) {
      TRecord* r = FFlushList[k];
      UnlistModified(*r);
      if (r->FParked) FPutBackList.push_back(r);
    }
    FOwner.SetDataWritten();
    ++FStats.WriteRuns;
    wrote = true;
    i = end;
  }
  return wrote;
}

void TDataFile::DiscardRecords() noexcept {
  auto drop = [this](TRecord* r) {
    r->FOlder = nullptr;
    r->FNewer = nullptr;
    r->FNextModified = nullptr;
    r->FPrevModified = nullptr;
    r->FCached = false;
    r->FParked = false;
    r->FListedModified = false;
    if (r->FPinCount > 0) {
      r->FDetached = true;
      r->FModified = false;
      r->FNewer = FDetached;
      FDetached = r;
    } else {
      std::unique_ptr<TRecord> owned(r);
      FRecordPool.Put(owned);
    }
  };
  for (TRecord* r = FMostRecent; r != nullptr;) {
    TRecord* older = r->FOlder;
    drop(r);
    r = older;
  }
  for (TRecord* r = FParkedHead; r != nullptr;) {
    TRecord* next = r->FNewer;
    drop(r);
    r = next;
  }
  FCache.Clear();
  FMostRecent = nullptr;
  FLeastRecent = nullptr;
  FParkedHead = nullptr;
  FFirstModified = nullptr;
  FLastModified = nullptr;
}

void TDataFile::TrimRecordCache() {
  const std::int32_t nominal = NominalCacheCapacity();
  bool flushed = false;
  while (static_cast<std::int64_t>(FCache.Size()) > nominal) {
    TRecord* victim = FindEvictable();
    if (victim == nullptr) {
      if (flushed) break;
      flushed = true;
      FlushRecords();
      continue;
    }
    RemoveCached(victim);
  }
  FCacheCapacity = std::max(static_cast<std::int32_t>(FCache.Size()), nominal);
  assert(CheckInvariants());
}

bool TDataFile::CheckInvariants() const {
  if (!FCache.CheckInvariants()) return false;
  std::size_t held = 0;
  auto cachedOnce = [&](const TRecord* r) {
    if (r->FDetached || !r->FCached || FindCached(r->FRecordNo) != r) return false;
    if (r->FModified && !r->FListedModified) return false;
    return ++held <= FCache.Size();
  };
  const TRecord* newer = nullptr;
  for (const TRecord* r = FMostRecent; r != nullptr; r = r->FOlder) {
    if (r->FNewer != newer || r->FParked || !cachedOnce(r)) return false;
    if (newer != nullptr && newer->FLastUse <= r->FLastUse) return false;
    newer = r;
  }
  if (newer != FLeastRecent) return false;
  const TRecord* previous = nullptr;
  for (const TRecord* r = FParkedHead; r != nullptr; r = r->FNewer) {
    if (r->FOlder != previous || !r->FParked || !cachedOnce(r)) return false;
    previous = r;
  }
  if (held != FCache.Size()) return false;
  std::size_t listed = 0;
  previous = nullptr;
  for (const TRecord* r = FFirstModified; r != nullptr; r = r->FNextModified) {
    if (r->FPrevModified != previous || !r->FListedModified || !r->FCached) return false;
    if (++listed > held) return false;
    previous = r;
  }
  if (previous != FLastModified) return false;
  return static_cast<std::int64_t>(FCache.Size()) <= FCacheCapacity;
}

}  // namespace tarn
