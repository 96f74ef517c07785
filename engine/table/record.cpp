#include "engine/table/record.h"

#include <algorithm>
#include <cassert>

#include "engine/base/byte_order.h"
#include "engine/table/data_file.h"
#include "engine/table/scramble.h"

namespace tarn {

namespace {
constexpr std::size_t Granule = 64;
std::size_t RoundUp64(std::size_t n) { return (n + Granule - 1) / Granule * Granule; }
}  // namespace

TRecord::TRecord(TDataFile* dataFile, std::uint16_t recordSize) : FDataFile(dataFile) { SetSize(recordSize); }

void TRecord::SetSize(std::uint16_t n) {
  // Never below the control bytes, so the accessors stay inside the buffer.
  const std::size_t capacity = RoundUp64(std::max<std::size_t>(n, RecordLayout::ControlSize));
  if (capacity > FBuffer.size()) FBuffer.resize(capacity, 0);
  if (n < FSize) std::fill(FBuffer.begin() + n, FBuffer.begin() + FSize, std::uint8_t{0});
  FSize = n;
}

void TRecord::Clear(bool newAutoInc) {
  std::fill(FBuffer.begin(), FBuffer.end(), std::uint8_t{0});
  if (newAutoInc && FDataFile != nullptr) PutLEI32(FBuffer, RecordLayout::RecAutoInc, FDataFile->NextAutoInc());
  PutLEI32(FBuffer, RecordLayout::RecLink, FRecordNo);
  FModified = false;
}

void TRecord::LoadFrom(std::span<std::uint8_t> raw) {
  assert(raw.size() >= FSize);
  std::span<std::uint8_t> run = raw.first(FSize);
  if (FDataFile != nullptr && FDataFile->IsEncrypted()) ScrambleBytes(run, DataScrambleKey);
  std::copy(run.begin(), run.end(), FBuffer.begin());
  if (!IsDeleted()) PutLEI32(FBuffer, RecordLayout::RecLink, FRecordNo);
  FModified = false;
}

void TRecord::StoreTo(std::span<std::uint8_t> raw) {
  assert(raw.size() >= FSize);
  std::copy_n(FBuffer.begin(), FSize, raw.begin());
  if (FDataFile != nullptr && FDataFile->IsEncrypted()) ScrambleBytes(raw.first(FSize), DataScrambleKey);
  FModified = false;
}

void TRecord::NoteModified() {
  FModified = true;
  if (FCached && FDataFile != nullptr) FDataFile->ListModified(*this);
}

void TRecord::SetDeleted(bool deleted) {
  FBuffer[RecordLayout::RecDeleted] = deleted ? 1 : 0;
  MarkModified();
}

std::int32_t TRecord::GetFreeLink() const {
  return IsDeleted() ? GetLEI32(FBuffer, RecordLayout::RecLink) : 0;
}

void TRecord::SetLink(std::int32_t n) {
  PutLEI32(FBuffer, RecordLayout::RecLink, n);
  MarkModified();
}

std::int32_t TRecord::GetAutoInc() const { return GetLEI32(FBuffer, RecordLayout::RecAutoInc); }

void TRecord::SetAutoInc(std::int32_t n) {
  PutLEI32(FBuffer, RecordLayout::RecAutoInc, n);
  MarkModified();
}

void TRecord::SetRecordNo(std::int32_t n) {
  if (n == FRecordNo) return;
  FRecordNo = n;
  if (!IsDeleted()) PutLEI32(FBuffer, RecordLayout::RecLink, n);
}

void TRecord::CopyFrom(const TRecord& other) {
  // A cached buffer keeps its number and file: the cache finds it by them.
  assert(!FCached);
  FDataFile = other.FDataFile;
  FModified = false;
  if (other.FModified) MarkModified();
  FRecordNo = other.FRecordNo;
  const std::size_t n = std::min(FSize, other.FSize);
  std::copy_n(other.FBuffer.begin(), n, FBuffer.begin());
}

void TRecord::CopyFields(std::span<const std::uint8_t> rawRecord) {
  const std::size_t end = std::min<std::size_t>(FSize, rawRecord.size());
  for (std::size_t i = RecordLayout::ControlSize; i < end; ++i) FBuffer[i] = rawRecord[i];
  MarkModified();
}

bool TRecord::SameAs(std::span<const std::uint8_t> raw) const {
  return raw.size() >= FSize && std::equal(FBuffer.begin(), FBuffer.begin() + FSize, raw.begin());
}

void TRecord::SetField(const TFieldDesc& desc, std::optional<std::span<const std::uint8_t>> value,
                       bool blobOpenHasValue) {
  const TTextCaseMapper& mapper = FDataFile != nullptr ? FDataFile->CaseMapper() : AsciiCaseMapper;
  SetFieldValue(MutableData(), desc, value, mapper, blobOpenHasValue);
  MarkModified();
}

TFieldRead TRecord::GetField(const TFieldDesc& desc) const { return GetFieldValue(Data(), desc); }

void TRecord::SetSortKey(std::span<const std::uint8_t> key) {
  const std::size_t n = std::min<std::size_t>(key.size(), 65535);
  if (RoundUp64(n) > FSortKey.size()) FSortKey.resize(RoundUp64(n));
  std::copy_n(key.begin(), n, FSortKey.begin());
  FSortKeySize = static_cast<std::uint16_t>(n);
}

std::unique_ptr<TRecord> TRecordStack::Get() {
  if (FPool.empty()) return std::make_unique<TRecord>(FDataFile, FRecordSize);
  std::unique_ptr<TRecord> r = std::move(FPool.back());
  FPool.pop_back();
  r->Clear(false);
  r->ClearPins();
  return r;
}

void TRecordStack::Put(std::unique_ptr<TRecord>& record) noexcept {
  if (!record) return;
  if (FPool.size() < MaxPooled && record->Size() == FRecordSize) {
    record->FOlder = nullptr;
    record->FNewer = nullptr;
    record->FNextModified = nullptr;
    record->FPrevModified = nullptr;
    record->FLastUse = 0;
    record->FCached = false;
    record->FParked = false;
    record->FListedModified = false;
    record->FDetached = false;
    record->FModified = false;
    FPool.push_back(std::move(record));
  }
  record.reset();
}

void TRecordStack::SetRecordSize(std::uint16_t recordSize) {
  FRecordSize = recordSize;
  FPool.clear();  // keeps the reserved room
}

}  // namespace tarn
