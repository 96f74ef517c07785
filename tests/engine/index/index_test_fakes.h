#pragma once
// Test doubles for the index file: a table owner and a cursor context.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/engine_error.h"
#include "engine/index/btree.h"
#include "engine/index/index_file.h"
#include "engine/index/index_owner.h"
#include "engine/index/tree_context.h"
#include "engine/table/field_types.h"
#include "support/temp_dir.h"

namespace tarn::testing {

class TFakeIndexOwner : public TIndexOwner {
 public:
  bool Encrypted = false;
  std::int32_t BufferSize = 16384;
  bool ForceFlush = false;
  bool Strict = false;
  bool Transaction = false;
  std::string Dir;
  int WrittenMarks = 0;
  std::uint16_t Language = 0;
  // Field 1: a 20-character string; field 2: a 32-bit integer; field 3: a memo.
  std::vector<TIndexFieldInfo> Fields{
      {TKeyField{FieldType::String, 20, 0, true}, 0, "Name"},
      {TKeyField{FieldType::Int32, 4, 22, true}, 0, "Number"},
      {TKeyField{FieldType::Blob, 10, 27, true}, 22, "Notes"},
  };

  bool IsEncrypted() const override { return Encrypted; }
  std::int32_t MaxIndexBufferSize() const override { return BufferSize; }
  bool ForceBufferFlush() const override { return ForceFlush; }
  bool StrictChangeDetection() const override { return Strict; }
  std::string_view PrivateDir() const override { return Dir; }
  bool InTransaction() const override { return Transaction; }
  void MarkDataWritten() override { ++WrittenMarks; }
  std::uint16_t LanguageId() const override { return Language; }
  std::uint16_t SortId() const override { return 0; }
  int TableFieldCount() const override { return static_cast<int>(Fields.size()); }
  TIndexFieldInfo TableField(int n) const override { return Fields[static_cast<std::size_t>(n - 1)]; }
  std::string_view TableName() const override { return "T"; }
  std::string_view DatabaseName() const override { return Dir; }
};

class TTestContext : public TTreeContext {
 public:
  explicit TTestContext(int slot) : Slot(slot) {}
  int Slot;
  TDescentPath PathData;
  int Checks = 0;
  // Called by TableChanged; returns whether the table changed.
  std::function<bool()> OnCheck;

  int IndexSlot() const override { return Slot; }
  TDescentPath& Path() override { return PathData; }
  bool TableChanged() override {
    ++Checks;
    return OnCheck ? OnCheck() : false;
  }
};

// An index definition on field 1 (string) with the given key size and flags.
inline TIndexDescriptor MakeIndexDef(const std::string& name, int keySize, bool unique,
                                     TKeyCompression compression) {
  TIndexDescriptor d;
  d.IndexName = name;
  d.KeySize = static_cast<std::int16_t>(keySize);
  d.Unique = unique;
  d.Compression = compression;
  d.FieldCount = 1;
  d.FieldNumbers[0] = 1;
  return d;
}

// A freshly created index file in a temporary directory.
struct TIndexFixture {
  testing_support::TTempDir Dir;
  TFakeIndexOwner Owner;
  std::unique_ptr<TIndexFile> File;

  explicit TIndexFixture(bool encrypted = false) {
    Owner.Encrypted = encrypted;
    Owner.Dir = Dir.Path() + "/";
    File = std::make_unique<TIndexFile>(Owner);
    File->SetFileName(Dir.File("T.IDX"));
    File->CreateFile();
  }
  std::string FileName() const { return Dir.File("T.IDX"); }
  // Writes pages and header, closes, and opens the file again in a new object.
  void Reopen() {
    File->FlushPages(false);
    File->WriteIndexHeader(false);
    File->CloseFile();
    File = std::make_unique<TIndexFile>(Owner);
    File->SetFileName(FileName());
    File->OpenFile();
  }
};

// The engine code an operation raises; 0 when it returns normally.
template <class TFn>
TErrorCode CodeOf(TFn&& fn) {
  try {
    fn();
  } catch (const ETarnEngineError& e) {
    return e.ErrorCode();
  }
  return 0;
}

// An 8-byte unique key holding n big-endian.
inline std::vector<std::uint8_t> IntKey(std::uint64_t n, int size = 8) {
  std::vector<std::uint8_t> key(static_cast<std::size_t>(size), 0);
  for (int i = 0; i < 8 && i < size; ++i) key[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(n >> (8 * (7 - i)));
  return key;
}

// True when no cached page of the slot is pinned.
inline bool NothingPinned(const TIndexFile& file) {
  for (int s = 0; s < IndexSlotCount; ++s) {
    for (const auto& p : file.Cache(s).Pages()) {
      if (p->Pins() != 0) return false;
    }
  }
  return true;
}

}  // namespace tarn::testing
