#include "expr/filter_optimizer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string>

#include "engine/index/collation.h"
#include "engine/index/keys.h"
#include "engine/index/text_words.h"
#include "engine/table/field_types.h"
#include "engine/table/records_bitmap_stack.h"
#include "expr/exp_cast.h"

namespace tarn {

struct TFilterOptimizer::TRange {
  std::array<std::uint8_t, KeyLimits::MaxKeySize> Low{};
  std::array<std::uint8_t, KeyLimits::MaxKeySize> High{};
  bool Invert = false;
  bool FromLowest = false;  // Low is the slot's LowKey
  bool ToHighest = false;   // High is the slot's HighKey
  // Low and High are built for the ascending order of the same keys; the
  // index (a Descending one) reads them the other way round.
  bool Reversed = false;
  const std::uint8_t* First() const { return Reversed ? High.data() : Low.data(); }
  const std::uint8_t* Last() const { return Reversed ? Low.data() : High.data(); }
};

namespace {

bool IsComparison(TExpOp op) {
  switch (op) {
    case TExpOp::Equal:
    case TExpOp::NotEqual:
    case TExpOp::Less:
    case TExpOp::LessEqual:
    case TExpOp::Greater:
    case TExpOp::GreaterEqual:
    case TExpOp::PartialEqual:
    case TExpOp::PartialNotEqual:
      return true;
    default:
      return false;
  }
}

std::uint32_t CountNodes(const TExpToken& node) {
  std::uint32_t highest = node.Slot;
  if (node.Left) highest = std::max(highest, CountNodes(*node.Left));
  if (node.Right) highest = std::max(highest, CountNodes(*node.Right));
  for (const TExpTokenPtr& item : node.List) highest = std::max(highest, CountNodes(*item));
  return highest + 1;
}

// The first key field sorts with its values descending in a non-Descending
// index: its keys order by that field backwards, then by the rest forwards.
bool FirstFieldFlipped(const TKeyDef& def) { return def.FieldDescending[0] != 0 && !def.Descending; }

// Writes the first key field part of a constant into key (zeroed first), as
// BuildKey writes it (inverted for a flipped field of a table without a
// language).
void EncodeConstant(const TKeyDef& def, const TExpValue& value, std::uint8_t* key) {
  std::memset(key, 0, def.KeySize);
  const TKeyField& field = def.Fields[0];
  const std::size_t partSize = KeyFieldSize(field) + 1u;
  std::string bytes;
  if (value.Type == FieldType::String)
    bytes.assign(value.Text.data(), value.Text.size());
  else
    StoredBytesOf(value, bytes);
  EncodeFieldKey(field, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), def.LanguageId,
                 def.SortId, FirstFieldFlipped(def), def.CaseInsensitive, std::span<std::uint8_t>(key, partSize));
}

}  // namespace

TFilterOptimizer::TFilterOptimizer(TFilterCursor& cursor, const TFilterOptions& options, TFilter& filter)
    : FCursor(cursor), FOptions(options), FFilter(filter) {}

TOptimizeLevel TFilterOptimizer::Analyse(TExpToken& root) {
  FPlans.assign(CountNodes(root), TNodePlan{});
  AnalyseNode(root);
  return FPlans[root.Slot].Level;
}

const TExpToken* TFilterOptimizer::ConditionColumn(const TExpToken& operand, bool& upper) const {
  upper = false;
  if (operand.IsColumn()) return &operand;
  if (operand.Kind == TExpTokenKind::Function && operand.Op == TExpOp::Upper && operand.List[0]->IsColumn() &&
      operand.List[0]->DataType == FieldType::String) {
    upper = true;
    return operand.List[0].get();
  }
  return nullptr;
}

int TFilterOptimizer::ChooseIndex(const TExpToken& column, bool caseInsensitive) {
  if (column.DataType == FieldType::Blob || column.DataType == FieldType::Unknown) return -1;
  const bool isString = column.DataType == FieldType::String;
  const int slot = FCursor.FindFilterIndex(column.FieldNo, caseInsensitive, isString);
  if (slot < 0) return -1;
  const TKeyDef& def = FCursor.FilterKeyDef(slot);
  if (def.FieldCount == 0) return -1;
  return slot;
}

