#pragma once
// A record of the cache held by one user. The guard pins the record in its
// constructor and gives the pin back (TDataFile::ReleaseRecord) in its
// destructor or at Release(). An empty guard means "no record" (for
// GetRecord: the table changed and the caller must restart).

#include <utility>

#include "engine/table/record.h"

namespace tarn {

class TDataFile;

class TRecordPin {
 public:
  TRecordPin() = default;
  TRecordPin(TDataFile& dataFile, TRecord& record) : FDataFile(&dataFile), FRecord(&record) { record.Pin(); }
  ~TRecordPin() { Release(); }
  TRecordPin(const TRecordPin&) = delete;
  TRecordPin& operator=(const TRecordPin&) = delete;
  TRecordPin(TRecordPin&& other) noexcept
      : FDataFile(std::exchange(other.FDataFile, nullptr)), FRecord(std::exchange(other.FRecord, nullptr)) {}
  TRecordPin& operator=(TRecordPin&& other) noexcept {
    if (this != &other) {
      Release();
      FDataFile = std::exchange(other.FDataFile, nullptr);
      FRecord = std::exchange(other.FRecord, nullptr);
    }
    return *this;
  }

  // Gives the pin back; idempotent.
  void Release() noexcept;

  explicit operator bool() const { return FRecord != nullptr; }
  TRecord* Get() const { return FRecord; }
  TRecord* operator->() const { return FRecord; }
  TRecord& operator*() const { return *FRecord; }

 private:
  TDataFile* FDataFile = nullptr;
  TRecord* FRecord = nullptr;
};

}  // namespace tarn
