#include "expr/filter_preparer.h"

#include <algorithm>

#include "engine/table/field_types.h"
#include "expr/exp_cast.h"
#include "expr/exp_token_stack.h"
#include "expr/expression_evaluator.h"

namespace tarn {

namespace {

bool IsComparison(TExpOp op) {
  return op == TExpOp::Equal || op == TExpOp::NotEqual || op == TExpOp::Less || op == TExpOp::LessEqual ||
         op == TExpOp::Greater || op == TExpOp::GreaterEqual;
}

TExpOp Mirror(TExpOp op) {
  switch (op) {
    case TExpOp::Less: return TExpOp::Greater;
    case TExpOp::LessEqual: return TExpOp::GreaterEqual;
    case TExpOp::Greater: return TExpOp::Less;
    case TExpOp::GreaterEqual: return TExpOp::LessEqual;
    default: return op;
  }
}

bool RefersToColumn(const TExpToken& node) {
  if (node.IsColumn()) return true;
  if (node.Left && RefersToColumn(*node.Left)) return true;
  if (node.Right && RefersToColumn(*node.Right)) return true;
  return std::any_of(node.List.begin(), node.List.end(), [](const TExpTokenPtr& n) { return RefersToColumn(*n); });
}

class TPreparer {
 public:
  TPreparer(const TFilterOptions& options, TExpRecordSource& source) : FOptions(options), FSource(source) {}

  void Prepare(TExpTokenPtr& node) {
    if (node->Left) Prepare(node->Left);
    if (node->Right) Prepare(node->Right);
    for (TExpTokenPtr& item : node->List) Prepare(item);
    if (node->Kind == TExpTokenKind::Binary && IsComparison(node->Op)) {
      if (!node->Left->IsColumn() && node->Right->IsColumn()) {
        std::swap(node->Left, node->Right);
        node->Op = Mirror(node->Op);
      }
      Fold(node->Left, *node->Right);
      Fold(node->Right, *node->Left);
      MakePartial(*node);
    } else if (node->Kind == TExpTokenKind::Binary && (node->Op == TExpOp::Like || node->Op == TExpOp::NotLike)) {
      Fold(node->Left, *node->Right);
      Fold(node->Right, *node->Left);
      LikeToPartial(*node);
    } else if (node->Kind == TExpTokenKind::List) {
      for (TExpTokenPtr& item : node->List) Fold(item, *node->Left);
    }
  }

 private:
  // Replaces a column-free operand by its value, converted to other's type
  // when that keeps the value.
  void Fold(TExpTokenPtr& operand, const TExpToken& other) {
    if (RefersToColumn(*operand)) return;
    if (!operand->IsConstant()) {
      TExpEvaluator evaluator(*operand, FSource);
      const TExpValue& value = evaluator.Evaluate();
      TExpTokenPtr constant = NewExpToken();
      constant->Kind = TExpTokenKind::Constant;
      constant->Text = operand->Text;
      constant->DataType = value.Null && value.Type == 0 ? 0 : operand->DataType;
      constant->SubType = operand->SubType;
      constant->Size = operand->Size;
      constant->Scale = operand->Scale;
      constant->Value.CopyFrom(value);
      operand = std::move(constant);
    }
    TExpToken& c = *operand;
    if (c.DataType == FieldType::Unknown || c.DataType == FieldType::String || c.Value.Null) return;
    if (other.DataType == FieldType::Unknown || other.DataType == c.DataType || other.DataType == FieldType::String ||
        other.DataType == FieldType::Blob)
      return;
    TExpValue converted;
    CastValue(c.Value, TCastTarget{other.DataType, other.SubType, other.Size, other.Scale}, converted);
    TExpEvaluator comparer(c, FSource);
    if (converted.Null || comparer.CompareValues(c.Value, converted) != 0) return;
    c.Value.CopyFrom(converted);
    c.DataType = other.DataType;
    c.SubType = other.SubType;
    c.Size = other.Size;
    c.Scale = other.Scale;
  }

  void MakePartial(TExpToken& node) {
    if (node.Op != TExpOp::Equal && node.Op != TExpOp::NotEqual) return;
    TExpToken& c = *node.Right;
    if (!c.IsConstant() || c.DataType != FieldType::String || c.Value.Null) return;
    const bool star = !c.Value.Text.empty() && c.Value.Text.back() == '*';
    if (!star && !FOptions.CaseInsensitive) return;
    node.Op = node.Op == TExpOp::Equal ? TExpOp::PartialEqual : TExpOp::PartialNotEqual;
    node.CaseInsensitive = FOptions.CaseInsensitive;
    if (star && !FOptions.NoPartialCompare) {
      c.Value.Buffer.assign(c.Value.Text.substr(0, c.Value.Text.size() - 1));
      c.Value.Text = c.Value.Buffer;
      node.PrefixLength = static_cast<std::uint16_t>(std::min<std::size_t>(c.Value.Buffer.size(), 65535));
    }
  }

  void LikeToPartial(TExpToken& node) {
    TExpToken& c = *node.Right;
    if (!c.IsConstant() || c.DataType != FieldType::String || c.Value.Null) return;
    const std::string_view pattern = c.Value.Text;
    if (pattern.size() < 2 || pattern.back() != '%' || pattern.find('_') != std::string_view::npos ||
        pattern.find('%') != pattern.size() - 1)
      return;
    node.Op = node.Op == TExpOp::Like ? TExpOp::PartialEqual : TExpOp::PartialNotEqual;
    node.Text = node.Op == TExpOp::PartialEqual ? "=" : "<>";
    // LIKE ignores case on tables without a language.
    node.CaseInsensitive = FSource.LanguageId() == 0 || FOptions.CaseInsensitive;
    c.Value.Buffer.assign(pattern.substr(0, pattern.size() - 1));
    c.Value.Text = c.Value.Buffer;
    node.PrefixLength = static_cast<std::uint16_t>(std::min<std::size_t>(c.Value.Buffer.size(), 65535));
  }

  const TFilterOptions& FOptions;
  TExpRecordSource& FSource;
};

}  // namespace

TExpTokenPtr PrepareFilterTree(const TExpToken& bound, const TFilterOptions& options, TExpRecordSource& source) {
  TExpTokenPtr tree = CopyExpTree(bound);
  TPreparer(options, source).Prepare(tree);
  NumberExpSlots(*tree);
  return tree;
}

}  // namespace tarn