// A constant can bound a range when it has the column's type (NULL only for
// = and <>), and a string fits the key's value area.
bool TFilterOptimizer::ConstantFits(const TExpToken& column, const TExpToken& constant, int slot) const {
  if (!constant.IsConstant()) return false;
  if (constant.Value.Null) return constant.DataType == FieldType::Unknown;
  if (constant.Value.Type != column.DataType) return false;
  if (column.DataType == FieldType::String) {
    const TKeyDef& def = FCursor.FilterKeyDef(slot);
    if (constant.Value.Text.size() > def.Fields[0].FieldSize) return false;
    if (constant.Value.Text.find('\0') != std::string_view::npos) return false;
  }
  return true;
}

void TFilterOptimizer::AnalyseNode(TExpToken& node) {
  TNodePlan& plan = FPlans[node.Slot];
  if (node.Left) AnalyseNode(*node.Left);
  if (node.Right) AnalyseNode(*node.Right);
  for (TExpTokenPtr& item : node.List) AnalyseNode(*item);

  const auto countPlan = [&](int slot, std::int64_t keys) {
    plan.Slot = slot;
    plan.Level = TOptimizeLevel::Full;
    if (keys >= 0) {
      plan.Estimate = keys;
      plan.Cost = keys * FCursor.FilterKeyDef(slot).KeySize;
    }
  };
  const auto rangeKeys = [&](int slot, TExpOp op, const TExpToken* constant, std::uint16_t prefix) -> std::int64_t {
    if (!FOptions.Counting || !FCursor.IndexHasCounts(slot)) return -1;
    TRange range;
    BuildRange(slot, op, constant, prefix, range);
    const std::int64_t keys = CountRange(slot, range);
    if (keys < 0) return -1;
    return range.Invert ? std::max<std::int64_t>(FCursor.FilterRecordCount() - keys, 0) : keys;
  };

  if (node.Kind == TExpTokenKind::Binary && IsComparison(node.Op)) {
    bool upper = false;
    const TExpToken* column = ConditionColumn(*node.Left, upper);
    if (column == nullptr) return;
    const TExpToken& constant = *node.Right;
    const bool partial = node.Op == TExpOp::PartialEqual || node.Op == TExpOp::PartialNotEqual;
    bool caseInsensitive = upper || (partial && node.CaseInsensitive);
    if (column->DataType != FieldType::String) caseInsensitive = false;
    const int slot = ChooseIndex(*column, caseInsensitive);
    if (slot < 0 || !ConstantFits(*column, constant, slot)) return;
    // A collation orders case only after the letters, so a prefix range of a
    // table with a language also holds the prefix's other letter cases.
    const TKeyDef& def = FCursor.FilterKeyDef(slot);
    if (partial && node.PrefixLength > 0 && !caseInsensitive && def.HasLanguage()) return;
    // Keys without a suffix need a successor of v, which a collation cannot
    // give for strings.
    if ((node.Op == TExpOp::Greater || node.Op == TExpOp::Less) && column->DataType == FieldType::String &&
        def.HasLanguage() && KeyFieldSize(def.Fields[0]) + 1u >= def.KeySize)
      return;
    if (constant.Value.Null && node.Op != TExpOp::Equal && node.Op != TExpOp::NotEqual) return;
    if (upper) {
      // UPPER(column) = 'abc' never matches; an upper-case index would.
      std::string folded(constant.Value.Text);
      UpperCaseLocale(FCursor.FilterKeyDef(slot).LanguageId, FCursor.FilterKeyDef(slot).SortId,
                      std::span(reinterpret_cast<std::uint8_t*>(folded.data()), folded.size()));
      if (folded != constant.Value.Text) return;
    }
    countPlan(slot, rangeKeys(slot, node.Op, &constant, partial ? node.PrefixLength : 0));
    return;
  }
  if (node.Kind == TExpTokenKind::List) {
    bool upper = false;
    const TExpToken* column = ConditionColumn(*node.Left, upper);
    if (column == nullptr || upper) return;
    const int slot = ChooseIndex(*column, false);
    if (slot < 0) return;
    for (const TExpTokenPtr& item : node.List)
      if (!ConstantFits(*column, *item, slot) || item->Value.Null) return;
    std::int64_t keys = -1;
    if (FOptions.Counting && FCursor.IndexHasCounts(slot)) {
      keys = 0;
      if (node.Op == TExpOp::Between || node.Op == TExpOp::NotBetween) {
        TRange range;
        BuildBetweenRange(slot, node.List[0]->Value, node.List[1]->Value, range);
        keys = std::max<std::int64_t>(CountRange(slot, range), 0);
      } else {
        for (const TExpTokenPtr& item : node.List) keys += std::max<std::int64_t>(rangeKeys(slot, TExpOp::Equal, item.get(), 0), 0);
      }
      if (node.Op == TExpOp::NotBetween || node.Op == TExpOp::NotIn)
        keys = std::max<std::int64_t>(FCursor.FilterRecordCount() - keys, 0);
    }
    countPlan(slot, keys);
    return;
  }
  if (node.Kind == TExpTokenKind::Function && node.Op == TExpOp::TextSearch && node.List[1]->IsColumn() &&
      FCursor.TextIndexCovers(node.List[1]->FieldNo)) {
    plan.Level = TOptimizeLevel::Full;
    plan.Slot = KeyLimits::TextSlot;
    return;
  }
  if (node.Kind == TExpTokenKind::Unary) {
    const TNodePlan& operand = FPlans[node.Left->Slot];
    plan.Level = operand.Level;
    plan.Estimate = operand.Estimate;
    plan.Cost = operand.Cost;
    return;
  }
  if (node.Kind == TExpTokenKind::Binary && (node.Op == TExpOp::And || node.Op == TExpOp::Or)) {
    TNodePlan l = FPlans[node.Left->Slot];
    TNodePlan r = FPlans[node.Right->Slot];
    const bool bothFull = l.Level == TOptimizeLevel::Full && r.Level == TOptimizeLevel::Full;
    const bool unknown = l.Estimate < 0 || r.Estimate < 0;
    if (node.Op == TExpOp::And) {
      if (bothFull) {
        plan.Level = TOptimizeLevel::Full;
      } else if (l.Level != TOptimizeLevel::None || r.Level != TOptimizeLevel::None) {
        plan.Level = TOptimizeLevel::Partial;
        if (static_cast<int>(r.Level) > static_cast<int>(l.Level)) {
          std::swap(node.Left, node.Right);
          std::swap(l, r);
        }
      }
      plan.Estimate = unknown ? -1 : std::min(l.Estimate, r.Estimate);
    } else {
      plan.Level = bothFull ? TOptimizeLevel::Full : TOptimizeLevel::None;
      plan.Estimate = unknown ? -1 : std::max(l.Estimate, r.Estimate);
    }
    plan.Cost = (l.Cost < 0 || r.Cost < 0) ? -1 : l.Cost + r.Cost;
  }
}

