// TDataCursor: record buffers. Default values, field access and the
// required / minimum / maximum checks.
//
// Value texts (defaults and limits) are read with the literal forms of
// literal_text.h; the CURRENT_* keywords give the clock's value. A value is
// compared with a limit in its type's order: strings by the table's
// collation, integers of the field's width and signedness, floats and the
// date types as numbers, BCD values as fixed point with four decimals.

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "engine/base/bcd.h"
#include "engine/base/byte_order.h"
#include "engine/base/date_time.h"
#include "engine/base/engine_error.h"
#include "engine/base/error_context.h"
#include "engine/base/literal_text.h"
#include "engine/base/names.h"
#include "engine/cursor/data_cursor.h"
#include "engine/index/collation.h"
#include "engine/index/keys.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"

namespace tarn {

namespace {

// The stored value bytes of a default or limit text, or nothing when the
// text does not read as the field's type. Types without defaults give nothing.
std::optional<std::vector<std::uint8_t>> ValueFromText(const TFieldDesc& field, const std::string& text) {
  std::vector<std::uint8_t> v;
  auto put32 = [&](std::int64_t x) {
    v.assign(4, 0);
    PutLE32(v, 0, static_cast<std::uint32_t>(x));
  };
  auto putDouble = [&](double d) {
    v.assign(8, 0);
    std::uint64_t bits = 0;
    std::memcpy(&bits, &d, sizeof bits);
    PutLE64(v, 0, bits);
  };
  switch (field.FieldType()) {
    case FieldType::String:
      v.assign(text.begin(), text.end());
      return v;
    case FieldType::Date: {
      if (SameText(TrimBlanks(text), "CURRENT_DATE")) {
        put32(CurrentDate());
        return v;
      }
      const auto d = ParseDateText(text);
      if (!d) return std::nullopt;
      put32(*d);
      return v;
    }
    case FieldType::Boolean: {
      const auto b = ParseBooleanText(text);
      if (!b) return std::nullopt;
      v.assign(2, 0);
      PutLE16(v, 0, *b ? 1 : 0);
      return v;
    }
    case FieldType::Int16:
    case FieldType::UInt16: {
      const bool isSigned = field.FieldType() == FieldType::Int16;
      const auto i = ParseIntegerText(text, isSigned ? -32768 : 0, isSigned ? 32767 : 65535);
      if (!i) return std::nullopt;
      v.assign(2, 0);
      PutLE16(v, 0, static_cast<std::uint16_t>(*i));
      return v;
    }
    case FieldType::Int32: {
      const auto i = ParseIntegerText(text, std::numeric_limits<std::int32_t>::min(),
                                      std::numeric_limits<std::int32_t>::max());
      if (!i) return std::nullopt;
      put32(*i);
      return v;
    }
    case FieldType::Int64: {
      const auto i = ParseIntegerText(text, std::numeric_limits<std::int64_t>::min(),
                                      std::numeric_limits<std::int64_t>::max());
      if (!i) return std::nullopt;
      v.assign(8, 0);
      PutLE64(v, 0, static_cast<std::uint64_t>(*i));
      return v;
    }
    case FieldType::Float: {
      const auto d = ParseFloatText(text);
      if (!d) return std::nullopt;
      putDouble(*d);
      return v;
    }
    case FieldType::Bcd: {
      // Read with four decimals, then stored with the field's scale.
      const auto read = ParseBcdText(text, 4);
      if (!read) return std::nullopt;
      const auto b = RescaleBcd(*read, TBcd::RecordPrecision, field.FieldPhysDecimals());
      if (!b) return std::nullopt;
      v.assign(TBcd::StoredSize, 0);
      b->Store(v);
      return v;
    }
    case FieldType::Time: {
      if (SameText(TrimBlanks(text), "CURRENT_TIME")) {
        put32(CurrentTime());
        return v;
      }
      const auto t = ParseTimeText(text);
      if (!t) return std::nullopt;
      put32(*t);
      return v;
    }
    case FieldType::Timestamp: {
      const std::string_view word = TrimBlanks(text);
      if (SameText(word, "CURRENT_TIMESTAMP")) {
        putDouble(CurrentTimestamp());
      } else if (SameText(word, "CURRENT_DATE")) {
        putDouble(EncodeTimestamp(CurrentDate(), 0));
      } else if (SameText(word, "CURRENT_TIME")) {
        putDouble(EncodeTimestamp(0, CurrentTime()));
      } else {
        const auto ts = ParseTimestampText(text);
        if (!ts) return std::nullopt;
        putDouble(*ts);
      }
      return v;
    }
    default:
      return std::nullopt;
  }
}

double ReadDouble(std::span<const std::uint8_t> bytes) {
  const std::uint64_t bits = GetLE64(bytes, 0);
  double d = 0;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

template <class T>
int Order(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

void TDataCursor::RaiseField(TErrorCode code, const TFieldDesc& field) const {
  const std::string name = field.FieldName();
  RaiseEngineError(code, {.Database = DatabaseName(), .Table = FTableName, .Field = name});
}

// A record buffer shorter than the record would be read or written past its end.
void TDataCursor::CheckRecordBuffer(std::span<const std::uint8_t> buffer) const {
  CheckOpen();
  if (buffer.size() < FRecordSize) Raise(TARN_OUTOFRANGE);
}

const TFieldDesc& TDataCursor::TableField(int fieldNo) const {
  if (fieldNo < 1 || fieldNo > FieldCount()) Raise(TARN_OUTOFRANGE, std::to_string(fieldNo));
  return Field(fieldNo);
}

void TDataCursor::InitRecord(std::span<std::uint8_t> buffer) const {
  CheckRecordBuffer(buffer);
  std::fill(buffer.begin(), buffer.begin() + FRecordSize, 0);
  if (!FHasDefaults) return;
  for (const TFieldDesc& f : FFields) {
    const std::string text = f.FieldDefault();
    if (text.empty()) continue;
    const auto value = ValueFromText(f, text);
    if (!value) {
      if (f.FieldType() == FieldType::Blob || f.FieldType() == FieldType::Bytes) continue;
      RaiseField(TARN_FILECORRUPT, f);
    }
    SetFieldValue(buffer.first(FRecordSize), f, std::span<const std::uint8_t>(*value), FTable->CaseMapper());
  }
}

TFieldRead TDataCursor::GetField(int fieldNo, std::span<const std::uint8_t> buffer) const {
  CheckRecordBuffer(buffer);
  return GetFieldValue(buffer.first(FRecordSize), TableField(fieldNo));
}

void TDataCursor::PutField(int fieldNo, std::span<std::uint8_t> buffer,
                           std::optional<std::span<const std::uint8_t>> value, bool blobHasValue) const {
  CheckRecordBuffer(buffer);
  const TFieldDesc& f = TableField(fieldNo);
  if (!value && f.IsAutoInc()) return;
  SetFieldValue(buffer.first(FRecordSize), f, value, FTable->CaseMapper(), blobHasValue);
}

void TDataCursor::CheckConstraints(std::span<const std::uint8_t> buffer) const {
  CheckRecordBuffer(buffer);
  if (!FHasChecks) return;
  const std::span<const std::uint8_t> record = buffer.first(FRecordSize);
  for (const TFieldDesc& f : FFields) {
    const std::string minText = f.FieldMin();
    const std::string maxText = f.FieldMax();
    if (!f.FieldRequired() && minText.empty() && maxText.empty()) continue;
    const TFieldRead read = GetFieldValue(record, f);
    if (f.FieldRequired() && read.Blank) RaiseField(TARN_REQDERR, f);
    // A blank value compares as zero bytes.
    std::vector<std::uint8_t> value(read.Bytes.begin(), read.Bytes.end());
    if (read.Blank) std::fill(value.begin(), value.end(), 0);
    auto compare = [&](const std::string& limitText) -> std::optional<int> {
      const auto limit = ValueFromText(f, limitText);
      if (!limit) return std::nullopt;
      const std::vector<std::uint8_t>& l = *limit;
      switch (f.FieldType()) {
        case FieldType::String: {
          std::string a(reinterpret_cast<const char*>(value.data()), value.size());
          a.resize(std::strlen(a.c_str()));
          const std::string b(l.begin(), l.end());
          return CompareCollated(FLanguageId, FSortId, a.c_str(), false, 0, b.c_str());
        }
        case FieldType::Int16:
          return Order(static_cast<std::int16_t>(GetLE16(value, 0)), static_cast<std::int16_t>(GetLE16(l, 0)));
        case FieldType::UInt16:
          return Order(GetLE16(value, 0), GetLE16(l, 0));
        case FieldType::Int32:
        case FieldType::Date:
        case FieldType::Time:
          return Order(static_cast<std::int32_t>(GetLE32(value, 0)), static_cast<std::int32_t>(GetLE32(l, 0)));
        case FieldType::Int64:
          return Order(static_cast<std::int64_t>(GetLE64(value, 0)), static_cast<std::int64_t>(GetLE64(l, 0)));
        case FieldType::Float:
        case FieldType::Timestamp:
          return Order(ReadDouble(value), ReadDouble(l));
        case FieldType::Bcd:
          return Order(BcdKeyValue(value), BcdKeyValue(l));
        default:
          return std::nullopt;
      }
    };
    if (!minText.empty()) {
      const auto order = compare(minText);
      if (order && *order < 0) RaiseField(TARN_MINVALERR, f);
    }
    if (!maxText.empty()) {
      const auto order = compare(maxText);
      if (order && *order > 0) RaiseField(TARN_MAXVALERR, f);
    }
  }
}

}  // namespace tarn
