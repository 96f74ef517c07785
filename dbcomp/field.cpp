#include "dbcomp/field.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

#include "dbcomp/data_set.h"
#include "dbcomp/db_consts.h"
#include "engine/base/bcd.h"
#include "engine/base/byte_order.h"
#include "engine/base/names.h"

namespace dbcomp {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool ParseInt64(std::string_view text, std::int64_t& value) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseDouble(std::string_view text, double& value) {
  std::string s(Trim(text));
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  value = std::strtod(s.c_str(), &end);
  return end == s.c_str() + s.size() && errno == 0 && std::isfinite(value);
}

std::string FormatDouble(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  return buf;
}

// Day numbers: day 1 is 0001-01-01 of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;  // days since 1970-01-01
}
constexpr std::int64_t DayOneOffset = 719163;  // DaysFromCivil(1, 1, 1) == -719162

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

std::string FormatDate(std::int64_t dayNumber) {
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(dayNumber - DayOneOffset, y, m, d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u", static_cast<long long>(y), m, d);
  return buf;
}

std::string FormatTime(std::int64_t ms) {
  char buf[32];
  long long s = ms / 1000, rest = ms % 1000;
  if (rest != 0)
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld.%03lld", s / 3600, s / 60 % 60, s % 60, rest);
  else
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  return buf;
}

bool ParseDate(std::string_view text, std::int64_t& dayNumber) {
  int y = 0;
  unsigned m = 0, d = 0;
  std::string s(text);
  char extra = 0;
  if (std::sscanf(s.c_str(), "%d-%u-%u%c", &y, &m, &d, &extra) != 3) return false;
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  static constexpr unsigned days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (d > days[m - 1] || (m == 2 && d == 29 && !leap)) return false;
  dayNumber = DaysFromCivil(y, m, d) + DayOneOffset;
  return true;
}

bool ParseTime(std::string_view text, std::int64_t& ms) {
  unsigned h = 0, mi = 0, s = 0, milli = 0;
  std::string str(text);
  char extra = 0;
  int n = std::sscanf(str.c_str(), "%u:%u:%u.%u%c", &h, &mi, &s, &milli, &extra);
  if (n == 3 && str.find('.') != std::string::npos) return false;
  if (n != 3 && n != 4) return false;
  if (h > 23 || mi > 59 || s > 59 || milli > 999) return false;
  ms = ((static_cast<std::int64_t>(h) * 60 + mi) * 60 + s) * 1000 + milli;
  return true;
}

}  // namespace

// ---------------------------------------------------------------- TField

TField::TField(TFieldType type, std::string fieldName, int size)
    : FFieldName(std::move(fieldName)), FDataType(type), FSize(size) {}

TField::~TField() = default;

const std::string& TField::DisplayName() const noexcept {
  return FDisplayLabel.empty() ? FFieldName : FDisplayLabel;
}

int TField::DataSize() const { return 0; }

void TField::SetFieldKind(TFieldKind kind) {
  if (FDataSet != nullptr && FDataSet->Active()) DatabaseError(Msg::DataSetOpen, FDataSet->Name());
  FFieldKind = kind;
}

bool TField::CanModify() const {
  return !FReadOnly && FDataSet != nullptr && FDataSet->CanModify();
}

bool TField::GetData(std::span<std::uint8_t> buffer) const {
  if (FDataSet == nullptr) return false;
  return FDataSet->GetFieldData(*this, buffer);
}

void TField::SetData(std::span<const std::uint8_t> buffer) {
  if (FDataSet == nullptr) DatabaseError(Msg::DataSetClosed);
  FDataSet->SetFieldData(*this, buffer);
}

std::vector<std::uint8_t> TField::NativeValue() const {
  std::vector<std::uint8_t> value(static_cast<std::size_t>(DataSize()));
  if (!GetData(value)) value.clear();
  return value;
}

bool TField::IsNull() const {
  if (IsBlob()) return AsBytes().empty();
  return NativeValue().empty();
}

