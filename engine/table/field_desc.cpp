#include "engine/table/field_desc.h"

#include <cassert>
#include <cctype>
#include <limits>

#include "engine/base/byte_order.h"
#include "engine/base/literal_text.h"
#include "engine/base/names.h"
#include "engine/table/short_string.h"

namespace tarn {

namespace L = FieldDescLayout;

std::uint8_t PhysSizeFor(std::uint8_t type, std::uint8_t declaredSize) {
  switch (type) {
    case FieldType::String: return static_cast<std::uint8_t>(declaredSize + 1);
    case FieldType::Date: return 4;
    case FieldType::Blob: return 8;
    case FieldType::Boolean: return 2;
    case FieldType::Int16: return 2;
    case FieldType::Int32: return 4;
    case FieldType::Float: return 8;
    case FieldType::Bcd: return 34;
    case FieldType::Bytes: return declaredSize;
    case FieldType::Time: return 4;
    case FieldType::Timestamp: return 8;
    case FieldType::UInt16: return 2;
    case FieldType::UInt32: return 4;
    case FieldType::Extended: return 10;
    case FieldType::VarBytes: return declaredSize;
    case FieldType::Int64: return 8;
    default: return 0;
  }
}

TFieldDesc TFieldDesc::FromBytes(std::span<const std::uint8_t> bytes) {
  assert(bytes.size() >= Size);
  TFieldDesc d;
  for (std::size_t i = 0; i < Size; ++i) d.FBytes[i] = bytes[i];
  return d;
}

std::uint16_t TFieldDesc::FieldNo() const { return GetLE16(FBytes, L::FieldNo); }
std::string TFieldDesc::FieldName() const { return GetShortString(FBytes, L::FieldName, L::MaxNameLength); }
std::string TFieldDesc::FieldDescription() const {
  return GetShortString(FBytes, L::FieldDescription, L::MaxTextLength);
}
std::uint16_t TFieldDesc::FieldOffset() const { return GetLE16(FBytes, L::FieldOffset); }
std::string TFieldDesc::FieldMin() const { return GetShortString(FBytes, L::FieldMin, L::MaxTextLength); }
std::string TFieldDesc::FieldMax() const { return GetShortString(FBytes, L::FieldMax, L::MaxTextLength); }
std::string TFieldDesc::FieldDefault() const { return GetShortString(FBytes, L::FieldDefault, L::MaxTextLength); }

void TFieldDesc::SetFieldNo(std::uint16_t v) { PutLE16(FBytes, L::FieldNo, v); }
void TFieldDesc::SetFieldName(std::string_view v) { PutShortString(FBytes, L::FieldName, L::MaxNameLength, v); }
void TFieldDesc::SetFieldDescription(std::string_view v) {
  PutShortString(FBytes, L::FieldDescription, L::MaxTextLength, v);
}
void TFieldDesc::SetFieldOffset(std::uint16_t v) { PutLE16(FBytes, L::FieldOffset, v); }
void TFieldDesc::SetFieldMin(std::string_view v) { PutShortString(FBytes, L::FieldMin, L::MaxTextLength, v); }
void TFieldDesc::SetFieldMax(std::string_view v) { PutShortString(FBytes, L::FieldMax, L::MaxTextLength, v); }
void TFieldDesc::SetFieldDefault(std::string_view v) {
  PutShortString(FBytes, L::FieldDefault, L::MaxTextLength, v);
}

void TFieldDesc::ComputePhysical() {
  SetFieldPhysSize(PhysSizeFor(FieldType(), FieldSize()));
  SetFieldPhysDecimals(FieldDecimals());
}

bool TFieldDesc::LengthBytesValid() const {
  return FBytes[L::FieldName] <= L::MaxNameLength && FBytes[L::FieldDescription] <= L::MaxTextLength &&
         FBytes[L::FieldMin] <= L::MaxTextLength && FBytes[L::FieldMax] <= L::MaxTextLength &&
         FBytes[L::FieldDefault] <= L::MaxTextLength;
}

TFieldDesc MakeFieldDesc(std::uint16_t fieldNo, std::string_view name, std::uint8_t type, std::uint8_t subType,
                         std::uint8_t size, std::uint8_t decimals) {
  TFieldDesc d;
  d.SetFieldNo(fieldNo);
  d.SetFieldName(name);
  d.SetFieldType(type);
  d.SetFieldSubType(subType);
  d.SetFieldSize(size);
  d.SetFieldDecimals(decimals);
  d.ComputePhysical();
  return d;
}

std::uint32_t AssignFieldOffsets(std::span<TFieldDesc> defs) {
  std::uint32_t offset = 9;
  for (TFieldDesc& d : defs) {
    d.ComputePhysical();
    if (d.IsAutoInc()) {
      d.SetFieldOffset(5);
    } else if (d.FieldComputed()) {
      d.SetFieldOffset(0);
    } else {
      d.SetFieldOffset(static_cast<std::uint16_t>(offset));
      offset += d.FieldPhysSize() + 1u;
    }
  }
  return offset;
}

namespace {

}  // namespace

bool ValueTextSuitsType(std::string_view text, std::uint8_t type, std::uint8_t decimals) {
  if (text.empty()) return true;
  switch (type) {
    case FieldType::String:
    case FieldType::Bytes:
    case FieldType::VarBytes:
      return true;
    case FieldType::Date:
      return SameText(text, "CURRENT_DATE") || ParseDateText(text).has_value();
    case FieldType::Time:
      return SameText(text, "CURRENT_TIME") || ParseTimeText(text).has_value();
    case FieldType::Timestamp:
      return SameText(text, "CURRENT_TIMESTAMP") || SameText(text, "CURRENT_DATE") ||
             SameText(text, "CURRENT_TIME") || ParseTimestampText(text).has_value();
    case FieldType::Int16:
      return ParseIntegerText(text, -32768, 32767).has_value();
    case FieldType::UInt16:
      return ParseIntegerText(text, 0, 65535).has_value();
    case FieldType::Int32:
      return ParseIntegerText(text, std::numeric_limits<std::int32_t>::min(),
                              std::numeric_limits<std::int32_t>::max())
          .has_value();
    case FieldType::Int64:
      return ParseIntegerText(text, std::numeric_limits<std::int64_t>::min(),
                              std::numeric_limits<std::int64_t>::max())
          .has_value();
    case FieldType::Boolean:
      return ParseBooleanText(text).has_value();
    case FieldType::Float:
      return ParseFloatText(text).has_value();
    case FieldType::Bcd:
      return ParseBcdText(text, decimals).has_value();
    default:
      return true;
  }
}

}  // namespace tarn