void TFilterOptimizer::BuildRange(int slot, TExpOp op, const TExpToken* constant, std::uint16_t prefix,
                                  TRange& range) {
  const TKeyDef& def = FCursor.FilterKeyDef(slot);
  const std::span<std::uint8_t> low(range.Low.data(), def.KeySize);
  const std::span<std::uint8_t> high(range.High.data(), def.KeySize);
  const bool isString = def.Fields[0].FieldType == FieldType::String;
  const std::size_t partSize = KeyFieldSize(def.Fields[0]) + 1u;
  const std::size_t n = std::min<std::size_t>(prefix > 0 ? prefix + 1u : partSize, def.KeySize);
  range = TRange{};
  if (FirstFieldFlipped(def)) {
    BuildFlippedRange(def, op, constant, n, range);
    return;
  }
  range.Reversed = def.Descending;
  // Bounds of every key with a value (flag byte 1).
  const auto lowestValue = [&] {
    if (isString) {  // NULL strings compare as the empty string: they belong below every value
      LowKey(def, low);
      range.FromLowest = true;
    } else {
      std::fill(low.begin(), low.end(), 0);
      low[0] = 1;
      PadKeyLow(def, low, 1);
    }
  };
  const auto highestValue = [&] {
    HighKey(def, high);
    range.ToHighest = true;
  };
  if (constant->Value.Null) {  // = NULL and <> NULL: the keys with flag byte 0
    std::fill(low.begin(), low.end(), 0);
    std::fill(high.begin(), high.end(), 0);
    PadKeyLow(def, low, 1);
    PadKeyHigh(def, high, 1);
    range.Invert = op == TExpOp::NotEqual;
    return;
  }
  EncodeConstant(def, constant->Value, range.Low.data());
  std::copy(low.begin(), low.end(), high.begin());
  switch (op) {
    case TExpOp::Equal:
    case TExpOp::NotEqual:
    case TExpOp::PartialEqual:
    case TExpOp::PartialNotEqual:
      PadKeyLow(def, low, n);
      PadKeyHigh(def, high, n);
      range.Invert = op == TExpOp::NotEqual || op == TExpOp::PartialNotEqual;
      return;
    case TExpOp::Greater:
      if (n < def.KeySize) {
        // After every key of v: v with the rest of the key at its highest.
        PadKeyHigh(def, low, n);
      } else {
        KeySuccessor(def, low, n);
      }
      highestValue();
      return;
    case TExpOp::GreaterEqual:
      PadKeyLow(def, low, n);
      highestValue();
      return;
    case TExpOp::Less:
      if (n < def.KeySize) {
        // Before every key of v: v with the rest of the key at its lowest.
        PadKeyLow(def, high, n);
      } else {
        KeyPredecessor(def, high, n);
      }
      lowestValue();
      return;
    case TExpOp::LessEqual:
      PadKeyHigh(def, high, n);
      lowestValue();
      return;
    default:
      return;
  }
}