void TField::Clear() {
  if (IsBlob()) {
    if (FDataSet == nullptr) DatabaseError(Msg::DataSetClosed);
    FDataSet->SetBlobData(*this, {}, true);
  } else {
    SetData({});
  }
}

void TField::AccessError(std::string_view typeName) const {
  DatabaseError(FormatMessage(Msg::FieldAccessError, {DisplayName(), typeName}));
}

std::string TField::AsString() const { AccessError("String"); }
void TField::SetAsString(std::string_view) { AccessError("String"); }
std::int32_t TField::AsInteger() const { AccessError("Integer"); }
void TField::SetAsInteger(std::int32_t) { AccessError("Integer"); }
std::int64_t TField::AsLargeInt() const { return AsInteger(); }
void TField::SetAsLargeInt(std::int64_t) { AccessError("Largeint"); }
double TField::AsFloat() const { AccessError("Float"); }
void TField::SetAsFloat(double) { AccessError("Float"); }
bool TField::AsBoolean() const { AccessError("Boolean"); }
void TField::SetAsBoolean(bool) { AccessError("Boolean"); }
std::vector<std::uint8_t> TField::AsBytes() const { return NativeValue(); }
void TField::SetAsBytes(std::span<const std::uint8_t>) { AccessError("Bytes"); }
void TField::SetText(std::string_view text) { SetAsString(text); }

// ---------------------------------------------------------------- TStringField

TStringField::TStringField(std::string fieldName, int size)
    : TField(TFieldType::String, std::move(fieldName), size) {}

std::string TStringField::AsString() const {
  std::vector<std::uint8_t> v = NativeValue();
  if (v.empty()) return {};
  const char* p = reinterpret_cast<const char*>(v.data());
  return std::string(p, strnlen(p, static_cast<std::size_t>(Size())));
}

void TStringField::SetAsString(std::string_view value) {
  if (value.empty()) {
    SetData({});
    return;
  }
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(DataSize()), 0);
  std::size_t n = std::min<std::size_t>(value.size(), static_cast<std::size_t>(Size()));
  std::memcpy(buf.data(), value.data(), n);
  SetData(buf);
}

std::int32_t TStringField::AsInteger() const {
  std::int64_t v = AsLargeInt();
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
    DatabaseError(FormatMessage(Msg::InvalidIntegerValue, {AsString(), DisplayName()}));
  return static_cast<std::int32_t>(v);
}
void TStringField::SetAsInteger(std::int32_t value) { SetAsString(std::to_string(value)); }
std::int64_t TStringField::AsLargeInt() const {
  std::string s = AsString();
  if (s.empty()) return 0;
  std::int64_t v = 0;
  if (!ParseInt64(s, v)) DatabaseError(FormatMessage(Msg::InvalidIntegerValue, {s, DisplayName()}));
  return v;
}
void TStringField::SetAsLargeInt(std::int64_t value) { SetAsString(std::to_string(value)); }
double TStringField::AsFloat() const {
  std::string s = AsString();
  if (s.empty()) return 0;
  double v = 0;
  if (!ParseDouble(s, v)) DatabaseError(FormatMessage(Msg::InvalidFloatValue, {s, DisplayName()}));
  return v;
}
void TStringField::SetAsFloat(double value) { SetAsString(FormatDouble(value)); }
bool TStringField::AsBoolean() const {
  std::string s = AsString();
  if (s.empty()) return false;
  char c = s[0];
  return c == 'T' || c == 't' || c == 'Y' || c == 'y';
}
void TStringField::SetAsBoolean(bool value) { SetAsString(value ? "T" : "F"); }

// ---------------------------------------------------------------- TIntegerField

TIntegerField::TIntegerField(TFieldType type, std::string fieldName) : TField(type, std::move(fieldName)) {}

int TIntegerField::DataSize() const {
  switch (DataType()) {
    case TFieldType::Smallint:
    case TFieldType::Word:
      return 2;
    case TFieldType::Largeint:
      return 8;
    default:
      return 4;
  }
}

