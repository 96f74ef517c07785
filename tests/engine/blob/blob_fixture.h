#pragma once
// Shared helpers of the blob file tests: a fake owning table, a scriptable
// change check, a fixture that creates a blob file in a fresh directory, and
// raw access to the file's bytes for checks and corruption.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/blob/blob_buffer.h"
#include "engine/blob/blob_file.h"
#include "engine/blob/blob_owner.h"
#include "support/temp_dir.h"

namespace blob_test {

class TFakeOwner : public tarn::TBlobOwner {
 public:
  bool Encrypted = false;
  std::int32_t BufferSize = 32768;
  std::int32_t BufferCount = 8192;
  bool Force = false;
  bool Strict = false;
  bool Transaction = false;
  int WrittenMarks = 0;
  std::int32_t LastStamp = 0;

  bool IsEncrypted() const override { return Encrypted; }
  std::int32_t MaxBlobBufferSize() const override { return BufferSize; }
  std::int32_t MaxBlobBufferCount() const override { return BufferCount; }
  bool ForceBufferFlush() const override { return Force; }
  bool StrictChangeDetection() const override { return Strict; }
  bool InTransaction() const override { return Transaction; }
  void MarkDataWritten() override { ++WrittenMarks; }
  std::int32_t NextBlobStamp() override {
    LastStamp = LastStamp == 2147483647 ? 1 : LastStamp + 1;
    return LastStamp;
  }
  std::string_view TableName() const override { return "Blobs"; }
  std::string_view DatabaseName() const override { return "TestDb"; }
};

// Reports a change for the first Pending calls, then none.
class TFakeCursor : public tarn::TBlobChangeCheck {
 public:
  int Pending = 0;
  int Calls = 0;
  std::function<void()> OnCheck;  // runs at every check (e.g. to discard the cache)
  bool TableChanged() override {
    ++Calls;
    if (OnCheck) OnCheck();
    if (Pending > 0) {
      --Pending;
      return true;
    }
    return false;
  }
};

// The engine code of the ETarnEngineError that fn throws; 0 when it returns.
template <typename Fn>
tarn::TErrorCode CodeOf(Fn&& fn) {
  try {
    fn();
  } catch (const tarn::ETarnEngineError& e) {
    return e.ErrorCode();
  }
  return 0;
}

// Raw bytes of a file, read and patched behind the engine's back.
inline std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
}

inline void PatchBytes(const std::string& path, std::int64_t offset,
                       const std::vector<std::uint8_t>& bytes) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(offset);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void PatchLE32(const std::string& path, std::int64_t offset, std::uint32_t value) {
  std::vector<std::uint8_t> b(4);
  tarn::PutLE32(b, 0, value);
  PatchBytes(path, offset, b);
}

inline std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> v(size);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return v;
}

// A blob reference as a record keeps it: first block (0 = empty) and stamp.
struct TRef {
  std::int32_t First = 0;
  std::int32_t Stamp = 0;
};

// A blob file created in a fresh directory, with helpers to save and load
// values the way a cursor does.
class TBlobFixture : public ::testing::Test {
 protected:
  void Create(std::int32_t blockSize) {
    FBlockSize = blockSize;
    File = std::make_unique<tarn::TBlobFile>(Owner);
    File->SetFileName(Path());
    File->SetBlockSize(blockSize);
    File->CreateFile();
  }
  // Writes everything out, closes and opens the file again (not exclusively).
  void Reopen() {
    File->FlushBlocks();
    File->WriteBlobHeader(false);
    File->CloseFile();
    File = std::make_unique<tarn::TBlobFile>(Owner);
    File->SetFileName(Path());
    File->SetBlockSize(FBlockSize);
    File->OpenFile();
  }
  // Writes the dirty blocks and the header without closing.
  void Flush() {
    File->FlushBlocks();
    File->WriteBlobHeader(false);
  }
  std::string Path() const { return Dir.File("BLOBS.BLB"); }
  std::int64_t BlockOffset(std::int32_t n) const {
    return (std::int64_t{n} - 1) * FBlockSize + 512;
  }

  using TRef = blob_test::TRef;
  // Saves value over the blob ref (0 = new) with a fresh stamp.
  TRef Save(const std::vector<std::uint8_t>& value, TRef ref = TRef{}) {
    tarn::TBlobBuffer buffer(*File, &Cursor, 1, ref.First, ref.Stamp, 1);
    buffer.SetBlobSize(0);
    buffer.Write(0, value);
    if (value.empty()) buffer.SetBlobSize(0);
    buffer.SetBlobStamp(Owner.NextBlobStamp());
    buffer.SaveBlob();
    EXPECT_TRUE(File->CheckInvariants());
    return {buffer.FirstBlock(), buffer.BlobStamp()};
  }
  std::vector<std::uint8_t> Load(TRef ref) {
    tarn::TBlobBuffer buffer(*File, &Cursor, 1, ref.First, ref.Stamp, 1);
    buffer.LoadBlob();
    return std::vector<std::uint8_t>(buffer.Data().begin(), buffer.Data().end());
  }
  void Delete(TRef ref) {
    tarn::TBlobBuffer buffer(*File, &Cursor, 1, ref.First, ref.Stamp, 1);
    buffer.SetBlobStamp(Owner.NextBlobStamp());
    buffer.DeleteBlob();
  }
  // The block numbers of a chain, following NextBlock through the cache.
  std::vector<std::int32_t> Chain(std::int32_t first) {
    std::vector<std::int32_t> out;
    for (std::int32_t n = first; n != 0 && out.size() < 100000;) {
      out.push_back(n);
      tarn::TBlockPin pin = File->GetBlock(nullptr, n, 1, false);
      n = pin->NextBlock();
    }
    return out;
  }
  // The free list, head first.
  std::vector<std::int32_t> FreeList() { return Chain(File->Header().FreeBlockList); }

  testing_support::TTempDir Dir;
  TFakeOwner Owner;
  TFakeCursor Cursor;
  std::unique_ptr<tarn::TBlobFile> File;
  std::int32_t FBlockSize = 512;
};

}  // namespace blob_test