// Bounds in the index's own order when its first field is flipped. Value keys
// come first, greatest value first; NULL keys last. Within one first-field
// value the rest of the key ascends.
void TFilterOptimizer::BuildFlippedRange(const TKeyDef& def, TExpOp op, const TExpToken* constant, std::size_t n,
                                         TRange& range) {
  const std::span<std::uint8_t> low(range.Low.data(), def.KeySize);
  const std::span<std::uint8_t> high(range.High.data(), def.KeySize);
  const bool isString = def.Fields[0].FieldType == FieldType::String;
  const bool language = def.HasLanguage();
  const std::size_t partSize = KeyFieldSize(def.Fields[0]) + 1u;
  // The first (last) key in index order whose first n bytes are key's. With a
  // language the collation reverses the first field's value area, so a
  // prefix inside it is padded the other way round.
  const auto prefixFirst = [&](std::span<std::uint8_t> key, std::size_t from) {
    if (language && from < partSize) {
      PadKeyHigh(def, key, from);
      PadKeyLow(def, key, partSize);
    } else {
      PadKeyLow(def, key, from);
    }
  };
  const auto prefixLast = [&](std::span<std::uint8_t> key, std::size_t from) {
    if (language && from < partSize) {
      PadKeyLow(def, key, from);
      PadKeyHigh(def, key, partSize);
    } else {
      PadKeyHigh(def, key, from);
    }
  };
  // Before every key with a value: without a language those begin with the
  // inverted flag 0xFE, with one the greatest value area comes first.
  const auto firstValue = [&] {
    if (!language) {
      LowKey(def, low);
      range.FromLowest = true;
      return;
    }
    std::fill(low.begin(), low.end(), 0);
    low[0] = 1;
    PadKeyHigh(def, low, 1);
    PadKeyLow(def, low, partSize);
  };
  // After every key with a value; for strings after the NULL keys too, as a
  // NULL string compares as the empty string.
  const auto lastValue = [&] {
    std::fill(high.begin(), high.end(), 0);
    if (isString) {
      if (language) {
        PadKeyHigh(def, high, partSize);
      } else {
        HighKey(def, high);
        range.ToHighest = true;
      }
    } else if (language) {
      high[0] = 1;
      PadKeyLow(def, high, 1);
      PadKeyHigh(def, high, partSize);
    } else {
      high[0] = 0xFE;
      PadKeyHigh(def, high, 1);
    }
  };
  if (constant->Value.Null) {  // = NULL and <> NULL: the keys of a NULL first field
    std::fill(low.begin(), low.end(), 0);
    if (!language) std::fill(low.begin(), low.begin() + static_cast<std::ptrdiff_t>(partSize), 0xFF);
    std::copy(low.begin(), low.end(), high.begin());
    prefixFirst(low, partSize);
    prefixLast(high, partSize);
    range.Invert = op == TExpOp::NotEqual;
    return;
  }
  EncodeConstant(def, constant->Value, range.Low.data());
  std::copy(low.begin(), low.end(), high.begin());
  switch (op) {
    case TExpOp::Equal:
    case TExpOp::NotEqual:
    case TExpOp::PartialEqual:
    case TExpOp::PartialNotEqual:
      prefixFirst(low, n);
      prefixLast(high, n);
      range.Invert = op == TExpOp::NotEqual || op == TExpOp::PartialNotEqual;
      return;
    case TExpOp::Greater:  // greater values sort before v
      if (n < def.KeySize) {
        prefixFirst(high, n);
      } else if (language) {
        KeySuccessor(def, high, n);  // plain bytes that compare backwards
      } else {
        KeyPredecessor(def, high, n);
      }
      firstValue();
      return;
    case TExpOp::GreaterEqual:
      prefixLast(high, n);
      firstValue();
      return;
    case TExpOp::Less:  // smaller values sort after v
      if (n < def.KeySize) {
        prefixLast(low, n);
      } else if (language) {
        KeyPredecessor(def, low, n);
      } else {
        KeySuccessor(def, low, n);
      }
      lastValue();
      return;
    case TExpOp::LessEqual:
      prefixFirst(low, n);
      lastValue();
      return;
    default:
      return;
  }
}