std::int64_t TIntegerField::MinValue() const noexcept {
  switch (DataType()) {
    case TFieldType::Smallint: return std::numeric_limits<std::int16_t>::min();
    case TFieldType::Word: return 0;
    case TFieldType::Largeint: return std::numeric_limits<std::int64_t>::min();
    default: return std::numeric_limits<std::int32_t>::min();
  }
}

std::int64_t TIntegerField::MaxValue() const noexcept {
  switch (DataType()) {
    case TFieldType::Smallint: return std::numeric_limits<std::int16_t>::max();
    case TFieldType::Word: return std::numeric_limits<std::uint16_t>::max();
    case TFieldType::Largeint: return std::numeric_limits<std::int64_t>::max();
    default: return std::numeric_limits<std::int32_t>::max();
  }
}

std::int64_t TIntegerField::AsLargeInt() const {
  std::vector<std::uint8_t> v = NativeValue();
  if (v.empty()) return 0;
  switch (DataType()) {
    case TFieldType::Smallint: return tarn::GetLEI16(v, 0);
    case TFieldType::Word: return tarn::GetLE16(v, 0);
    case TFieldType::Largeint: return tarn::GetLEI64(v, 0);
    default: return tarn::GetLEI32(v, 0);
  }
}

void TIntegerField::SetAsLargeInt(std::int64_t value) {
  if (value < MinValue() || value > MaxValue())
    DatabaseError(FormatMessage(Msg::FieldRangeError, {std::to_string(value), DisplayName(),
                                                       std::to_string(MinValue()), std::to_string(MaxValue())}));
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(DataSize()));
  switch (DataType()) {
    case TFieldType::Smallint: tarn::PutLEI16(buf, 0, static_cast<std::int16_t>(value)); break;
    case TFieldType::Word: tarn::PutLE16(buf, 0, static_cast<std::uint16_t>(value)); break;
    case TFieldType::Largeint: tarn::PutLEI64(buf, 0, value); break;
    default: tarn::PutLEI32(buf, 0, static_cast<std::int32_t>(value)); break;
  }
  SetData(buf);
}

std::string TIntegerField::AsString() const {
  if (IsNull()) return {};
  return std::to_string(AsLargeInt());
}

void TIntegerField::SetAsString(std::string_view value) {
  if (Trim(value).empty()) {
    Clear();
    return;
  }
  std::int64_t v = 0;
  if (!ParseInt64(value, v)) DatabaseError(FormatMessage(Msg::InvalidIntegerValue, {value, DisplayName()}));
  SetAsLargeInt(v);
}

std::int32_t TIntegerField::AsInteger() const {
  std::int64_t v = AsLargeInt();
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
    DatabaseError(FormatMessage(Msg::InvalidIntegerValue, {std::to_string(v), DisplayName()}));
  return static_cast<std::int32_t>(v);
}
void TIntegerField::SetAsInteger(std::int32_t value) { SetAsLargeInt(value); }
double TIntegerField::AsFloat() const { return static_cast<double>(AsLargeInt()); }
void TIntegerField::SetAsFloat(double value) {
  double r = std::round(value);
  if (!(r >= -9.2e18 && r <= 9.2e18))
    DatabaseError(FormatMessage(Msg::InvalidIntegerValue, {FormatDouble(value), DisplayName()}));
  SetAsLargeInt(static_cast<std::int64_t>(r));
}

// ---------------------------------------------------------------- TBooleanField

TBooleanField::TBooleanField(std::string fieldName) : TField(TFieldType::Boolean, std::move(fieldName)) {}

