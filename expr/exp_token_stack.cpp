#include "expr/exp_token_stack.h"

namespace tarn {

void TExpTokenRelease::operator()(TExpToken* token) const noexcept { TExpTokenStack::Instance().Give(token); }

TExpTokenStack& TExpTokenStack::Instance() {
  static TExpTokenStack stack;
  return stack;
}

TExpTokenStack::~TExpTokenStack() {
  for (TExpToken* token : FSpares) delete token;
}

TExpTokenPtr TExpTokenStack::Take() {
  {
    std::lock_guard lock(FMutex);
    if (!FSpares.empty()) {
      TExpToken* token = FSpares.back();
      FSpares.pop_back();
      return TExpTokenPtr(token);
    }
  }
  return TExpTokenPtr(new TExpToken);
}

void TExpTokenStack::Give(TExpToken* token) noexcept {
  if (token == nullptr) return;
  token->Clear();  // operands go back first, outside the lock
  {
    std::lock_guard lock(FMutex);
    if (FSpares.size() < Capacity) {
      FSpares.push_back(token);
      return;
    }
  }
  delete token;
}

std::size_t TExpTokenStack::SpareCount() const {
  std::lock_guard lock(FMutex);
  return FSpares.size();
}

}  // namespace tarn

namespace tarn {

TExpTokenPtr CopyExpTree(const TExpToken& node) {
  TExpTokenPtr copy = NewExpToken();
  copy->Kind = node.Kind;
  copy->Op = node.Op;
  copy->Text = node.Text;
  copy->DataType = node.DataType;
  copy->SubType = node.SubType;
  copy->Size = node.Size;
  copy->Scale = node.Scale;
  copy->Value.CopyFrom(node.Value);
  copy->Quoted = node.Quoted;
  copy->ColumnName = node.ColumnName;
  copy->Correlation = node.Correlation;
  copy->FieldNo = node.FieldNo;
  copy->Option = node.Option;
  copy->Reference = node.Reference;
  copy->PrefixLength = node.PrefixLength;
  copy->CaseInsensitive = node.CaseInsensitive;
  copy->Slot = node.Slot;
  copy->Height = node.Height;
  if (node.Left) copy->Left = CopyExpTree(*node.Left);
  if (node.Right) copy->Right = CopyExpTree(*node.Right);
  for (const TExpTokenPtr& item : node.List) copy->List.push_back(CopyExpTree(*item));
  return copy;
}

namespace {
void Number(TExpToken& node, std::uint32_t& next) {
  node.Slot = next++;
  if (node.Left) Number(*node.Left, next);
  if (node.Right) Number(*node.Right, next);
  for (TExpTokenPtr& item : node.List) Number(*item, next);
}
}  // namespace

std::uint32_t NumberExpSlots(TExpToken& root) {
  std::uint32_t next = 0;
  Number(root, next);
  return next;
}

}  // namespace tarn
