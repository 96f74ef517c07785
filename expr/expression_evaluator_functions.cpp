// TExpEvaluator: the functions of the expression language.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/base/date_time.h"
#include "engine/index/collation.h"
#include "engine/index/language_string_list.h"
#include "engine/index/text_words.h"
#include "engine/table/field_types.h"
#include "expr/exp_cast.h"
#include "expr/expression_evaluator.h"

namespace tarn {

namespace {

// Day number of the Monday that starts week 1 of year.
std::int32_t WeekOneStart(std::int32_t year) {
  const std::int32_t jan1 = EncodeDate(year, 1, 1).value_or(DateScale::MinDay);
  const std::int32_t monday1 = (DayOfWeek(jan1) + 5) % 7 + 1;  // 1 Monday .. 7 Sunday
  const std::int32_t firstMonday = jan1 + (8 - monday1) % 7;
  return jan1 + 3 < firstMonday ? firstMonday - 7 : firstMonday;
}

std::int32_t WeekOfYear(std::int32_t day) {
  const TCivilDate date = DecodeDate(day);
  std::int32_t start = WeekOneStart(date.Year);
  if (day < start && date.Year > DateScale::MinYear) start = WeekOneStart(date.Year - 1);
  const std::int32_t d = day - start;
  if (d == 364) return 1;
  return d / 7 + 1;
}

// Non-overlapping occurrences of what in text, from the left.
std::size_t CountOccurrences(std::string_view text, std::string_view what) {
  if (what.empty()) return 0;
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + what.size()))
    ++count;
  return count;
}

}  // namespace

