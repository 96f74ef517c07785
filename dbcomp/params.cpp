#include "dbcomp/params.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "dbcomp/db_consts.h"
#include "dbcomp/field.h"
#include "engine/base/bcd.h"
#include "engine/base/date_time.h"
#include "engine/base/names.h"

namespace dbcomp {

namespace {

enum class TValueKind : std::uint8_t { None, Text, Int, Float };

TValueKind KindOf(TFieldType type) {
  switch (type) {
    case TFieldType::String:
    case TFieldType::FixedChar:
    case TFieldType::WideString:
    case TFieldType::Memo:
    case TFieldType::FmtMemo:
    case TFieldType::Blob:
    case TFieldType::Graphic:
    case TFieldType::TypedBinary:
    case TFieldType::Bytes:
    case TFieldType::VarBytes:
    case TFieldType::BCD:
      return TValueKind::Text;
    case TFieldType::Smallint:
    case TFieldType::Integer:
    case TFieldType::Word:
    case TFieldType::AutoInc:
    case TFieldType::Largeint:
    case TFieldType::Boolean:
    case TFieldType::Date:
    case TFieldType::Time:
    case TFieldType::DateTime:
      return TValueKind::Int;
    case TFieldType::Float:
    case TFieldType::Currency:
      return TValueKind::Float;
    default:
      return TValueKind::None;
  }
}

std::string DateText(std::int64_t dayNumber) {
  if (dayNumber < tarn::DateScale::MinDay || dayNumber > tarn::DateScale::MaxDay) return {};
  const tarn::TCivilDate d = tarn::DecodeDate(static_cast<std::int32_t>(dayNumber));
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.Year, d.Month, d.Day);
  return buf;
}

std::string TimeText(std::int64_t ms) {
  if (ms < 0 || ms >= tarn::DateScale::MsPerDay) return {};
  const tarn::TTimeOfDay t = tarn::DecodeTime(static_cast<std::int32_t>(ms));
  char buf[32];
  if (t.Millisecond != 0)
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", t.Hour, t.Minute, t.Second,
                  t.Millisecond);
  else
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.Hour, t.Minute, t.Second);
  return buf;
}

std::string FloatText(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  return buf;
}

bool IsNameChar(unsigned char c) { return std::isalnum(c) != 0 || c == '_' || c >= 128; }

}  // namespace

// ------------------------------------------------------------------ TParam

TParam::TParam(std::string name, TFieldType type) : FName(std::move(name)), FDataType(type) {}

void TParam::SetDataType(TFieldType type) {
  FDataType = type;
  FNull = true;
  FInt = 0;
  FFloat = 0;
  FText.clear();
}

void TParam::Clear() {
  FNull = true;
  FInt = 0;
  FFloat = 0;
  FText.clear();
  FBound = true;
}

void TParam::SetValue(TFieldType type) {
  FDataType = type;
  FNull = false;
  FBound = true;
}

void TParam::SetAsString(std::string_view value) {
  FText.assign(value);
  SetValue(TFieldType::String);
}

void TParam::SetAsMemo(std::string_view value) {
  FText.assign(value);
  SetValue(TFieldType::Memo);
}

void TParam::SetAsBlob(std::span<const std::uint8_t> value) {
  FText.assign(reinterpret_cast<const char*>(value.data()), value.size());
  SetValue(TFieldType::Blob);
}

void TParam::SetAsBytes(std::span<const std::uint8_t> value) {
  FText.assign(reinterpret_cast<const char*>(value.data()), value.size());
  SetValue(TFieldType::Bytes);
}

void TParam::SetAsSmallInt(std::int16_t value) {
  FInt = value;
  SetValue(TFieldType::Smallint);
}

void TParam::SetAsWord(std::uint16_t value) {
  FInt = value;
  SetValue(TFieldType::Word);
}

void TParam::SetAsInteger(std::int32_t value) {
  FInt = value;
  SetValue(TFieldType::Integer);
}

void TParam::SetAsLargeInt(std::int64_t value) {
  FInt = value;
  SetValue(TFieldType::Largeint);
}

void TParam::SetAsBoolean(bool value) {
  FInt = value ? 1 : 0;
  SetValue(TFieldType::Boolean);
}

