#pragma once
// Puts a cursor's tree operations on another index slot for one scope (the
// internal "Sys Deleted" index while the live records are collected or
// rebuilt) and back however the scope is left. The cursor's active index,
// range and position are untouched. Internal to engine/cursor.

#include "engine/cursor/data_cursor.h"

namespace tarn {

class TIndexSwitch {
 public:
  TIndexSwitch(TDataCursor& cursor, int slot) : FCursor(cursor), FPrevious(cursor.FActiveSlot) {
    cursor.FActiveSlot = slot;
  }
  ~TIndexSwitch() { FCursor.FActiveSlot = FPrevious; }
  TIndexSwitch(const TIndexSwitch&) = delete;
  TIndexSwitch& operator=(const TIndexSwitch&) = delete;

 private:
  TDataCursor& FCursor;
  int FPrevious;
};

}  // namespace tarn
