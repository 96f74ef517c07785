#include "engine/index/index_file.h"

#include <algorithm>
#include <cassert>
#include <cctype>

#include "engine/base/byte_order.h"
#include "engine/base/error_context.h"
#include "engine/files/temp_names.h"
#include "engine/index/keys.h"
#include "engine/table/field_types.h"
#include "engine/table/scramble.h"

namespace tarn {

namespace H = IndexHeaderLayout;
namespace P = IndexPageLayout;


TIndexFile::TIndexFile(TIndexOwner& owner) : FOwner(owner) {
  for (int s = 0; s < IndexSlotCount; ++s) FCaches[s].SetSlot(s);
  InitFreshHeader();
  FHeaderDirty = false;
}

TIndexFile::~TIndexFile() {
  CloseTempFile();
  for (auto& cache : FCaches) cache.Drain([](std::unique_ptr<TPage>) {});
  FOrphans.clear();
  CloseQuietly();
}

void TIndexFile::Raise(TErrorCode code) const {
  RaiseEngineError(code, {.Database = FOwner.DatabaseName(), .Table = FOwner.TableName()});
}

// --- header ------------------------------------------------------------------

void TIndexFile::InitFreshHeader() {
  FChangeCount = 0;
  FVersion = H::CurrentVersion;
  FNextPageNumber = 1;
  FIndexCount = 0;
  for (auto& d : FDescriptors) d.Clear();
  FDescriptors[SysDeletedSlot].IndexName = "Sys Deleted";
  FDescriptors[SysDeletedSlot].KeySize = 5;
  FDescriptors[SysDeletedSlot].Compression = TKeyCompression::None;
  FDescriptors[SysTextSlot].IndexName = "Sys Text";
  FDescriptors[SysTextSlot].KeySize = 68;
  FDescriptors[SysTextSlot].Compression = TKeyCompression::Full;
  FRecordCount = 0;
  FNoPrimaryIndex = false;
  FWriteInProgress = false;
  FHeaderDirty = true;
  InvalidateKeyDefs();
}

void TIndexFile::CheckHeaderImage(std::span<const std::uint8_t> image) const {
  const std::int32_t nextPage = GetLEI32(image, H::NextPageNumber);
  if (nextPage < 1 || nextPage > IndexFileLimits::MaxPageNumber + 1) Raise(TARN_INDEXCORRUPT);
  const int inUse = std::min<int>(image[H::IndexCount], IndexFileLimits::MaxSecondaryIndexes);
  auto pageOk = [&](std::int32_t p) { return p >= 0 && p < nextPage; };
  for (int s = 0; s < IndexSlotCount; ++s) {
    if (s > inUse && s < SysDeletedSlot) continue;  // unused slots are rewritten before use
    const auto slotImage =
        image.subspan(H::Descriptors + static_cast<std::size_t>(s) * IndexDescriptorLayout::Size,
                      IndexDescriptorLayout::Size);
    const TIndexDescriptor d = TIndexDescriptor::Decode(slotImage);
    const int keySize = d.KeySize;
    const std::uint8_t compression = slotImage[IndexDescriptorLayout::Compression];
    const bool keySizeOk = s == SysDeletedSlot ? keySize == KeyLimits::DeletedKeySize
                           : s == SysTextSlot  ? keySize == KeyLimits::TextKeySize
                                               : keySize >= 0 && keySize <= KeyLimits::MaxKeySize;
    if (!keySizeOk || compression > static_cast<std::uint8_t>(TKeyCompression::Full) ||
        d.Temporary || !pageOk(d.RootPage) || !pageOk(d.FreePageList) || !pageOk(d.TextParamsPage)) {
      Raise(TARN_INDEXCORRUPT);
    }
  }
}

void TIndexFile::ParseHeader(std::span<const std::uint8_t> image) {
  CheckHeaderImage(image);
  FChangeCount = GetLEI32(image, H::ChangeCount);
  FVersion = image[H::Version];
  FNextPageNumber = GetLEI32(image, H::NextPageNumber);
  FIndexCount = image[H::IndexCount];
  for (int s = 0; s < IndexSlotCount; ++s) {
    FDescriptors[s] = TIndexDescriptor::Decode(
        image.subspan(H::Descriptors + static_cast<std::size_t>(s) * IndexDescriptorLayout::Size,
                      IndexDescriptorLayout::Size));
  }
  FRecordCount = GetLEI32(image, H::RecordCount);
  FNoPrimaryIndex = image[H::NoPrimaryIndex] != 0;
  FWriteInProgress = image[H::WriteInProgress] != 0;
  InvalidateKeyDefs();
}

void TIndexFile::BuildHeader(std::span<std::uint8_t> image, bool leaveOutTemporary) const {
  std::fill(image.begin(), image.begin() + H::Size, std::uint8_t{0});
  PutLEI32(image, H::ChangeCount, FChangeCount);
  image[H::Version] = FVersion;
  PutLEI32(image, H::NextPageNumber, FNextPageNumber);
  // Temporary descriptors are left out; later descriptors close the gap so the
  // written slots 1..IndexCount stay contiguous.
  int written = 0;
  auto put = [&](int target, const TIndexDescriptor& d) {
    d.Encode(image.subspan(H::Descriptors + static_cast<std::size_t>(target) * IndexDescriptorLayout::Size,
                           IndexDescriptorLayout::Size));
  };
  if (!(leaveOutTemporary && FDescriptors[0].Temporary)) put(0, FDescriptors[0]);
  for (int s = 1; s <= std::min(FIndexCount, IndexFileLimits::MaxSecondaryIndexes); ++s) {
    if (leaveOutTemporary && FDescriptors[s].Temporary) continue;
    put(++written, FDescriptors[s]);
  }
  if (FIndexCount > IndexFileLimits::MaxSecondaryIndexes) written = FIndexCount;  // kept as read
  image[H::IndexCount] = static_cast<std::uint8_t>(written);
  put(SysDeletedSlot, FDescriptors[SysDeletedSlot]);
  put(SysTextSlot, FDescriptors[SysTextSlot]);
  PutLEI32(image, H::RecordCount, FRecordCount);
  image[H::NoPrimaryIndex] = FNoPrimaryIndex ? 1 : 0;
  image[H::HeaderDirty] = FHeaderDirty ? 1 : 0;
  image[H::WriteInProgress] = FWriteInProgress ? 1 : 0;
}

void TIndexFile::ReadAt(TFileHandler& file, std::int64_t offset, std::span<std::uint8_t> buf,
                        TErrorCode shortCode) {
  if (file.ReadBufferAt(offset, buf) != static_cast<std::int32_t>(buf.size())) Raise(shortCode);
}

void TIndexFile::WriteAt(TFileHandler& file, std::int64_t offset, std::span<const std::uint8_t> buf) {
  TFileSection section(file);
  if (file.SeekFile(TSeekOrigin::Begin, offset) != offset) Raise(TARN_WRITEERR);
  file.WriteBuffer(buf);
}

void TIndexFile::CreateFile() {
  TFileHandler::CreateFile();
  ResetCaches();
  FStats = {};
  InitFreshHeader();
  WriteIndexHeader(true);
  FHeaderDirty = true;
}

void TIndexFile::OpenFile() {
  if (Opened()) return;
  TFileHandler::OpenFile();
  ResetCaches();
  try {
    ReadIndexHeader();
    if (FIndexCount > 32) Raise(TARN_HEADERCORRUPT);
  } catch (...) {
    CloseQuietly();
    throw;
  }
  FStats = {};
}

void TIndexFile::CloseFile() {
  DropTemporaryIndexes();
  DiscardPages(false);
  FStats = {};
  TFileHandler::CloseFile();
}

void TIndexFile::ReadIndexHeader() {
  ReadAt(*this, 0, FImage, TARN_HEADERCORRUPT);
  if (FOwner.IsEncrypted()) ScrambleBytes(FImage, DataScrambleKey);
  ParseHeader(FImage);
  FHeaderDirty = false;
}

bool TIndexFile::WriteIndexHeader(bool force) {
  if (!force && !FHeaderDirty) return false;
  ++FChangeCount;
  BuildHeader(FImage, true);
  if (FOwner.IsEncrypted()) ScrambleBytes(FImage, DataScrambleKey);
  WriteAt(*this, 0, FImage);
  FOwner.MarkDataWritten();
  FHeaderDirty = false;
  return true;
}

void TIndexFile::BumpChangeCount() {
  ++FChangeCount;
  FHeaderDirty = true;
  FOwner.MarkDataWritten();
}

void TIndexFile::AnnounceHeaderWrite() {
  ++FChangeCount;
  FWriteInProgress = true;
  BuildHeader(FImage, true);
  if (FOwner.IsEncrypted()) ScrambleBytes(FImage, DataScrambleKey);
  WriteAt(*this, 0, FImage);
  FOwner.MarkDataWritten();
}

void TIndexFile::CompleteHeaderWrite() {
  FWriteInProgress = false;
  BuildHeader(FImage, true);
  if (FOwner.IsEncrypted()) ScrambleBytes(FImage, DataScrambleKey);
  try {
    WriteAt(*this, 0, FImage);
  } catch (...) {
    FWriteInProgress = true;  // the disk still holds the mark
    throw;
  }
  FOwner.MarkDataWritten();
  FHeaderDirty = false;
}

bool TIndexFile::HasUnwrittenChanges() const {
  if (FHeaderDirty) return true;
  for (int s = 0; s < IndexSlotCount; ++s) {
    if (!SlotTemporary(s) && FCaches[s].AnyDirty()) return true;
  }
  return false;
}

bool TIndexFile::IndexHeaderChanged() {
  // The check runs before every uncached read of a shared table, so only the
  // change counter (the first four bytes) is read; the whole header follows
  // only when the counter moved. The scramble of the first bytes of a run does
  // not depend on the run's length, so the four bytes descramble alone.
  static_assert(H::ChangeCount == 0);
  std::array<std::uint8_t, 4> counter{};
  ReadAt(*this, 0, counter, TARN_HEADERCORRUPT);
  if (FOwner.IsEncrypted()) ScrambleBytes(counter, DataScrambleKey);
  if (GetLEI32(counter, H::ChangeCount) == FChangeCount) return false;
  std::array<std::uint8_t, H::Size> image{};
  ReadAt(*this, 0, image, TARN_HEADERCORRUPT);
  if (FOwner.IsEncrypted()) ScrambleBytes(image, DataScrambleKey);
  // Temporary indexes exist only in this process: keep them across the reload.
  std::vector<TIndexDescriptor> temps;
  for (int s = 1; s <= std::min(FIndexCount, IndexFileLimits::MaxSecondaryIndexes); ++s) {
    if (FDescriptors[s].Temporary) temps.push_back(FDescriptors[s]);
  }
  ParseHeader(image);
  for (const auto& t : temps) {
    if (FIndexCount >= IndexFileLimits::MaxSecondaryIndexes) break;
    FDescriptors[++FIndexCount] = t;
  }
  FHeaderDirty = false;
  return true;
}

void TIndexFile::EmptyIndexes() {
  DiscardPages(false);
  {
    TFileSection section(*this);
    SeekFile(TSeekOrigin::Begin, static_cast<std::int64_t>(H::Size));
    WriteBuffer({});
  }
  if (FOwner.ForceBufferFlush()) FlushFile();
  FVersion = H::CurrentVersion;
  FNextPageNumber = 1;
  FRecordCount = 0;
  for (auto& d : FDescriptors) {
    d.RootPage = 0;
    d.FreePageList = 0;
    d.TextParamsPage = 0;
  }
  FHeaderDirty = true;
}

void TIndexFile::SetNextPageNumber(std::int32_t n) {
  FNextPageNumber = n;
  FHeaderDirty = true;
}
void TIndexFile::IncRecordCount() {
  ++FRecordCount;
  FHeaderDirty = true;
}
void TIndexFile::DecRecordCount() {
  --FRecordCount;
  FHeaderDirty = true;
}
void TIndexFile::SetRecordCount(std::int32_t n) {
  FRecordCount = n;
  FHeaderDirty = true;
}
void TIndexFile::SetNoPrimaryIndex(bool value) {
  FNoPrimaryIndex = value;
  if (value) {
    FDescriptors[0].Clear();
    InvalidateKeyDefs();
  }
  FHeaderDirty = true;
}
void TIndexFile::SetRootPage(int slot, std::int32_t pageNo) {
  FDescriptors[slot].RootPage = pageNo;
  FHeaderDirty = true;
}
void TIndexFile::SetTextParamsPage(std::int32_t pageNo) {
  FDescriptors[SysTextSlot].TextParamsPage = pageNo;
  FHeaderDirty = true;
}

// --- verification ------------------------------------------------------------

void TIndexFile::VerifyIndexHeader() const {
  if (FVersion != H::CurrentVersion) Raise(TARN_OLDVERSION);
  if (FIndexCount > IndexFileLimits::MaxSecondaryIndexes) Raise(TARN_HEADERCORRUPT);
  const int fieldCount = FOwner.TableFieldCount();
  const std::int32_t lastPage = FNextPageNumber - 1;
  auto pageOk = [&](std::int32_t p) { return p >= 0 && p <= lastPage; };
  auto checkSlot = [&](int s) {
    const TIndexDescriptor& d = FDescriptors[s];
    const bool primaryWithout = s == 0 && FNoPrimaryIndex;
    if (s == 0 && (!d.IndexName.empty() || (!d.Unique && !FNoPrimaryIndex))) Raise(TARN_HEADERCORRUPT);
    if (s >= 1 && s <= 30) {
      std::string upper(TrimBlanks(d.IndexName));
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (upper.empty() || !IsNameStartChar(upper[0])) Raise(TARN_HEADERCORRUPT);
      for (int o = 1; o <= FIndexCount; ++o) {
        if (o != s && SameName(d.IndexName, FDescriptors[o].IndexName)) Raise(TARN_HEADERCORRUPT);
      }
    }
    if (d.FieldCount > MaxKeyFields) Raise(TARN_HEADERCORRUPT);
    bool seenZero = false;
    int sum = 0;
    for (int i = 0; i < MaxKeyFields; ++i) {
      const std::int16_t f = d.FieldNumbers[i];
      if (f == 0) {
        seenZero = true;
        continue;
      }
      if (seenZero) Raise(TARN_HEADERCORRUPT);
      if (f < 1 || f > fieldCount) Raise(TARN_HEADERCORRUPT);
      const TIndexFieldInfo info = FOwner.TableField(f);
      if (s == SysTextSlot) {
        const bool memo = info.Key.FieldType == FieldType::Blob && info.SubType == FieldSubType::Memo;
        if (info.Key.FieldType != FieldType::String && !memo) Raise(TARN_HEADERCORRUPT);
      } else {
        if (info.Key.FieldType == FieldType::Blob) Raise(TARN_HEADERCORRUPT);
        sum += KeyFieldSize(info.Key) + 1;
      }
    }
    if (s != SysTextSlot) {
      if (sum > KeyLimits::MaxFieldsKeySize) Raise(TARN_HEADERCORRUPT);
      if (sum == 0 && !primaryWithout) Raise(TARN_HEADERCORRUPT);
    }
    if (!pageOk(d.RootPage) || !pageOk(d.FreePageList) || !pageOk(d.TextParamsPage)) Raise(TARN_HEADERCORRUPT);
  };
  for (int s = 0; s <= FIndexCount; ++s) checkSlot(s);
  checkSlot(SysTextSlot);
}

// --- descriptor edits --------------------------------------------------------

void TIndexFile::CheckNewDescriptor(const TIndexDescriptor& def, int replacingSlot) const {
  if (replacingSlot < 0 && FIndexCount >= IndexFileLimits::MaxSecondaryIndexes) Raise(TARN_INDEXLIMIT);
  if (def.FieldCount > MaxKeyFields) Raise(TARN_INDEXLIMIT);
  const std::string_view name = TrimBlanks(def.IndexName);
  if (name.empty()) Raise(TARN_INDEXNAMEREQUIRED);
  if (!IsNameStartChar(name[0])) Raise(TARN_INVALIDINDEXNAME);
  for (int s = 1; s <= std::min(FIndexCount, IndexFileLimits::MaxSecondaryIndexes); ++s) {
    if (s != replacingSlot && SameName(name, FDescriptors[s].IndexName)) Raise(TARN_INDEXEXISTS);
  }
  CheckNoBlobKeyFields(def, name);
}

void TIndexFile::CheckNoBlobKeyFields(const TIndexDescriptor& def, std::string_view indexName) const {
  for (int i = 0; i < def.FieldCount && i < MaxKeyFields; ++i) {
    const std::int16_t f = def.FieldNumbers[i];
    if (f >= 1 && f <= FOwner.TableFieldCount()) {
      const TIndexFieldInfo info = FOwner.TableField(f);
      if (info.Key.FieldType == FieldType::Blob) {
        RaiseEngineError(TARN_SEARCHCOLREQD, {.Database = FOwner.DatabaseName(),
                                              .Table = FOwner.TableName(),
                                              .Field = info.Name,
                                              .Index = indexName});
      }
    }
  }
}

void TIndexFile::StoreDescriptor(int slot, const TIndexDescriptor& def, bool clearReserved) {
  TIndexDescriptor& d = FDescriptors[slot];
  d.IndexName = std::string(def.IndexName.substr(0, MaxIndexNameLength));
  d.KeySize = def.KeySize;
  d.Descending = def.Descending;
  d.CaseInsensitive = def.CaseInsensitive;
  d.Unique = def.Unique;
  d.NoCounts = def.NoCounts;
  d.Compression = def.Compression;
  d.FieldCount = def.FieldCount;
  d.FieldDescending = def.FieldDescending;
  d.FieldNumbers = def.FieldNumbers;
  d.RootPage = 0;
  d.Temporary = def.Temporary;
  if (clearReserved) {
    namespace DL = IndexDescriptorLayout;
    d.Raw[DL::Reserved94] = d.Raw[DL::Reserved94 + 1] = 0;
    std::fill(d.Raw.begin() + DL::Reserved102, d.Raw.end(), std::uint8_t{0});
  }
  FHeaderDirty = true;
  InvalidateKeyDefs();
}

int TIndexFile::AddIndexDescriptor(const TIndexDescriptor& def) {
  CheckNewDescriptor(def, -1);
  if (def.Temporary) OpenTempFileIfNeeded();
  const int slot = ++FIndexCount;
  StoreDescriptor(slot, def, false);
  return slot;
}

void TIndexFile::SetPrimaryDescriptor(const TIndexDescriptor& def) {
  if (FDescriptors[0].KeySize != 0) Raise(TARN_PRIMARYKEYREDEFINE);
  if (def.FieldCount > MaxKeyFields) Raise(TARN_INDEXLIMIT);
  if (def.FieldCount == 0) {
    SetNoPrimaryIndex(true);
    return;
  }
  FNoPrimaryIndex = false;
  CheckNoBlobKeyFields(def, "Primary");
  TIndexDescriptor d = def;
  d.IndexName.clear();
  d.Unique = true;
  StoreDescriptor(0, d, false);
  FDescriptors[0].IndexName.clear();
}

void TIndexFile::ReplaceIndexDescriptor(int slot, const TIndexDescriptor& def) {
  if (slot < 1 || slot > FIndexCount) Raise(TARN_HEADERCORRUPT);
  CheckNewDescriptor(def, slot);
  if (def.Temporary) OpenTempFileIfNeeded();
  StoreDescriptor(slot, def, true);
}

void TIndexFile::SetTextDescriptor(const TIndexDescriptor& def) {
  if (def.FieldCount > MaxKeyFields) Raise(TARN_INDEXLIMIT);
  for (int i = 0; i < def.FieldCount; ++i) {
    const std::int16_t f = def.FieldNumbers[i];
    if (f < 1 || f > FOwner.TableFieldCount()) continue;
    const TIndexFieldInfo info = FOwner.TableField(f);
    const bool memo = info.Key.FieldType == FieldType::Blob && info.SubType == FieldSubType::Memo;
    if (info.Key.FieldType != FieldType::String && !memo) {
      RaiseEngineError(TARN_SEARCHCOLREQD, {.Database = FOwner.DatabaseName(),
                                            .Table = FOwner.TableName(),
                                            .Field = info.Name,
                                            .Index = "Sys Text"});
    }
  }
  TIndexDescriptor d;
  d.IndexName = "Sys Text";
  d.KeySize = static_cast<std::int16_t>(KeyLimits::TextKeySize);
  d.CaseInsensitive = def.CaseInsensitive;
  d.Compression = TKeyCompression::Full;
  d.FieldCount = def.FieldCount;
  d.FieldDescending = def.FieldDescending;
  d.FieldNumbers = def.FieldNumbers;
  StoreDescriptor(SysTextSlot, d, false);
}

void TIndexFile::RenameIndexDescriptor(int slot, const TIndexDescriptor& def) {
  FDescriptors[slot].IndexName = std::string(def.IndexName.substr(0, MaxIndexNameLength));
  FDescriptors[slot].FieldNumbers = def.FieldNumbers;
  FHeaderDirty = true;
  InvalidateKeyDefs();
}

void TIndexFile::DeleteIndexDescriptor(int slot, bool remove) {
  if (slot == 0) {
    SetNoPrimaryIndex(true);
    return;
  }
  if (remove && slot >= 1 && slot <= FIndexCount) {
    // The removed slot's cached pages go (its pages are the caller's to empty);
    // the caches of the later slots move down with their descriptors.
    DropCache(slot);
    const TIndexDescriptor removed = FDescriptors[slot];
    for (int s = slot; s < FIndexCount; ++s) {
      FDescriptors[s] = FDescriptors[s + 1];
      FCaches[s].SwapContents(FCaches[s + 1]);
    }
    FDescriptors[FIndexCount] = removed;
    --FIndexCount;
  }
  FHeaderDirty = true;
  InvalidateKeyDefs();
}

void TIndexFile::DropTemporaryIndexes() {
  for (int s = std::min(FIndexCount, IndexFileLimits::MaxSecondaryIndexes); s >= 0; --s) {
    if (!FDescriptors[s].Temporary) continue;
    FDescriptors[s].Clear();
    if (s > 0) --FIndexCount;
    FHeaderDirty = true;
  }
  DiscardPages(true);
  CloseTempFile();
  FTempNextPage = 1;
  InvalidateKeyDefs();
}

int TIndexFile::FindIndexName(std::string_view name) const {
  for (int s = 0; s <= std::min(FIndexCount, IndexFileLimits::MaxSecondaryIndexes); ++s) {
    if (SameName(name, FDescriptors[s].IndexName)) return s;
  }
  return -1;
}

void TIndexFile::OpenTempFileIfNeeded() {
  if (FTempFile) return;
  auto temp = std::make_unique<TFileHandler>();
  temp->SetFileName(UniqueTempFileName(FOwner.PrivateDir(), ".IDX", false));
  temp->SetTemporary(true);
  temp->CreateFile();
  FTempFile = std::move(temp);
  FTempNextPage = 1;
}

void TIndexFile::CloseTempFile() noexcept {
  if (!FTempFile) return;
  try {
    FTempFile->CloseFile();
    FTempFile->DeleteFile();
  } catch (...) {
    // A temporary file that cannot be deleted is left behind; nothing depends on it.
  }
  FTempFile.reset();
}

// --- keys -----------------------------------------------------------------------

void TIndexFile::InvalidateKeyDefs() { FKeyDefValid.fill(false); }

const TKeyDef& TIndexFile::KeyDef(int slot) {
  if (FKeyDefValid[slot]) return FKeyDefs[slot];
  const TIndexDescriptor& d = FDescriptors[slot];
  TKeyDef def;
  if (slot == SysDeletedSlot) {
    def = MakeDeletedKeyDef(FOwner.LanguageId(), FOwner.SortId());
  } else if (slot == SysTextSlot) {
    def = MakeTextKeyDef(FOwner.LanguageId(), FOwner.SortId());
  } else {
    def.Slot = static_cast<std::uint8_t>(slot);
    def.Descending = d.Descending;
    def.CaseInsensitive = d.CaseInsensitive;
    def.Unique = d.Unique;
    def.FieldCount = std::min<std::uint8_t>(d.FieldCount, KeyLimits::MaxKeyFields);
    def.FieldDescending = d.FieldDescending;
    def.FieldNumbers = d.FieldNumbers;
    for (int i = 0; i < def.FieldCount; ++i) {
      const std::int16_t f = d.FieldNumbers[i];
      if (f >= 1 && f <= FOwner.TableFieldCount()) def.Fields[i] = FOwner.TableField(f).Key;
    }
    def.LanguageId = FOwner.LanguageId();
    def.SortId = FOwner.SortId();
  }
  def.KeySize = static_cast<std::uint16_t>(std::max<std::int16_t>(d.KeySize, 0));
  FKeyDefs[slot] = def;
  FKeyDefValid[slot] = true;
  return FKeyDefs[slot];
}

int TIndexFile::CompareKeys(int slot, const std::uint8_t* a, const std::uint8_t* b) {
  const TKeyDef& def = KeyDef(slot);
  return tarn::CompareKeys(def, a, b, def.KeySize);
}

// --- page cache ------------------------------------------------------------------

int TIndexFile::CacheTarget() const { return std::max(FOwner.MaxIndexBufferSize(), 0) / 8192; }

void TIndexFile::ResetCaches() {
  for (int s = 0; s < IndexSlotCount; ++s) {
    DropCache(s);
    FCaches[s].SetRoom(CacheTarget());
  }
}

void TIndexFile::DropCache(int slot) {
  FCaches[slot].Drain([this](std::unique_ptr<TPage> p) {
    if (p->Pins() > 0) {
      p->SetOrphan(true);
      FOrphans.push_back(std::move(p));
    } else {
      FPageStack.Give(std::move(p));
    }
  });
}

// Eviction: the least recently used unpinned page goes; a dirty one is
// written first (alone), except inside a transaction, where dirty pages stay
// until the transaction ends. Interior pages are passed over while the slot
// holds fewer than its target plus InteriorReserve pages, so that a descent
// reads at most its leaf from disk; the room grows (by 4) to hold them.
std::unique_ptr<TPage> TIndexFile::TakePageObject(int slot) {
  TPageCache& cache = FCaches[slot];
  if (!cache.IsFull()) return FPageStack.Take();
  const bool mayWrite = !FOwner.InTransaction() && FIndexCount <= 32;
  const bool keepInterior = cache.Size() < CacheTarget() + InteriorReserve;
  TPage* victim = cache.Victim(mayWrite, keepInterior);
  if (victim != nullptr && victim->Dirty()) WriteOnePage(*victim, SlotTemporary(slot));
  if (victim != nullptr) {
    std::unique_ptr<TPage> page = cache.Remove(victim);
    page->Clear();
    return page;
  }
  cache.SetRoom(cache.Room() + 4);
  return FPageStack.Take();
}

void TIndexFile::WriteOnePage(TPage& page, bool temporary) {
  TFileHandler* file = temporary ? FTempFile.get() : this;
  if (file == nullptr) Raise(TARN_INDEXCORRUPT);
  if (!temporary) FOwner.BeforeWritingPages();
  if (FRunBuffer.size() < P::PageSize) FRunBuffer.resize(P::PageSize);
  std::span<std::uint8_t> image(FRunBuffer.data(), P::PageSize);
  if (!page.WriteImage(image)) Raise(TARN_INDEXCORRUPT);
  if (FOwner.IsEncrypted()) ScrambleBytes(image, DataScrambleKey);
  WriteAt(*file, static_cast<std::int64_t>(page.PageNo()) * static_cast<std::int64_t>(P::PageSize), image);
  page.MarkClean();
  ++FStats.Flushes;
  FOwner.MarkDataWritten();
}

TPagePin TIndexFile::GetPage(TTreeContext& ctx, std::int32_t pageNo, bool isNew) {
  const int slot = ctx.IndexSlot();
  assert(slot >= 0 && slot < IndexSlotCount);
  ++FStats.Requests;
  if (pageNo <= 0) Raise(TARN_INDEXCORRUPT);
  const bool temporary = SlotTemporary(slot);
  const std::int32_t next = temporary ? FTempNextPage : FNextPageNumber;
  if (pageNo > next || (pageNo == next && !isNew)) Raise(TARN_INDEXCORRUPT);
  TPageCache& cache = FCaches[slot];
  if (TPage* hit = cache.Find(pageNo)) {
    ++FStats.Hits;
    hit->Pin();
    return TPagePin(*this, *hit);
  }
  const bool creating = pageNo == next;
  if (!creating && FSuspendChangeCheck == 0 && !FOwner.StrictChangeDetection()) {
    if (ctx.TableChanged()) return TPagePin();
  }
  std::unique_ptr<TPage> page = TakePageObject(slot);
  page->Bind(pageNo, slot, FDescriptors[slot]);
  if (creating) {
    page->Clear();
  } else {
    ++FStats.Reads;
    TFileHandler* file = temporary ? FTempFile.get() : this;
    if (file == nullptr) {
      FPageStack.Give(std::move(page));
      Raise(TARN_INDEXCORRUPT);
    }
    try {
      ReadAt(*file, static_cast<std::int64_t>(pageNo) * static_cast<std::int64_t>(P::PageSize), FImage,
             TARN_INDEXCORRUPT);
    } catch (...) {
      FPageStack.Give(std::move(page));
      throw;
    }
    if (FOwner.IsEncrypted()) ScrambleBytes(FImage, DataScrambleKey);
    if (!page->ReadImage(FImage, isNew)) {
      FPageStack.Give(std::move(page));
      Raise(TARN_INDEXCORRUPT);
    }
  }
  TPage* raw = cache.Insert(std::move(page));
  raw->Pin();
  return TPagePin(*this, *raw);
}

void TIndexFile::RecycleOrphan(TPage* page) noexcept {
  auto it = std::find_if(FOrphans.begin(), FOrphans.end(),
                         [page](const std::unique_ptr<TPage>& p) { return p.get() == page; });
  if (it != FOrphans.end()) {
    std::unique_ptr<TPage> owned = std::move(*it);
    FOrphans.erase(it);
    owned->SetOrphan(false);
    FPageStack.Give(std::move(owned));
  }
}

TPagePin TIndexFile::AllocPage(TTreeContext& ctx) {
  const int slot = ctx.IndexSlot();
  const bool temporary = SlotTemporary(slot);
  TIndexDescriptor& d = FDescriptors[slot];
  const std::int32_t next = temporary ? FTempNextPage : FNextPageNumber;
  const std::int32_t candidate = d.FreePageList != 0 ? d.FreePageList : next;
  const bool brandNew = candidate == next;
  if (brandNew) {
    const std::int64_t end = static_cast<std::int64_t>(candidate) * 4096 + 4096;
    if (candidate > IndexFileLimits::MaxPageNumber || end > IndexFileLimits::MaxFileBytes) Raise(TARN_TABLEFULL);
  }
  TPagePin pin = GetPage(ctx, candidate, true);
  if (!pin) return pin;
  if (brandNew) {
    if (temporary) {
      ++FTempNextPage;
    } else {
      ++FNextPageNumber;
    }
  }
  d.FreePageList = brandNew ? 0 : pin->NextPage();
  FHeaderDirty = true;
  pin->Bind(candidate, slot, d);
  pin->SetType(TPageType::RootInterior);
  pin->SetEntryCount(0);
  pin->SetNeighbours(0, 0);
  pin->SetFree(false);
  pin->Repack();
  pin->MarkDirty();
  return pin;
}

void TIndexFile::FreePage(TTreeContext& ctx, TPage& page) {
  TIndexDescriptor& d = FDescriptors[ctx.IndexSlot()];
  page.SetNextPage(d.FreePageList);
  page.SetFree(true);
  d.FreePageList = page.PageNo();
  FHeaderDirty = true;
}

bool TIndexFile::FlushPages(bool temporary) {
  if (FIndexCount > 32) return false;
  FFlushList.clear();
  for (int s = 0; s < IndexSlotCount; ++s) {
    if (SlotTemporary(s) != temporary) continue;
    FCaches[s].CollectDirty(FFlushList);
  }
  if (FFlushList.empty()) return false;
  TFileHandler* file = temporary ? FTempFile.get() : this;
  if (file == nullptr) return false;
  // Other programs must learn of the change before a page of it reaches the
  // main file (the temporary file is this program's alone).
  if (!temporary) FOwner.BeforeWritingPages();
  std::sort(FFlushList.begin(), FFlushList.end(),
            [](const TPage* a, const TPage* b) { return a->PageNo() < b->PageNo(); });
  std::size_t i = 0;
  while (i < FFlushList.size()) {
    std::size_t j = i + 1;
    while (j < FFlushList.size() && FFlushList[j]->PageNo() == FFlushList[j - 1]->PageNo() + 1) ++j;
    const std::size_t bytes = (j - i) * P::PageSize;
    if (FRunBuffer.size() < bytes) FRunBuffer.resize(bytes);
    for (std::size_t k = i; k < j; ++k) {
      std::span<std::uint8_t> image(FRunBuffer.data() + (k - i) * P::PageSize, P::PageSize);
      if (!FFlushList[k]->WriteImage(image)) Raise(TARN_INDEXCORRUPT);
      if (FOwner.IsEncrypted()) ScrambleBytes(image, DataScrambleKey);
    }
    WriteAt(*file, static_cast<std::int64_t>(FFlushList[i]->PageNo()) * static_cast<std::int64_t>(P::PageSize),
            std::span<const std::uint8_t>(FRunBuffer.data(), bytes));
    for (std::size_t k = i; k < j; ++k) FFlushList[k]->MarkClean();
    ++FStats.Flushes;
    FOwner.MarkDataWritten();
    i = j;
  }
  return true;
}

void TIndexFile::DiscardPages(bool temporary) {
  for (int s = 0; s < IndexSlotCount; ++s) {
    if (SlotTemporary(s) != temporary) continue;
    DropCache(s);
  }
}

void TIndexFile::TrimPageCache() {
  const int target = CacheTarget();
  for (auto& cache : FCaches) {
    // Clean leaves first; interior pages only beyond the reserve kept for them.
    while (cache.Size() > target) {
      TPage* victim = cache.Victim(false, cache.Size() <= target + InteriorReserve);
      if (victim == nullptr) break;
      FPageStack.Give(cache.Remove(victim));
    }
    cache.SetRoom(std::max(cache.Size(), target));
  }
}

std::size_t TIndexFile::CacheMemoryBytes() const {
  std::size_t bytes = 0;
  for (const auto& cache : FCaches) bytes += cache.MemoryBytes();
  return bytes;
}

bool TIndexFile::CheckInvariants() const {
  for (const auto& cache : FCaches) {
    if (!cache.CheckInvariants()) return false;
  }
  return FPageStack.SpareCount() <= TPageStack::MaxSpares;
}

}  // namespace tarn
