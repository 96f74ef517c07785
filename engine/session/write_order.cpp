#include "engine/session/write_order.h"

#include <utility>

namespace tarn::WriteOrderTesting {

namespace {

std::function<void(TWriteStep)>& StepHook() {
  static std::function<void(TWriteStep)> hook;
  return hook;
}

bool& Unordered() {
  static bool on = false;
  return on;
}

}  // namespace

void SetStepHook(std::function<void(TWriteStep)> hook) { StepHook() = std::move(hook); }

void ReportStep(TWriteStep step) {
  if (const auto& hook = StepHook()) hook(step);
}

void SetUnorderedWrites(bool on) { Unordered() = on; }

bool UnorderedWrites() { return Unordered(); }

}  // namespace tarn::WriteOrderTesting