bool TBooleanField::AsBoolean() const {
  std::vector<std::uint8_t> v = NativeValue();
  return !v.empty() && tarn::GetLE16(v, 0) != 0;
}
void TBooleanField::SetAsBoolean(bool value) {
  std::uint8_t buf[2] = {static_cast<std::uint8_t>(value ? 1 : 0), 0};
  SetData(buf);
}
std::string TBooleanField::AsString() const {
  if (IsNull()) return {};
  return AsBoolean() ? "True" : "False";
}
void TBooleanField::SetAsString(std::string_view value) {
  std::string_view t = Trim(value);
  if (t.empty()) {
    Clear();
    return;
  }
  for (std::string_view yes : {"True", "T", "Yes", "Y", "1"})
    if (tarn::SameText(t, yes)) return SetAsBoolean(true);
  for (std::string_view no : {"False", "F", "No", "N", "0"})
    if (tarn::SameText(t, no)) return SetAsBoolean(false);
  DatabaseError(FormatMessage(Msg::InvalidBoolValue, {value, DisplayName()}));
}
std::int32_t TBooleanField::AsInteger() const { return AsBoolean() ? 1 : 0; }
void TBooleanField::SetAsInteger(std::int32_t value) { SetAsBoolean(value != 0); }

// ---------------------------------------------------------------- TFloatField

TFloatField::TFloatField(TFieldType type, std::string fieldName) : TField(type, std::move(fieldName)) {}

double TFloatField::AsFloat() const {
  std::vector<std::uint8_t> v = NativeValue();
  if (v.empty()) return 0;
  std::uint64_t bits = tarn::GetLE64(v, 0);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
void TFloatField::SetAsFloat(double value) {
  if (!std::isfinite(value))
    DatabaseError(FormatMessage(Msg::InvalidFloatValue, {FormatDouble(value), DisplayName()}));
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  std::uint8_t buf[8];
  tarn::PutLE64(buf, 0, bits);
  SetData(buf);
}
std::string TFloatField::AsString() const {
  if (IsNull()) return {};
  return FormatDouble(AsFloat());
}
void TFloatField::SetAsString(std::string_view value) {
  if (Trim(value).empty()) {
    Clear();
    return;
  }
  double d = 0;
  if (!ParseDouble(value, d)) DatabaseError(FormatMessage(Msg::InvalidFloatValue, {value, DisplayName()}));
  SetAsFloat(d);
}
std::int32_t TFloatField::AsInteger() const {
  double r = std::round(AsFloat());
  if (!(r >= std::numeric_limits<std::int32_t>::min() && r <= std::numeric_limits<std::int32_t>::max()))
    DatabaseError(FormatMessage(Msg::InvalidIntegerValue, {AsString(), DisplayName()}));
  return static_cast<std::int32_t>(r);
}
void TFloatField::SetAsInteger(std::int32_t value) { SetAsFloat(value); }
std::int64_t TFloatField::AsLargeInt() const {
  double r = std::round(AsFloat());
  if (!(r >= -9.2e18 && r <= 9.2e18)) DatabaseError(FormatMessage(Msg::InvalidIntegerValue, {AsString(), DisplayName()}));
  return static_cast<std::int64_t>(r);
}
void TFloatField::SetAsLargeInt(std::int64_t value) { SetAsFloat(static_cast<double>(value)); }

// ---------------------------------------------------------------- TDateTimeField

TDateTimeField::TDateTimeField(TFieldType type, std::string fieldName) : TField(type, std::move(fieldName)) {}

int TDateTimeField::DataSize() const { return DataType() == TFieldType::DateTime ? 8 : 4; }

std::int64_t TDateTimeField::AsLargeInt() const {
  std::vector<std::uint8_t> v = NativeValue();
  if (v.empty()) return 0;
  return DataType() == TFieldType::DateTime ? tarn::GetLEI64(v, 0) : tarn::GetLEI32(v, 0);
}

void TDateTimeField::SetAsLargeInt(std::int64_t value) {
  constexpr std::int64_t MsPerDay = 86400000;
  constexpr std::int64_t MaxDay = 3652059;  // 9999-12-31
  bool ok = DataType() == TFieldType::Date     ? value >= 1 && value <= MaxDay
            : DataType() == TFieldType::Time   ? value >= 0 && value < MsPerDay
                                               : value >= MsPerDay && value < (MaxDay + 1) * MsPerDay;
  if (!ok) DatabaseError(FormatMessage(Msg::FieldRangeError, {std::to_string(value), DisplayName(), "", ""}));
  std::uint8_t buf[8] = {};
  if (DataType() == TFieldType::DateTime)
    tarn::PutLEI64(buf, 0, value);
  else
    tarn::PutLEI32(std::span<std::uint8_t>(buf, 4), 0, static_cast<std::int32_t>(value));
  SetData(std::span<const std::uint8_t>(buf, static_cast<std::size_t>(DataSize())));
}

std::string TDateTimeField::AsString() const {
  if (IsNull()) return {};
  std::int64_t v = AsLargeInt();
  switch (DataType()) {
    case TFieldType::Date: return FormatDate(v);
    case TFieldType::Time: return FormatTime(v);
    default: return FormatDate(v / 86400000) + " " + FormatTime(v % 86400000);
  }
}

void TDateTimeField::SetAsString(std::string_view value) {
  std::string_view t = Trim(value);
  if (t.empty()) {
    Clear();
    return;
  }
  std::int64_t day = 0, ms = 0;
  bool ok = false;
  switch (DataType()) {
    case TFieldType::Date: ok = ParseDate(t, day); if (ok) SetAsLargeInt(day); break;
    case TFieldType::Time: ok = ParseTime(t, ms); if (ok) SetAsLargeInt(ms); break;
    default: {
      std::size_t blank = t.find(' ');
      ok = ParseDate(t.substr(0, blank), day) &&
           (blank == std::string_view::npos || ParseTime(Trim(t.substr(blank)), ms));
      if (ok) SetAsLargeInt(day * 86400000 + ms);
      break;
    }
  }
  if (!ok) DatabaseError(FormatMessage(Msg::FieldRangeError, {value, DisplayName(), "", ""}));
}

// ---------------------------------------------------------------- TBytesField

TBytesField::TBytesField(TFieldType type, std::string fieldName, int size)
    : TField(type, std::move(fieldName), size) {}

std::vector<std::uint8_t> TBytesField::AsBytes() const { return NativeValue(); }

void TBytesField::SetAsBytes(std::span<const std::uint8_t> value) {
  if (value.empty()) {
    SetData({});
    return;
  }
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(Size()), 0);
  std::memcpy(buf.data(), value.data(), std::min(value.size(), buf.size()));
  SetData(buf);
}

