// TDataCursor: blob buffers. Opening, reading, writing and closing the blob
// values of record buffers (blob_buffer_set.h), posting them with a record
// and freeing the chains of a deleted record.

#include <algorithm>
#include <cstring>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/blob/blob_buffer.h"
#include "engine/cursor/data_cursor.h"
#include "engine/cursor/operation_bracket.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"

namespace tarn {

namespace {

std::int32_t BlobRef(std::span<const std::uint8_t> record, const TFieldDesc& f) {
  return static_cast<std::int32_t>(GetLE32(GetFieldValue(record, f).Bytes, 0));
}

void StoreRef(std::span<std::uint8_t> record, const TFieldDesc& f, std::int32_t ref, bool hasValue) {
  std::array<std::uint8_t, 4> bytes{};
  PutLE32(bytes, 0, static_cast<std::uint32_t>(ref));
  SetFieldValue(record, f, std::span<const std::uint8_t>(bytes), AsciiCaseMapper, hasValue);
}

}  // namespace

std::size_t TDataCursor::OpenBlobCount() const { return FBlobs ? FBlobs->Count() : 0; }

TErrorCode TDataCursor::FindBlob(int fieldNo, std::span<const std::uint8_t> buffer,
                                 TBlobBufferSet::TEntry*& entry) {
  entry = nullptr;
  if (fieldNo < 1 || fieldNo > FieldCount() || Field(fieldNo).FieldType() != FieldType::Blob) {
    return TARN_NOTABLOB;
  }
  const std::int32_t ref = BlobRef(buffer.first(FRecordSize), Field(fieldNo));
  if (ref < 0 && FBlobs) entry = FBlobs->Find(ref);
  if (entry == nullptr || entry->Buffer->FieldNo() != fieldNo) {
    entry = nullptr;
    return TARN_INVALIDBLOBHANDLE;
  }
  return TARN_NONE;
}

TErrorCode TDataCursor::OpenBlob(int fieldNo, std::span<std::uint8_t> buffer, TBlobMode mode,
                                 std::uint32_t& size) {
  CheckRecordBuffer(buffer);
  size = 0;
  TBlobBufferSet::TEntry* entry = nullptr;
  const TErrorCode code = FindBlob(fieldNo, buffer, entry);
  if (code == TARN_NOTABLOB) return code;
  if (entry != nullptr) {
    entry->Buffer->Open();
    if (mode == TBlobMode::Write) {
      entry->Buffer->SetOpenMode(static_cast<std::uint8_t>(mode), entry->Buffer->Flags());
      entry->Keep = true;
    }
    size = static_cast<std::uint32_t>(entry->Buffer->Size());
    return TARN_NONE;
  }
  if (!FBlobs) FBlobs = std::make_unique<TBlobBufferSet>();
  if (FBlobs->Full()) return TARN_OPENBLOBLIMIT;
  const TFieldDesc& f = Field(fieldNo);
  const std::span<std::uint8_t> record = buffer.first(FRecordSize);
  const std::int32_t ref = std::max(0, BlobRef(record, f));
  const std::int32_t recLink = static_cast<std::int32_t>(GetLE32(record, RecordLayout::RecLink));
  auto blob = std::make_unique<TBlobBuffer>(FTable->BlobFile(), this, fieldNo, ref, GetBlobStamp(record, f),
                                            recLink, static_cast<std::uint8_t>(mode));
  if (ref != 0) {
    try {
      Run(false, [&] { blob->LoadBlob(); });
    } catch (const ETarnEngineError& e) {
      return e.ErrorCode();
    }
  }
  // The words of a text-indexed memo are removed from the content as loaded.
  const TIndexDescriptor& text = FTable->IndexFile().Descriptor(SysTextSlot);
  if (std::find(text.FieldNumbers.begin(), text.FieldNumbers.begin() + text.FieldCount, fieldNo) !=
      text.FieldNumbers.begin() + text.FieldCount)
    blob->KeepOriginal();
  size = static_cast<std::uint32_t>(blob->Size());
  TBlobBufferSet::TEntry& added = FBlobs->Add(std::move(blob), ref);
  added.Keep = mode == TBlobMode::Write;
  StoreRef(record, f, added.Handle, size != 0);
  return TARN_NONE;
}

TErrorCode TDataCursor::ReadBlob(int fieldNo, std::span<const std::uint8_t> buffer, std::uint32_t offset,
                                 std::uint32_t length, std::span<std::uint8_t> dest, std::uint32_t& count) {
  CheckRecordBuffer(buffer);
  count = 0;
  TBlobBufferSet::TEntry* entry = nullptr;
  if (const TErrorCode code = FindBlob(fieldNo, buffer, entry); code != TARN_NONE) return code;
  const std::span<const std::uint8_t> data = entry->Buffer->Data();
  const std::size_t from = std::min<std::size_t>(offset, data.size());
  const std::size_t n = std::min<std::size_t>({length, data.size() - from, dest.size()});
  if (n > 0) std::memcpy(dest.data(), data.data() + from, n);  // an empty blob has no data pointer
  count = static_cast<std::uint32_t>(n);
  return static_cast<std::uint64_t>(offset) + length > data.size() ? TARN_ENDOFBLOB : TARN_NONE;
}

TErrorCode TDataCursor::WriteBlob(int fieldNo, std::span<std::uint8_t> buffer, std::uint32_t offset,
                                  std::span<const std::uint8_t> source) {
  CheckRecordBuffer(buffer);
  TBlobBufferSet::TEntry* entry = nullptr;
  if (const TErrorCode code = FindBlob(fieldNo, buffer, entry); code != TARN_NONE) return code;
  entry->Buffer->Write(offset, source);
  StoreRef(buffer.first(FRecordSize), Field(fieldNo), entry->Handle, entry->Buffer->Size() != 0);
  return TARN_NONE;
}

TErrorCode TDataCursor::TruncateBlob(int fieldNo, std::span<std::uint8_t> buffer, std::uint32_t size) {
  CheckRecordBuffer(buffer);
  TBlobBufferSet::TEntry* entry = nullptr;
  if (const TErrorCode code = FindBlob(fieldNo, buffer, entry); code != TARN_NONE) return code;
  entry->Buffer->SetBlobSize(size);
  StoreRef(buffer.first(FRecordSize), Field(fieldNo), entry->Handle, size != 0);
  return TARN_NONE;
}

TErrorCode TDataCursor::GetBlobSize(int fieldNo, std::span<const std::uint8_t> buffer, std::uint32_t& size) {
  CheckRecordBuffer(buffer);
  size = 0;
  TBlobBufferSet::TEntry* entry = nullptr;
  if (const TErrorCode code = FindBlob(fieldNo, buffer, entry); code != TARN_NONE) return code;
  size = static_cast<std::uint32_t>(entry->Buffer->Size());
  return TARN_NONE;
}

TErrorCode TDataCursor::CloseBlob(int fieldNo, std::span<std::uint8_t> buffer) {
  CheckRecordBuffer(buffer);
  TBlobBufferSet::TEntry* entry = nullptr;
  if (const TErrorCode code = FindBlob(fieldNo, buffer, entry); code != TARN_NONE) return code;
  if (entry->Buffer->Close() > 0 || entry->Keep) return TARN_NONE;
  const std::int32_t original = entry->OriginalRef;
  FBlobs->Remove(entry->Handle);
  StoreRef(buffer.first(FRecordSize), Field(fieldNo), original, original > 0);
  return TARN_NONE;
}

void TDataCursor::FreeBlobs(bool all) {
  if (FBlobs) FBlobs->Free(all);
}

TErrorCode TDataCursor::CopyCurrentRecord(std::span<std::uint8_t> buffer) {
  CheckRecordBuffer(buffer);
  return Run(false, [&]() -> TErrorCode {
    if (FAtBOF || FAtEOF) return TARN_NOCURRREC;
    LoadCurrentRecord(true);
    std::vector<std::uint8_t> source(FCurRecord->Data().begin(), FCurRecord->Data().end());
    const std::span<std::uint8_t> target = buffer.first(FRecordSize);
    std::fill(target.begin(), target.end(), 0);
    for (int n = 1; n <= FieldCount(); ++n) {
      const TFieldDesc& f = Field(n);
      if (f.IsAutoInc()) continue;
      const TFieldRead read = GetFieldValue(source, f);
      if (read.Blank) continue;
      if (f.FieldType() != FieldType::Blob) {
        SetFieldValue(target, f, read.Bytes, FTable->CaseMapper());
        continue;
      }
      std::uint32_t size = 0;
      if (const TErrorCode code = OpenBlob(n, source, TBlobMode::Read, size); code != TARN_NONE) return code;
      TBlobBufferSet::TEntry* from = nullptr;
      (void)FindBlob(n, source, from);
      const std::vector<std::uint8_t> bytes(from->Buffer->Data().begin(), from->Buffer->Data().end());
      (void)CloseBlob(n, source);
      std::uint32_t none = 0;
      if (const TErrorCode code = OpenBlob(n, target, TBlobMode::Write, none); code != TARN_NONE) return code;
      if (const TErrorCode code = WriteBlob(n, target, 0, bytes); code != TARN_NONE) return code;
    }
    if (FKeepAutoInc) PutLE32(target, RecordLayout::RecAutoInc, GetLE32(source, RecordLayout::RecAutoInc));
    return TARN_NONE;
  });
}

// ------------------------------------------------------------- posting ----

bool TDataCursor::PostBlobs(std::span<std::uint8_t> record, std::span<std::uint8_t> slot,
                            std::span<const std::uint8_t> old) {
  if (!FTable->HasBlobFields()) return false;
  TBlobFile& file = FTable->BlobFile();
  std::vector<TBlobBuffer*> mine;
  std::vector<std::int32_t> handles;
  std::vector<std::int32_t> reused;  // chains the buffers were opened on
  bool changed = false;
  for (int n = 1; n <= FieldCount(); ++n) {
    const TFieldDesc& f = Field(n);
    if (f.FieldType() != FieldType::Blob) continue;
    const std::int32_t ref = BlobRef(record, f);
    if (ref >= 0) continue;
    TBlobBufferSet::TEntry* entry = FBlobs ? FBlobs->Find(ref) : nullptr;
    if (entry == nullptr) Raise(TARN_INVALIDBLOBHANDLE);
    mine.push_back(entry->Buffer.get());
    handles.push_back(ref);
    reused.push_back(entry->OriginalRef);
    changed = changed || entry->Buffer->Modified();
  }
  SaveModifiedBlobs(file, mine);
  for (int n = 1; n <= FieldCount(); ++n) {
    const TFieldDesc& f = Field(n);
    if (f.FieldType() != FieldType::Blob) continue;
    std::int32_t first = BlobRef(record, f);
    std::int32_t stamp = GetBlobStamp(record, f);
    if (first < 0) {
      const TBlobBuffer& b = *FBlobs->Find(first)->Buffer;
      first = b.FirstBlock();
      stamp = b.BlobStamp();
    }
    StoreRef(slot, f, first, first > 0);
    SetBlobStamp(slot, f, first > 0 ? stamp : 0);
    if (old.empty()) continue;
    const std::int32_t oldRef = BlobRef(old, f);
    if (oldRef > 0 && oldRef != first && std::find(reused.begin(), reused.end(), oldRef) == reused.end()) {
      TBlobBuffer gone(file, this, n, oldRef, GetBlobStamp(old, f), FCurRecNo);
      gone.DeleteBlob();
      changed = true;
    }
  }
  if (FBlobs) {
    for (std::int32_t h : handles) FBlobs->Remove(h);
    FBlobs->Free(false);
  }
  return changed;
}

void TDataCursor::PreloadBlobs(std::span<const std::uint8_t> record) {
  if (!FTable->HasBlobFields()) return;
  for (int n = 1; n <= FieldCount(); ++n) {
    const TFieldDesc& f = Field(n);
    if (f.FieldType() != FieldType::Blob) continue;
    const std::int32_t ref = BlobRef(record, f);
    if (ref <= 0) continue;
    TBlobBuffer load(FTable->BlobFile(), this, n, ref, GetBlobStamp(record, f),
                     static_cast<std::int32_t>(GetLE32(record, RecordLayout::RecLink)));
    load.LoadBlob();
  }
}

bool TDataCursor::DeleteBlobs(std::span<const std::uint8_t> record, std::int32_t recordNo) {
  if (!FTable->HasBlobFields()) return false;
  bool changed = false;
  for (int n = 1; n <= FieldCount(); ++n) {
    const TFieldDesc& f = Field(n);
    if (f.FieldType() != FieldType::Blob) continue;
    const std::int32_t ref = BlobRef(record, f);
    if (ref <= 0) continue;
    TBlobBuffer gone(FTable->BlobFile(), this, n, ref, GetBlobStamp(record, f), recordNo);
    gone.DeleteBlob();
    changed = true;
  }
  return changed;
}

}  // namespace tarn
