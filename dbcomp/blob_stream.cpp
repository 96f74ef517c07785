#include "dbcomp/blob_stream.h"

#include <algorithm>
#include <exception>
#include <limits>

#include "dbcomp/blob_access.h"
#include "dbcomp/blob_stream_host.h"
#include "dbcomp/db_consts.h"
#include "engine/base/error_context.h"

namespace dbcomp {

namespace {
constexpr std::int64_t MaxPosition = std::numeric_limits<std::int32_t>::max();
}

TTarnBlobStream::TTarnBlobStream(TBlobStreamHost& host, TBlobStreamMode mode)
    : FHost(host), FMode(mode), FFieldNo(host.FieldNo()) {
  Open();
}

void TTarnBlobStream::Open() {
  bool retry = true;
  for (;;) {
    FRecord = FHost.StateRecordBuffer();
    if (FRecord.empty()) return;  // closed: nothing to read or write
    if (!FHost.ShowingOldValues() && FHost.FieldModified()) break;  // the edit keeps it open
    const bool forWrite = FMode != TBlobStreamMode::bmRead;
    if (forWrite) {
      if (FHost.FieldReadOnly())
        DatabaseError(FormatMessage(Msg::FieldReadOnly, {FHost.FieldDisplayName()}));
      if (!FHost.Editing()) DatabaseError(Msg::NotEditing);
    }
    tarn::TErrorCode code = tarn::TARN_NONE;
    try {
      std::uint32_t size = 0;
      code = FHost.Cursor().OpenBlob(FFieldNo, FRecord, forWrite, size);
    } catch (const std::exception& e) {
      code = tarn::ErrorCodeOf(e);
    }
    if (code == tarn::TARN_KEYORRECDELETED && !forWrite && retry) {
      retry = false;
      FHost.Refresh();
      continue;
    }
    FHost.Cursor().RaiseIfError(code, FHost.FieldName());
    break;
  }
  FOpened = true;
  if (FMode == TBlobStreamMode::bmWrite) {
    try {
      Truncate();
    } catch (...) {
      if (!FHost.FieldModified()) FHost.Cursor().CloseBlob(FFieldNo, FRecord);
      FOpened = false;
      throw;
    }
  }
}

TTarnBlobStream::~TTarnBlobStream() {
  if (!FOpened) return;
  try {
    if (FModified) FHost.SetFieldModified();
    if (FHost.ShowingOldValues() || !FHost.FieldModified())
      (void)FHost.Cursor().CloseBlob(FFieldNo, FRecord);
  } catch (...) {
    // The blob stays with the cursor, which frees it with the record.
  }
  if (!FModified) return;
  try {
    FHost.NotifyFieldChanged();
  } catch (...) {
    FHost.ReportFieldChangeError(std::current_exception());
  }
}

std::int32_t TTarnBlobStream::Read(std::span<std::uint8_t> dest) {
  if (!FOpened || FPosition < 0 || dest.empty()) return 0;
  const std::size_t want =
      std::min<std::size_t>(dest.size(), static_cast<std::size_t>(MaxPosition - FPosition));
  std::uint32_t count = 0;
  const tarn::TErrorCode code = FHost.Cursor().ReadBlob(
      FFieldNo, FRecord, static_cast<std::uint32_t>(FPosition), dest.first(want), count);
  if (code == tarn::TARN_INVALIDBLOBOFFSET) return 0;
  if (code != tarn::TARN_NONE && code != tarn::TARN_ENDOFBLOB) tarn::RaiseErrorCode(code);
  count = std::min<std::uint32_t>(count, static_cast<std::uint32_t>(want));
  FPosition += static_cast<std::int32_t>(count);
  return static_cast<std::int32_t>(count);
}

std::int32_t TTarnBlobStream::Write(std::span<const std::uint8_t> source) {
  if (!FOpened) return 0;
  CheckWritable();
  CheckWriteRange(source.size());
  FHost.Cursor().RaiseIfError(
      FHost.Cursor().WriteBlob(FFieldNo, FRecord, static_cast<std::uint32_t>(FPosition), source),
      FHost.FieldName());
  FPosition += static_cast<std::int32_t>(source.size());
  FModified = true;
  return static_cast<std::int32_t>(source.size());
}

std::int32_t TTarnBlobStream::Seek(std::int32_t offset, TSeekOrigin origin) {
  std::int64_t target = offset;
  if (origin == TSeekOrigin::soCurrent) target += FPosition;
  if (origin == TSeekOrigin::soEnd) target += Size();
  // The position is 32-bit signed: a target outside that range wraps around.
  FPosition = static_cast<std::int32_t>(static_cast<std::uint32_t>(target));
  return FPosition;
}

std::int32_t TTarnBlobStream::Size() {
  if (!FOpened) return 0;
  std::uint32_t size = 0;
  FHost.Cursor().RaiseIfError(FHost.Cursor().GetBlobSize(FFieldNo, FRecord, size),
                              FHost.FieldName());
  return static_cast<std::int32_t>(
      std::min<std::uint32_t>(size, static_cast<std::uint32_t>(MaxPosition)));
}

void TTarnBlobStream::Truncate() {
  if (!FOpened) return;
  CheckWritable();
  CheckWriteRange(0);
  FHost.Cursor().RaiseIfError(
      FHost.Cursor().TruncateBlob(FFieldNo, FRecord, static_cast<std::uint32_t>(FPosition)),
      FHost.FieldName());
  FModified = true;
}

void TTarnBlobStream::CheckWritable() const {
  if (FMode == TBlobStreamMode::bmRead)
    DatabaseError(FormatMessage(Msg::FieldReadOnly, {FHost.FieldDisplayName()}));
}

void TTarnBlobStream::CheckWriteRange(std::size_t count) const {
  if (FPosition < 0 || count > static_cast<std::size_t>(MaxPosition - FPosition))
    FHost.Cursor().RaiseIfError(tarn::TARN_INVALIDBLOBOFFSET, FHost.FieldName());
}

}  // namespace dbcomp
