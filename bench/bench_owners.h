#pragma once
// Pieces the benchmarks share: owners of bare index and blob files (no
// encryption, no language, caches of BufferSize bytes) and a file layer that
// counts the bytes written.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/blob/blob_owner.h"
#include "engine/files/posix_file_api.h"
#include "engine/index/index_owner.h"
#include "engine/table/field_types.h"

namespace bench {

// An index file with one 8-byte bytes field "K".

class TBenchIndexOwner : public tarn::TIndexOwner {
 public:
  std::int32_t BufferSize = 16384;
  bool Transaction = false;
  std::string Dir;
  bool IsEncrypted() const override { return false; }
  std::int32_t MaxIndexBufferSize() const override { return BufferSize; }
  bool ForceBufferFlush() const override { return false; }
  bool StrictChangeDetection() const override { return false; }
  std::string_view PrivateDir() const override { return Dir; }
  bool InTransaction() const override { return Transaction; }
  void MarkDataWritten() override {}
  std::uint16_t LanguageId() const override { return 0; }
  std::uint16_t SortId() const override { return 0; }
  int TableFieldCount() const override { return 1; }
  tarn::TIndexFieldInfo TableField(int) const override {
    return {tarn::TKeyField{tarn::FieldType::Bytes, 8, 0, true}, 0, "K"};
  }
  std::string_view TableName() const override { return "BENCH"; }
  std::string_view DatabaseName() const override { return Dir; }
};

// A blob file whose stamps count up from 1.
class TBenchBlobOwner : public tarn::TBlobOwner {
 public:
  std::int32_t BufferSize = 32768;
  bool IsEncrypted() const override { return false; }
  std::int32_t MaxBlobBufferSize() const override { return BufferSize; }
  std::int32_t MaxBlobBufferCount() const override { return 8192; }
  bool ForceBufferFlush() const override { return false; }
  bool StrictChangeDetection() const override { return false; }
  bool InTransaction() const override { return false; }
  void MarkDataWritten() override {}
  std::int32_t NextBlobStamp() override { return ++FStamp; }
  std::string_view TableName() const override { return "Bench"; }
  std::string_view DatabaseName() const override { return "Bench"; }

 private:
  std::int32_t FStamp = 0;
};

// The POSIX file layer, counting the bytes of every write.
class TCountingFileApi : public tarn::TPosixFileApi {
 public:
  ssize_t PWrite(int fd, const void* buffer, std::size_t count, off_t offset) override {
    const ssize_t n = tarn::TPosixFileApi::PWrite(fd, buffer, count, offset);
    if (n > 0) FBytes += static_cast<std::uint64_t>(n);
    return n;
  }
  std::uint64_t Bytes() const { return FBytes; }
  void Reset() { FBytes = 0; }

 private:
  std::atomic<std::uint64_t> FBytes{0};
};

}  // namespace bench
