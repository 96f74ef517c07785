#pragma once
// A stand-in for the shared table: settings and flags the tests set freely,
// and a cursor stand-in that counts change checks.

#include <string>

#include "engine/table/data_file_owner.h"
#include "engine/table/record_cache_client.h"

namespace tarn::testing {

class TFakeDataFileOwner : public TDataFileOwner {
 public:
  std::string_view TableName() const override { return Name; }
  bool ForceBufferFlush() const override { return ForceFlush; }
  bool StrictChangeDetection() const override { return Strict; }
  std::int32_t MaxDataBufferSize() const override { return BufferSize; }
  std::int32_t MaxDataBufferCount() const override { return BufferCount; }
  bool DataWritten() const override { return Written; }
  void SetDataWritten() override {
    Written = true;
    ++WrittenCalls;
  }
  bool HoldsTransactionLock() const override { return TransactionLock; }
  bool HasNoPrimaryIndex() const override { return NoPrimaryIndex; }
  bool LocaleInstalled(std::int16_t languageId, std::int16_t) const override { return languageId == KnownLanguage; }
  const TTextCaseMapper& CaseMapper() const override { return AsciiCaseMapper; }

  std::string Name = "people";
  bool ForceFlush = false;
  bool Strict = false;
  std::int32_t BufferSize = 16384;
  std::int32_t BufferCount = 8192;
  bool Written = false;
  int WrittenCalls = 0;
  bool TransactionLock = false;
  bool NoPrimaryIndex = false;
  std::int16_t KnownLanguage = 0x0409;
};

class TFakeCursor : public TRecordCacheClient {
 public:
  bool ChangeCheck() override {
    ++Checks;
    return ReportChange;
  }
  std::int32_t ReadAheadCount(std::int32_t, bool, std::int32_t limit) override {
    return Run < limit ? Run : limit;
  }
  int Checks = 0;
  bool ReportChange = false;
  std::int32_t Run = 1;
};

}  // namespace tarn::testing