void TParam::SetAsFloat(double value) {
  FFloat = value;
  SetValue(TFieldType::Float);
}

void TParam::SetAsCurrency(double value) {
  FFloat = value;
  SetValue(TFieldType::Currency);
}

void TParam::SetAsBCD(std::string_view text) {
  // Read at the largest scale the value's integer digits leave room for, so
  // that as little as possible is lost here.
  std::optional<tarn::TBcd> bcd;
  for (const std::uint8_t scale : std::initializer_list<std::uint8_t>{16, 8, 4, 0}) {
    bcd = tarn::BcdFromText(text, scale);
    if (bcd) break;
  }
  if (!bcd) DatabaseError(FormatMessage(Msg::InvalidBcdValue, {text}));
  std::string normal = tarn::BcdToText(*bcd);
  // "12.5000000000000000" reads back as "12.5".
  if (normal.find('.') != std::string::npos) {
    while (normal.back() == '0') normal.pop_back();
    if (normal.back() == '.') normal.pop_back();
  }
  FText = std::move(normal);
  SetValue(TFieldType::BCD);
}

void TParam::SetAsDate(std::int32_t dayNumber) {
  FInt = dayNumber;
  SetValue(TFieldType::Date);
}

void TParam::SetAsTime(std::int32_t msOfDay) {
  FInt = msOfDay;
  SetValue(TFieldType::Time);
}

void TParam::SetAsDateTime(std::int64_t value) {
  FInt = value;
  SetValue(TFieldType::DateTime);
}

std::string TParam::AsString() const {
  if (FNull) return {};
  switch (FDataType) {
    case TFieldType::Boolean:
      return FInt != 0 ? "True" : "False";
    case TFieldType::Date:
      return DateText(FInt);
    case TFieldType::Time:
      return TimeText(FInt);
    case TFieldType::DateTime: {
      const std::int64_t day = FInt / tarn::DateScale::MsPerDay;
      return DateText(day) + " " + TimeText(FInt - day * tarn::DateScale::MsPerDay);
    }
    default:
      break;
  }
  switch (KindOf(FDataType)) {
    case TValueKind::Text:
      return FText;
    case TValueKind::Int:
      return std::to_string(FInt);
    case TValueKind::Float:
      return FloatText(FFloat);
    case TValueKind::None:
      break;
  }
  return {};
}

std::int64_t TParam::AsLargeInt() const {
  if (FNull) return 0;
  switch (KindOf(FDataType)) {
    case TValueKind::Int:
      return FInt;
    case TValueKind::Float:
      return static_cast<std::int64_t>(FFloat);
    case TValueKind::Text:
      return std::strtoll(FText.c_str(), nullptr, 10);
    case TValueKind::None:
      break;
  }
  return 0;
}

double TParam::AsFloat() const {
  if (FNull) return 0;
  switch (KindOf(FDataType)) {
    case TValueKind::Int:
      return static_cast<double>(FInt);
    case TValueKind::Float:
      return FFloat;
    case TValueKind::Text:
      return std::strtod(FText.c_str(), nullptr);
    case TValueKind::None:
      break;
  }
  return 0;
}

