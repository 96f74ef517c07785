#include "engine/table/record_layout.h"

#include <algorithm>
#include <string>

#include "engine/base/bcd.h"
#include "engine/base/byte_order.h"
#include "engine/base/error_context.h"

namespace tarn {

namespace {

// The value bytes of a stored field inside the record, after checking that
// indicator and value lie within it.
std::size_t CheckedValueOffset(std::size_t recordSize, const TFieldDesc& desc) {
  const std::size_t at = desc.FieldOffset();
  if (at < RecordLayout::ControlSize || at + 1 + desc.FieldPhysSize() > recordSize)
    RaiseEngineError(TARN_HEADERCORRUPT, {.Field = desc.FieldName()});
  return at + 1;
}

}  // namespace

void SetFieldValue(std::span<std::uint8_t> record, const TFieldDesc& desc,
                   std::optional<std::span<const std::uint8_t>> value, const TTextCaseMapper& caseMapper,
                   bool blobOpenHasValue) {
  if (desc.FieldComputed()) return;
  if (desc.IsAutoInc()) {
    if (!value) return;
    std::uint8_t bytes[4] = {0, 0, 0, 0};
    std::copy_n(value->begin(), std::min<std::size_t>(4, value->size()), bytes);
    std::copy_n(bytes, 4, record.begin() + RecordLayout::RecAutoInc);
    return;
  }
  const std::size_t at = CheckedValueOffset(record.size(), desc);
  const std::size_t phys = desc.FieldPhysSize();
  std::span<std::uint8_t> slot = record.subspan(at, phys);
  std::uint8_t& indicator = record[at - 1];
  const std::uint8_t type = desc.FieldType();

  if (type == FieldType::Blob) {
    // Only BlobFirstBlock changes here; the stamp follows the blob's writes.
    std::int32_t first = 0;
    if (value) {
      std::uint8_t bytes[4] = {0, 0, 0, 0};
      std::copy_n(value->begin(), std::min<std::size_t>(4, value->size()), bytes);
      first = GetLEI32(bytes, 0);
    }
    if (phys >= 4) PutLEI32(slot, RecordLayout::BlobFirstBlock, first);
    indicator = first > 0 ? 1 : (first == 0 ? 0 : (blobOpenHasValue ? 1 : 0));
    return;
  }

  std::fill(slot.begin(), slot.end(), std::uint8_t{0});
  if (!value) {
    indicator = 0;
    return;
  }

  switch (type) {
    case FieldType::String: {
      // The characters up to the first zero, at most maxChars of them,
      // without trailing spaces, in the field's case.
      const std::size_t maxChars = phys == 0 ? 0 : phys - 1;
      const std::size_t limit = std::min(value->size(), maxChars);
      std::size_t length = 0;
      while (length < limit && (*value)[length] != 0) ++length;
      while (length > 0 && (*value)[length - 1] == ' ') --length;
      if (desc.FieldCharCase() == TCharCase::AsGiven) {
        std::copy_n(value->begin(), length, slot.begin());
      } else {
        std::string text(value->begin(), value->begin() + static_cast<std::ptrdiff_t>(length));
        caseMapper.Convert(text, desc.FieldCharCase());
        if (text.size() > maxChars) text.resize(maxChars);
        std::copy(text.begin(), text.end(), slot.begin());
        length = text.size();
      }
      indicator = length == 0 ? 0 : 1;
      return;
    }
    case FieldType::Boolean: {
      std::uint8_t bytes[2] = {0, 0};
      std::copy_n(value->begin(), std::min<std::size_t>(2, value->size()), bytes);
      PutLE16(slot, 0, GetLE16(bytes, 0) > 1 ? 1 : GetLE16(bytes, 0));
      indicator = 1;
      return;
    }
    case FieldType::Bcd: {
      if (value->size() < TBcd::StoredSize || phys < TBcd::StoredSize)
        RaiseEngineError(TARN_FILECORRUPT, {.Field = desc.FieldName()});
      const auto stored = RescaleBcd(TBcd::Load(*value), TBcd::RecordPrecision, desc.FieldDecimals());
      if (!stored) RaiseEngineError(TARN_FILECORRUPT, {.Field = desc.FieldName()});
      stored->Store(slot);
      indicator = 1;
      return;
    }
    default:
      std::copy_n(value->begin(), std::min(phys, value->size()), slot.begin());
      indicator = 1;
      return;
  }
}

TFieldRead GetFieldValue(std::span<const std::uint8_t> record, const TFieldDesc& desc) {
  if (desc.FieldComputed()) return {};
  if (desc.IsAutoInc()) {
    if (record.size() < RecordLayout::ControlSize) RaiseEngineError(TARN_HEADERCORRUPT, {.Field = desc.FieldName()});
    return {record.subspan(RecordLayout::RecAutoInc, 4), false};
  }
  const std::size_t at = CheckedValueOffset(record.size(), desc);
  std::size_t size = desc.FieldPhysSize();
  if (desc.FieldType() == FieldType::Blob) size = std::min<std::size_t>(size, 4);
  return {record.subspan(at, size), record[at - 1] == 0};
}

void SetBlobStamp(std::span<std::uint8_t> record, const TFieldDesc& desc, std::int32_t stamp) {
  const std::size_t at = CheckedValueOffset(record.size(), desc);
  if (desc.FieldPhysSize() < 8) RaiseEngineError(TARN_HEADERCORRUPT, {.Field = desc.FieldName()});
  PutLEI32(record, at + RecordLayout::BlobStamp, stamp);
}

std::int32_t GetBlobStamp(std::span<const std::uint8_t> record, const TFieldDesc& desc) {
  const std::size_t at = CheckedValueOffset(record.size(), desc);
  if (desc.FieldPhysSize() < 8) RaiseEngineError(TARN_HEADERCORRUPT, {.Field = desc.FieldName()});
  return GetLEI32(record, at + RecordLayout::BlobStamp);
}

}  // namespace tarn