void TFilterOptimizer::BuildBetweenRange(int slot, const TExpValue& from, const TExpValue& to, TRange& range) {
  const TKeyDef& def = FCursor.FilterKeyDef(slot);
  const std::size_t n = KeyFieldSize(def.Fields[0]) + 1u;
  range = TRange{};
  const bool flipped = FirstFieldFlipped(def);
  range.Reversed = def.Descending;
  // A flipped first field meets the upper bound first.
  EncodeConstant(def, flipped ? to : from, range.Low.data());
  EncodeConstant(def, flipped ? from : to, range.High.data());
  PadKeyLow(def, std::span(range.Low.data(), def.KeySize), n);
  PadKeyHigh(def, std::span(range.High.data(), def.KeySize), n);
}

std::int64_t TFilterOptimizer::CountRange(int slot, const TRange& range) {
  return FCursor.CountKeyRange(slot, range.First(), range.Last());
}

bool TFilterOptimizer::CollectRange(int slot, const TRange& range, TRecordsBitmap& bitmap) {
  const TKeyDef& def = FCursor.FilterKeyDef(slot);
  const std::uint32_t bits = bitmap.BitCount();
  ++FStats.RangesCollected;
  bool invert = range.Invert;
  bool done = false;
  if (FOptions.Complement && def.LanguageId == 0 && FCursor.IndexHasCounts(slot) &&
      CountRange(slot, range) * 2 > FCursor.FilterRecordCount()) {
    // Read the keys around the range and invert them.
    TPooledBitmap above(bits);
    bitmap.ClearAll();
    if (!range.FromLowest) {
      TRange below = range;
      LowKey(def, std::span(below.Low.data(), def.KeySize));
      below.High = range.Low;
      KeyPredecessor(def, std::span(below.High.data(), def.KeySize), def.KeySize);
      if (!FCursor.CollectKeyRange(slot, below.First(), below.Last(), bitmap)) return false;
    }
    if (!range.ToHighest) {
      TRange after = range;
      after.Low = range.High;
      KeySuccessor(def, std::span(after.Low.data(), def.KeySize), def.KeySize);
      HighKey(def, std::span(after.High.data(), def.KeySize));
      if (!FCursor.CollectKeyRange(slot, after.First(), after.Last(), *above)) return false;
      bitmap.OrWith(*above);
    }
    bitmap.SetBitCount(bits);
    invert = !invert;
    done = true;
  }
  if (!done && !FCursor.CollectKeyRange(slot, range.First(), range.Last(), bitmap)) return false;
  bitmap.SetBitCount(bits);
  if (invert) bitmap.Invert();
  return true;
}

bool TFilterOptimizer::RestrictByRecords(TRecordsBitmap& bitmap, const TExpToken* node) {
  TExpRecordSource& source = FCursor.FilterRecordSource();
  std::uint32_t position = 0;
  while (bitmap.NextSet(position)) {
    switch (FCursor.ReadFilterRecord(position)) {
      case TFilterRead::TableChanged:
        return false;
      case TFilterRead::Deleted:
        continue;  // never reached by navigation
      case TFilterRead::Active:
        break;
    }
    ++FStats.RecordsRead;
    const bool passes = node != nullptr ? FFilter.FEvaluator->Evaluate(*node).IsTrue() : FFilter.Evaluate(position, source);
    if (!passes) bitmap.ClearBit(position);
  }
  return true;
}

bool TFilterOptimizer::Restrict(TRecordsBitmap& bitmap, const TExpToken& node) {
  const TNodePlan& plan = FPlans[node.Slot];
  const bool useIndexes =
      plan.Level != TOptimizeLevel::None &&
      (plan.Cost < 0 || plan.Cost <= static_cast<std::int64_t>(bitmap.CountSet()) * FCursor.FilterRecordSize());
  if (!useIndexes) return RestrictByRecords(bitmap, &node);
  return RestrictByIndex(bitmap, node);
}