void TExpEvaluator::EvaluateFunction(const TExpToken& node, TExpValue& out) {
  const auto arg = [&](std::size_t i) -> const TExpValue& { return Evaluate(*node.List[i]); };
  switch (node.Op) {
    case TExpOp::Lower:
    case TExpOp::Upper: {
      const TExpValue& x = arg(0);
      if (x.Null) return out.SetNull(FieldType::String);
      out.Buffer.assign(x.Text.data(), x.Text.size());
      const std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(out.Buffer.data()), out.Buffer.size());
      if (node.Op == TExpOp::Upper)
        UpperCaseLocale(FLanguageId, FSortId, bytes);
      else
        LowerCaseLocale(FLanguageId, FSortId, bytes);
      return out.TakeBuffer(FieldType::String);
    }
    case TExpOp::Length: {
      const TExpValue& x = arg(0);
      if (x.Null) return out.SetNull(FieldType::Int32);
      return out.SetInt(FieldType::Int32, static_cast<std::int64_t>(strnlen(x.Text.data(), x.Text.size())));
    }
    case TExpOp::Substring: {
      const TExpValue& x = arg(0);
      const TExpValue& from = arg(1);
      if (x.Null || from.Null) return out.SetNull(FieldType::String);
      const std::int64_t start = std::max<std::int64_t>(from.Int, 1) - 1;
      std::int64_t count = std::numeric_limits<std::int64_t>::max();
      if (node.List.size() > 2) {
        const TExpValue& forCount = arg(2);
        if (forCount.Null) return out.SetNull(FieldType::String);
        count = std::max<std::int64_t>(forCount.Int, 0);
      }
      const std::string_view text = x.Text;
      std::string_view part;
      if (static_cast<std::uint64_t>(start) < text.size())
        part = text.substr(static_cast<std::size_t>(start),
                           static_cast<std::size_t>(std::min<std::int64_t>(count, static_cast<std::int64_t>(text.size()))));
      out.Buffer.assign(part.data(), part.size());
      out.TakeBuffer(FieldType::String);
      out.Null = part.empty();
      return;
    }
    case TExpOp::Replace: {
      const TExpValue& search = arg(0);
      const TExpValue& with = arg(1);
      const TExpValue& x = arg(2);
      if (x.Null) return out.SetNull(FieldType::String);
      const std::string_view s = search.Text;
      const std::string_view r = with.Text;
      const std::string_view text = x.Text;
      out.Buffer.clear();
      if (s.empty() || s == r) {
        out.Buffer.assign(text.data(), text.size());
      } else {
        std::size_t at = 0;
        for (std::size_t hit = text.find(s); hit != std::string_view::npos; hit = text.find(s, at)) {
          out.Buffer.append(text.data() + at, hit - at);
          out.Buffer.append(r.data(), r.size());
          at = hit + s.size();
        }
        out.Buffer.append(text.data() + at, text.size() - at);
      }
      out.TakeBuffer(FieldType::String);
      out.Null = out.Buffer.empty();
      return;
    }
    case TExpOp::Pos:
    case TExpOp::Occurs: {
      const TExpValue& search = arg(0);
      const TExpValue& x = arg(1);
      if (x.Null) return out.SetNull(FieldType::Int32);
      if (node.Op == TExpOp::Occurs)
        return out.SetInt(FieldType::Int32, static_cast<std::int64_t>(CountOccurrences(x.Text, search.Text)));
      const std::size_t at = search.Text.empty() ? std::string_view::npos : x.Text.find(search.Text);
      return out.SetInt(FieldType::Int32, at == std::string_view::npos ? 0 : static_cast<std::int64_t>(at) + 1);
    }
    case TExpOp::Trim: {
      const TExpValue& c = arg(0);
      const TExpValue& x = arg(1);
      if (x.Null) return out.SetNull(FieldType::String);
      std::string_view text = x.Text;
      if (!c.Text.empty()) {
        const char ch = c.Text.front();
        const auto side = static_cast<TTrimSide>(node.Option);
        if (side != TTrimSide::Trailing)
          while (!text.empty() && text.front() == ch) text.remove_prefix(1);
        if (side != TTrimSide::Leading)
          while (!text.empty() && text.back() == ch) text.remove_suffix(1);
      }
      out.Buffer.assign(text.data(), text.size());
      out.TakeBuffer(FieldType::String);
      out.Null = text.empty();
      return;
    }
    case TExpOp::Extract: {
      const TExpValue& x = arg(0);
      if (x.Null) return out.SetNull(FieldType::Int32);
      std::int32_t day = DateScale::DateTimeEpochDay;
      std::int32_t ms = 0;
      if (x.Type == FieldType::Date) {
        day = static_cast<std::int32_t>(x.Int);
      } else if (x.Type == FieldType::Time) {
        ms = static_cast<std::int32_t>(x.Int);
      } else if (const std::optional<TTimestampParts> parts = SplitTimestamp(x.Float)) {
        day = parts->Day;
        ms = parts->Ms;
      }
      if (day < DateScale::MinDay || day > DateScale::MaxDay || ms < 0 || ms >= DateScale::MsPerDay)
        return out.SetNull(FieldType::Int32);
      const TCivilDate date = DecodeDate(day);
      const TTimeOfDay time = DecodeTime(ms);
      std::int64_t r = 0;
      switch (static_cast<TExtractPart>(node.Option)) {
        case TExtractPart::Year: r = date.Year; break;
        case TExtractPart::Month: r = date.Month; break;
        case TExtractPart::Day: r = date.Day; break;
        case TExtractPart::Week: r = WeekOfYear(day); break;
        case TExtractPart::DayOfWeek: r = (DayOfWeek(day) + 5) % 7 + 1; break;
        case TExtractPart::DayOfYear: r = day - EncodeDate(date.Year, 1, 1).value_or(day) + 1; break;
        case TExtractPart::Hour: r = time.Hour; break;
        case TExtractPart::Minute: r = time.Minute; break;
        case TExtractPart::Second: r = time.Second; break;
      }
      return out.SetInt(FieldType::Int32, r);
    }
    case TExpOp::Abs: {
      const TExpValue& x = arg(0);
      out.CopyFrom(x);
      if (x.Null) return;
      if (x.Type == FieldType::Float) {
        out.Float = std::fabs(x.Float);
      } else if (x.Type == FieldType::Bcd) {
        const std::int64_t fixed = BcdFixedValue(x.Bcd);
        if (fixed < 0) out.Bcd = BcdFromFixed(fixed == std::numeric_limits<std::int64_t>::min() ? std::numeric_limits<std::int64_t>::max() : -fixed, x.Bcd.Scale());
      } else if (x.Int < 0) {
        out.Int = static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(x.Int));
        if (x.Type == FieldType::Int16) out.Int = static_cast<std::int16_t>(out.Int);
        if (x.Type == FieldType::Int32) out.Int = static_cast<std::int32_t>(out.Int);
      }
      return;
    }
    case TExpOp::Round: {
      const TExpValue& x = arg(0);
      const std::int64_t places = node.List.size() > 1 ? arg(1).Int : 0;
      out.CopyFrom(x);
      if (x.Null) return;
      if (x.Type == FieldType::Float) {
        const double unit = std::pow(0.1, static_cast<double>(places));
        const double scaled = x.Float / unit;
        out.Float = std::trunc(scaled + (scaled < 0 ? -0.5 : 0.5)) * unit;
      } else if (x.Type == FieldType::Bcd && places < 4) {
        std::int64_t step = 1;
        for (std::int64_t i = places; i < 4; ++i) step *= 10;
        const std::int64_t fixed = BcdFixedValue(x.Bcd);
        const std::int64_t half = fixed < 0 ? -step / 2 : step / 2;
        const std::int64_t rounded = (fixed / step + (fixed % step + half) / step) * step;
        out.Bcd = BcdFromFixed(rounded, x.Bcd.Scale());
      }
      return;
    }
    case TExpOp::If: {
      const bool condition = arg(0).IsTrue();
      out.CopyFrom(arg(condition ? 1 : 2));
      return;
    }
    case TExpOp::IfNull: {
      const bool isNull = arg(0).Null;
      out.CopyFrom(arg(isNull ? 1 : 2));
      return;
    }
    case TExpOp::Coalesce:
      for (std::size_t i = 0; i < node.List.size(); ++i) {
        const TExpValue& v = arg(i);
        if (!v.Null) return out.CopyFrom(v);
      }
      return out.SetNull(node.DataType);
    case TExpOp::Cast: {
      const TCastTarget target{node.DataType, node.SubType, node.Size, node.Scale};
      CastValue(arg(0), target, out);
      return;
    }
    case TExpOp::TextSearch:
    case TExpOp::TextOccurs:
      EvaluateTextSearch(node, out);
      return;
    case TExpOp::LastAutoInc:
    case TExpOp::IdentCurrent: {
      const TExpValue& name = arg(0);
      if (const std::optional<std::int32_t> v = FSource.LastAutoInc(name.Text)) return out.SetInt(FieldType::Int32, *v);
      return out.SetNull(FieldType::Int32);
    }
    default:
      out.SetNull(node.DataType);
  }
}