std::string TBytesField::AsString() const {
  std::vector<std::uint8_t> v = NativeValue();
  return std::string(v.begin(), v.end());
}

void TBytesField::SetAsString(std::string_view value) {
  SetAsBytes(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(value.data()), value.size()));
}

// ---------------------------------------------------------------- TBlobField

TBlobField::TBlobField(TFieldType type, std::string fieldName) : TField(type, std::move(fieldName)) {}

std::vector<std::uint8_t> TBlobField::AsBytes() const {
  if (DataSet() == nullptr) return {};
  return DataSet()->GetBlobData(*this);
}

void TBlobField::SetAsBytes(std::span<const std::uint8_t> value) {
  if (DataSet() == nullptr) DatabaseError(Msg::DataSetClosed);
  DataSet()->SetBlobData(*this, value, value.empty());
}

std::string TBlobField::AsString() const {
  std::vector<std::uint8_t> v = AsBytes();
  return std::string(v.begin(), v.end());
}

void TBlobField::SetAsString(std::string_view value) {
  SetAsBytes(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(value.data()), value.size()));
}

std::int64_t TBlobField::BlobSize() const { return static_cast<std::int64_t>(AsBytes().size()); }

// ------------------------------------------------------------------ TBCDField

TBCDField::TBCDField(std::string fieldName, int scale) : TField(TFieldType::BCD, std::move(fieldName), scale) {}

