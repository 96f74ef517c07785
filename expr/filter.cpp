#include "expr/filter.h"

#include "engine/table/records_bitmap_stack.h"

namespace tarn {

TFilter::~TFilter() {
  FEvaluator.reset();  // reads the tree: goes first
  TRecordsBitmapStack::Instance().Give(std::move(FBitmap));
}

bool TFilter::Evaluate(std::uint32_t recordNo, TExpRecordSource& source) {
  if (FCallback) return FCallback(recordNo, source);
  return FEvaluator != nullptr && FEvaluator->Passes();
}

}  // namespace tarn
