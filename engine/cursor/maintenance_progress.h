#pragma once
// Progress of a maintenance operation in whole percent: a value is reported
// when it is at least the last reported one plus the session's
// ProgressSteps (the first at ProgressSteps percent), and Finish reports 100
// unless it already was. Internal to engine/cursor.

#include <algorithm>
#include <cstdint>
#include <functional>

namespace tarn {

class TMaintenanceProgress {
 public:
  TMaintenanceProgress(const std::function<void(int)>& handler, int steps)
      : FHandler(handler), FSteps(std::max(steps, 1)) {}

  void Step(std::int64_t done, std::int64_t total) {
    if (!FHandler || total <= 0) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent >= FLast + FSteps) Report(percent);
  }
  void Finish() {
    if (FHandler && FLast != 100) Report(100);
  }
  int Last() const { return FLast; }

 private:
  void Report(int percent) {
    FLast = percent;
    FHandler(percent);
  }

  const std::function<void(int)>& FHandler;
  int FSteps;
  int FLast = 0;
};

}  // namespace tarn