namespace {

std::optional<tarn::TBcd> BcdOf(const TField& field) {
  std::vector<std::uint8_t> v = field.IsNull() ? std::vector<std::uint8_t>{} : std::vector<std::uint8_t>(34);
  if (v.empty() || !field.GetData(v)) return std::nullopt;
  tarn::TBcd bcd = tarn::TBcd::Load(v);
  if (!bcd.IsValid()) return std::nullopt;
  return bcd;
}

}  // namespace

std::string TBCDField::AsString() const {
  const std::optional<tarn::TBcd> bcd = BcdOf(*this);
  return bcd ? tarn::BcdToText(*bcd) : std::string();
}

void TBCDField::SetAsString(std::string_view value) {
  if (Trim(value).empty()) {
    Clear();
    return;
  }
  const std::optional<tarn::TBcd> bcd = tarn::BcdFromText(value, static_cast<std::uint8_t>(Size()));
  if (!bcd) DatabaseError(FormatMessage(Msg::InvalidFloatValue, {value, DisplayName()}));
  std::array<std::uint8_t, 34> bytes{};
  bcd->Store(bytes);
  SetData(bytes);
}

double TBCDField::AsFloat() const {
  const std::optional<tarn::TBcd> bcd = BcdOf(*this);
  return bcd ? tarn::BcdToDouble(*bcd) : 0.0;
}

void TBCDField::SetAsFloat(double value) {
  const std::optional<tarn::TBcd> bcd = tarn::BcdFromDouble(value, static_cast<std::uint8_t>(Size()));
  if (!bcd) DatabaseError(FormatMessage(Msg::InvalidFloatValue, {std::to_string(value), DisplayName()}));
  std::array<std::uint8_t, 34> bytes{};
  bcd->Store(bytes);
  SetData(bytes);
}

std::int64_t TBCDField::AsLargeInt() const { return static_cast<std::int64_t>(std::llround(AsFloat())); }

void TBCDField::SetAsLargeInt(std::int64_t value) {
  const std::optional<tarn::TBcd> bcd = tarn::BcdFromInt64(value, static_cast<std::uint8_t>(Size()));
  if (!bcd) DatabaseError(FormatMessage(Msg::InvalidIntegerValue, {std::to_string(value), DisplayName()}));
  std::array<std::uint8_t, 34> bytes{};
  bcd->Store(bytes);
  SetData(bytes);
}

std::int32_t TBCDField::AsInteger() const { return static_cast<std::int32_t>(AsLargeInt()); }

void TBCDField::SetAsInteger(std::int32_t value) { SetAsLargeInt(value); }

// ---------------------------------------------------------------- CreateField

std::unique_ptr<TField> CreateField(const TFieldDef& def) {
  switch (def.DataType) {
    case TFieldType::String:
    case TFieldType::FixedChar:
      return std::make_unique<TStringField>(def.Name, def.Size);
    case TFieldType::Smallint:
    case TFieldType::Integer:
    case TFieldType::Word:
    case TFieldType::AutoInc:
    case TFieldType::Largeint:
      return std::make_unique<TIntegerField>(def.DataType, def.Name);
    case TFieldType::Boolean:
      return std::make_unique<TBooleanField>(def.Name);
    case TFieldType::Float:
    case TFieldType::Currency:
      return std::make_unique<TFloatField>(def.DataType, def.Name);
    case TFieldType::Date:
    case TFieldType::Time:
    case TFieldType::DateTime:
      return std::make_unique<TDateTimeField>(def.DataType, def.Name);
    case TFieldType::Bytes:
    case TFieldType::VarBytes:
      return std::make_unique<TBytesField>(def.DataType, def.Name, def.Size);
    case TFieldType::BCD:
      return std::make_unique<TBCDField>(def.Name, def.Size);
    case TFieldType::Blob:
    case TFieldType::Memo:
    case TFieldType::Graphic:
    case TFieldType::FmtMemo:
    case TFieldType::TypedBinary:
      return std::make_unique<TBlobField>(def.DataType, def.Name);
    default:
      DatabaseError(FormatMessage(Msg::FieldAccessError, {def.Name, FieldTypeName(def.DataType)}));
  }
}

}  // namespace dbcomp