void TExpEvaluator::EvaluateTextSearch(const TExpToken& node, TExpValue& out) {
  if (!FTextWords) FTextWords = std::make_unique<TTextKeyBuilder>(FSource.TextIndexParams(), FLanguageId, FSortId);
  const TTextIndexParams& params = FTextWords->Params();
  const TExpValue& search = Evaluate(*node.List[0]);
  const TExpValue& column = Evaluate(*node.List[1]);
  TLanguageStringList searchWords(FLanguageId, FSortId);
  TLanguageStringList columnWords(FLanguageId, FSortId);
  ExtractWords(search.Text.data(), search.Text.size(), searchWords, true, params.SpaceChars, params.IncludeChars);
  ExtractWords(column.Text.data(), column.Text.size(), columnWords, false, params.SpaceChars, params.IncludeChars);
  bool all = true;
  std::uint64_t occurrences = 0;
  for (std::size_t i = 0; i < searchWords.Count(); ++i) {
    const std::string& word = searchWords[i].Text;
    if (!word.empty() && word.back() == '*') {
      const std::string prefix = word.substr(0, word.size() - 1);
      bool found = false;
      for (std::size_t j = 0; j < columnWords.Count(); ++j) {
        // The word index holds no stop words, so a prefix never matches one.
        if (FTextWords->IsStopWord(columnWords[j].Text)) continue;
        if (columnWords[j].Text.size() >= prefix.size() &&
            (prefix.empty() || columnWords.Compare(columnWords[j].Text, prefix, prefix.size()) == 0)) {
          found = true;
          occurrences += columnWords[j].Value;
        }
      }
      all = all && found;
      continue;
    }
    if (FTextWords->IsStopWord(word)) continue;
    std::size_t index = 0;
    if (columnWords.Find(word, index)) {
      occurrences += columnWords[index].Value;
    } else {
      all = false;
    }
  }
  if (node.Op == TExpOp::TextSearch) return out.SetBool(all);
  out.SetInt(FieldType::UInt16, static_cast<std::int64_t>(std::min<std::uint64_t>(occurrences, 65535)));
}

}  // namespace tarn
