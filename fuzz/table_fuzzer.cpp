// Damaged table files: the input replaces one file of a small valid table
// (table_seed.h) and the table is opened and read in full.
//
// Input: byte 0 selects the file (0 data, 1 index, 2 blob; taken modulo 3),
// the rest is that file's content; the other two files are the seed table's.
// The open verifies the headers; then every record is read through the data
// file with its fields and blobs, every index (primary, secondary, "Sys
// Deleted", "Sys Text") is checked whole and searched by position, and the
// full-text parameters are read. Every input must end normally or with an
// ETarnEngineError.

#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/blob/blob_buffer.h"
#include "engine/index/btree.h"
#include "engine/index/index_page.h"
#include "engine/index/text_params_chain.h"
#include "engine/index/tree_context.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/session/data_table.h"
#include "engine/session/table_cursor.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"
#include "table_seed.h"

namespace {

namespace fs = std::filesystem;
using namespace tarn;

constexpr const char* Extensions[] = {".DAT", ".IDX", ".BLB"};

struct TSeedFiles {
  fs::path WorkDir;
  std::array<std::vector<char>, 3> Pristine;
};

TSeedFiles* Seed = nullptr;
// TABLE_FUZZER_VERBOSE set: the error each input ends with is printed.
bool Verbose = false;

void RemoveWorkDir() {
  if (Seed != nullptr) {
    std::error_code ignored;
    fs::remove_all(Seed->WorkDir.parent_path(), ignored);
  }
}

// Files in memory when there is a tmpfs: every input rewrites the table.
fs::path ScratchRoot() {
  std::error_code ignored;
  return fs::is_directory("/dev/shm", ignored) ? fs::path("/dev/shm") : fs::temp_directory_path();
}

std::vector<char> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const fs::path& path, const char* bytes, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes, static_cast<std::streamsize>(size));
  if (!out) std::abort();
}

class TFuzzCursor : public TTableCursor {
 public:
  bool IsInternalCursor() const override { return false; }
  bool CountsAsSharer() const override { return true; }
  bool RequestPassword() override { return false; }
};

void ReadRecords(TDataTable& table) {
  TDataFile& data = table.DataFile();
  const std::span<const TFieldDesc> defs = data.FieldDefs();
  const std::int32_t count = data.GetPhysicalRecordCount();
  for (std::int32_t r = 1; r <= count; ++r) {
    TRecordPin pin = data.GetRecord(nullptr, r);
    if (!pin || pin->IsDeleted()) continue;
    const std::span<const std::uint8_t> image = pin->Data();
    for (const TFieldDesc& def : defs) {
      const TFieldRead read = GetFieldValue(image, def);
      if (def.FieldType() != FieldType::Blob || read.Blank || !table.HasBlobFields()) continue;
      const auto first = static_cast<std::int32_t>(GetLE32(read.Bytes, 0));
      TBlobBuffer blob(table.BlobFile(), nullptr, def.FieldNo(), first, GetBlobStamp(image, def),
                       r);
      blob.LoadBlob();
    }
  }
}

void WalkIndexes(TDataTable& table) {
  TIndexFile& index = table.IndexFile();
  TBTree tree(index);
  TFixedTreeContext ctx;
  std::vector<int> slots;
  for (int slot = index.NoPrimaryIndex() ? 1 : 0; slot <= index.IndexCount(); ++slot)
    slots.push_back(slot);
  slots.push_back(SysDeletedSlot);
  slots.push_back(SysTextSlot);
  for (const int slot : slots) {
    ctx.SetSlot(slot);
    std::int64_t visited = 0;
    tree.Check(ctx, [&](const std::uint8_t*, std::int32_t) { ++visited; });
    if (slot == SysTextSlot || index.Descriptor(slot).NoCounts) continue;
    const std::int64_t keys = tree.KeyCount(ctx);
    for (const std::int64_t n : {std::int64_t{1}, keys / 2, keys, keys + 1}) tree.FindSeqNo(ctx, n);
  }
  ctx.SetSlot(SysTextSlot);
  TTextIndexParams params;
  (void)TTextParamsChain(index).Read(ctx, params);
}

void OpenAndRead() {
  TDataSession session;
  TDataDirectory& directory = session.OpenDirectory("Fuzz", Seed->WorkDir.string());
  TFuzzCursor cursor;
  TDataTable& table = directory.OpenTableForCursor(fuzzing::SeedTableName, {}, cursor);
  try {
    TTableReadBracket read(table);
    ReadRecords(table);
    WalkIndexes(table);
  } catch (...) {
    directory.ReleaseTableForCursor(table, cursor, true);
    throw;
  }
  directory.ReleaseTableForCursor(table, cursor, true);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const fs::path base = ScratchRoot() / ("table_fuzzer_" + std::to_string(::getpid()));
  fs::remove_all(base);
  fs::create_directories(base / "seed");
  fs::create_directories(base / "work");
  Seed = new TSeedFiles{base / "work", {}};
  Verbose = std::getenv("TABLE_FUZZER_VERBOSE") != nullptr;
  std::atexit(RemoveWorkDir);
  fuzzing::MakeSeedTable((base / "seed").string());
  for (int i = 0; i < 3; ++i)
    Seed->Pristine[i] =
        ReadFile(base / "seed" / (std::string(fuzzing::SeedTableName) + Extensions[i]));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const int selected = data[0] % 3;
  for (int i = 0; i < 3; ++i) {
    const fs::path file = Seed->WorkDir / (std::string(fuzzing::SeedTableName) + Extensions[i]);
    if (i == selected)
      WriteFile(file, reinterpret_cast<const char*>(data + 1), size - 1);
    else
      WriteFile(file, Seed->Pristine[i].data(), Seed->Pristine[i].size());
  }
  try {
    OpenAndRead();
  } catch (const ETarnEngineError& e) {
    if (Verbose) std::fprintf(stderr, "table_fuzzer: %s\n", e.what());
  }
  return 0;
}