std::vector<std::uint8_t> TParam::AsBytes() const {
  const std::string text = KindOf(FDataType) == TValueKind::Text ? FText : AsString();
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

void TParam::AssignFieldValue(const TField& field) {
  const bool bound = FBound;
  TFieldType type = field.DataType();
  if (type == TFieldType::AutoInc) type = TFieldType::Integer;
  SetDataType(KindOf(type) == TValueKind::None ? TFieldType::Unknown : type);
  if (FDataType == TFieldType::Unknown || field.IsNull()) {
    FBound = bound;
    return;
  }
  switch (KindOf(type)) {
    case TValueKind::Text:
      if (type == TFieldType::String || type == TFieldType::FixedChar ||
          type == TFieldType::WideString || type == TFieldType::Memo ||
          type == TFieldType::FmtMemo || type == TFieldType::BCD) {
        FText = field.AsString();
      } else {
        const std::vector<std::uint8_t> bytes = field.AsBytes();
        FText.assign(bytes.begin(), bytes.end());
      }
      break;
    case TValueKind::Int:
      FInt = type == TFieldType::Boolean ? (field.AsBoolean() ? 1 : 0) : field.AsLargeInt();
      break;
    case TValueKind::Float:
      FFloat = field.AsFloat();
      break;
    case TValueKind::None:
      break;
  }
  FNull = false;
  FBound = bound;
}

void TParam::AssignValue(const TParam& other) {
  FDataType = other.FDataType;
  FNull = other.FNull;
  FBound = other.FBound;
  FInt = other.FInt;
  FFloat = other.FFloat;
  FText = other.FText;
}

bool TParam::IsEqual(const TParam& other) const {
  return tarn::SameName(FName, other.FName) && FDataType == other.FDataType &&
         FNull == other.FNull && FBound == other.FBound && FInt == other.FInt &&
         FFloat == other.FFloat && FText == other.FText;
}

// ----------------------------------------------------------------- TParams

TParams::TParams(const TParams& other) { *this = other; }

TParams& TParams::operator=(const TParams& other) {
  if (this == &other) return *this;
  std::vector<std::unique_ptr<TParam>> items;
  for (const auto& p : other.FItems) items.push_back(std::make_unique<TParam>(*p));
  FItems = std::move(items);
  return *this;
}

TParam* TParams::FindParam(std::string_view name) const {
  for (const auto& p : FItems)
    if (tarn::SameName(p->Name(), name)) return p.get();
  return nullptr;
}

TParam& TParams::ParamByName(std::string_view name) const {
  TParam* p = FindParam(name);
  if (p == nullptr) DatabaseError(FormatMessage(Msg::ParamNotFound, {name}));
  return *p;
}

TParam& TParams::CreateParam(TFieldType type, std::string_view name) {
  return *FItems.emplace_back(std::make_unique<TParam>(std::string(name), type));
}

void TParams::AssignValues(const TParams& other) {
  for (const auto& p : FItems)
    if (const TParam* from = other.FindParam(p->Name())) p->AssignValue(*from);
}

bool TParams::IsEqual(const TParams& other) const {
  if (FItems.size() != other.FItems.size()) return false;
  for (std::size_t i = 0; i < FItems.size(); ++i)
    if (!FItems[i]->IsEqual(*other.FItems[i])) return false;
  return true;
}

// ------------------------------------------------------- marker scanning

TParsedSQL ParseParamMarkers(std::string_view sql) {
  TParsedSQL out;
  out.Text.reserve(sql.size());
  const std::size_t n = sql.size();
  std::size_t i = 0;
  // Copies a run that ends with the first close at or after from (or the
  // rest of the text).
  const auto copyUntil = [&](std::size_t from, std::string_view close) {
    const std::size_t at = sql.find(close, from);
    const std::size_t end = at == std::string_view::npos ? n : at + close.size();
    out.Text.append(sql.substr(i, end - i));
    i = end;
  };
  while (i < n) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {
      // A doubled quote inside is two runs back to back: the same result.
      copyUntil(i + 1, std::string_view(&sql[i], 1));
    } else if (c == '[') {
      copyUntil(i + 1, "]");
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      copyUntil(i + 2, "*/");
    } else if (c == ':' && i + 1 < n && sql[i + 1] == ':') {
      out.Text += ':';
      i += 2;
    } else if (c == ':' && i + 1 < n && sql[i + 1] == '"') {
      std::string name;
      std::size_t j = i + 2;
      for (; j < n; ++j) {
        if (sql[j] == '"') {
          if (j + 1 < n && sql[j + 1] == '"') {
            name += '"';
            ++j;
            continue;
          }
          break;
        }
        name += sql[j];
      }
      if (j >= n) {  // no closing quote: not a marker
        out.Text += c;
        ++i;
        continue;
      }
      out.Markers.push_back(std::move(name));
      out.Text += '?';
      i = j + 1;
    } else if (c == ':' && i + 1 < n && IsNameChar(static_cast<unsigned char>(sql[i + 1]))) {
      std::size_t j = i + 1;
      while (j < n && IsNameChar(static_cast<unsigned char>(sql[j]))) ++j;
      out.Markers.emplace_back(sql.substr(i + 1, j - i - 1));
      out.Text += '?';
      i = j;
    } else {
      out.Text += c;
      ++i;
    }
  }
  return out;
}

}  // namespace dbcomp