bool TFilterOptimizer::RestrictByIndex(TRecordsBitmap& bitmap, const TExpToken& node) {
  const TNodePlan& plan = FPlans[node.Slot];
  const std::uint32_t bits = bitmap.BitCount();
  if (node.Kind == TExpTokenKind::Unary) {
    if (node.Op != TExpOp::Not) return Restrict(bitmap, *node.Left);
    TPooledBitmap passing(bits);
    passing->CopyFrom(bitmap);
    if (!Restrict(*passing, *node.Left)) return false;
    passing->Invert();
    bitmap.AndWith(*passing);
    return true;
  }
  if (node.Kind == TExpTokenKind::Binary && node.Op == TExpOp::And) {
    return Restrict(bitmap, *node.Left) && Restrict(bitmap, *node.Right);
  }
  if (node.Kind == TExpTokenKind::Binary && node.Op == TExpOp::Or) {
    TPooledBitmap right(bits);
    right->CopyFrom(bitmap);
    if (!Restrict(bitmap, *node.Left) || !Restrict(*right, *node.Right)) return false;
    bitmap.OrWith(*right);
    return true;
  }
  if (node.Kind == TExpTokenKind::Function) return RestrictByWords(bitmap, node);
  TPooledBitmap collected(bits);
  if (node.Kind == TExpTokenKind::List) {
    TRange range;
    if (node.Op == TExpOp::Between || node.Op == TExpOp::NotBetween) {
      BuildBetweenRange(plan.Slot, node.List[0]->Value, node.List[1]->Value, range);
      if (!CollectRange(plan.Slot, range, *collected)) return false;
    } else {
      TPooledBitmap one(bits);
      for (const TExpTokenPtr& item : node.List) {
        BuildRange(plan.Slot, TExpOp::Equal, item.get(), 0, range);
        if (!CollectRange(plan.Slot, range, *one)) return false;
        collected->OrWith(*one);
      }
      collected->SetBitCount(bits);
    }
    if (node.Op == TExpOp::NotBetween || node.Op == TExpOp::NotIn) collected->Invert();
  } else {
    TRange range;
    const bool partial = node.Op == TExpOp::PartialEqual || node.Op == TExpOp::PartialNotEqual;
    BuildRange(plan.Slot, node.Op, node.Right.get(), partial ? node.PrefixLength : 0, range);
    if (!CollectRange(plan.Slot, range, *collected)) return false;
  }
  bitmap.AndWith(*collected);
  return true;
}

bool TFilterOptimizer::RestrictByWords(TRecordsBitmap& bitmap, const TExpToken& node) {
  const TKeyDef& def = FCursor.FilterKeyDef(KeyLimits::TextSlot);
  TExpRecordSource& source = FCursor.FilterRecordSource();
  const TTextKeyBuilder words(source.TextIndexParams(), source.LanguageId(), source.SortId());
  const std::string_view text = node.List[0]->Value.Text;
  const std::uint16_t fieldNo = node.List[1]->FieldNo;
  std::vector<TTextWord> list;
  ExtractWords(text.data(), text.size(), list, true, words.Params().SpaceChars, words.Params().IncludeChars);
  const std::uint32_t bits = bitmap.BitCount();
  TPooledBitmap found(bits);
  TRange range;
  const std::span<std::uint8_t> low(range.Low.data(), def.KeySize);
  const std::span<std::uint8_t> high(range.High.data(), def.KeySize);
  for (const TTextWord& word : list) {
    std::string_view w = word.Text;
    const bool prefix = !w.empty() && w.back() == '*';
    if (prefix) {
      w.remove_suffix(1);
      while (!w.empty() && w.back() == '*') w.remove_suffix(1);
    } else if (words.IsStopWord(word.Text)) {
      continue;
    }
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(w.data()), w.size());
    BuildTextKey(fieldNo, bytes, std::numeric_limits<std::int32_t>::min(), def.LanguageId, def.SortId, low);
    BuildTextKey(fieldNo, bytes, std::numeric_limits<std::int32_t>::max(), def.LanguageId, def.SortId, high);
    if (prefix) {
      const std::size_t n = KeyLimits::TextWordAt + std::min<std::size_t>(w.size(), KeyLimits::MaxWordLength);
      PadKeyLow(def, low, n);
      PadKeyHigh(def, high, n);
    }
    ++FStats.RangesCollected;
    if (!FCursor.CollectKeyRange(KeyLimits::TextSlot, range.Low.data(), range.High.data(), *found)) return false;
    found->SetBitCount(bits);
    bitmap.AndWith(*found);
  }
  // Without a word to look for every candidate passes, as when each record is
  // tested on its own.
  return true;
}

}  // namespace tarn
