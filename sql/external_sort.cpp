#include "sql/external_sort.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/base/error_context.h"

namespace tarn {

namespace {

std::atomic<std::uint64_t> RunCounter{0};

// One run file: written once, then read back from its start; removed when
// the object goes.
class TRunFile {
 public:
  explicit TRunFile(const std::string& directory) {
    std::string dir =
        directory.empty() ? std::filesystem::temp_directory_path().string() : directory;
    if (dir.back() != '/' && dir.back() != '\\') dir += '/';
    FPath =
        dir + "SqlRun" + std::to_string(::getpid()) + "_" + std::to_string(RunCounter++) + ".TMP";
    FFile = std::fopen(FPath.c_str(), "w+b");
    if (FFile == nullptr)
      RaiseEngineError(TARN_SQLPARSE, {.Message = "Cannot create sort run file " + FPath});
  }
  ~TRunFile() {
    if (FFile != nullptr) std::fclose(FFile);
    std::error_code ignored;
    std::filesystem::remove(FPath, ignored);
  }
  TRunFile(const TRunFile&) = delete;
  TRunFile& operator=(const TRunFile&) = delete;

  void Write(const TSqlRow& row) {
    FBuffer.clear();
    PutU32(static_cast<std::uint32_t>(row.size()));
    for (const TSqlCell& c : row) {
      std::uint8_t bcd[TBcd::StoredSize];
      c.Bcd.Store(bcd);
      std::uint64_t bits = 0;
      std::memcpy(&bits, &c.Float, sizeof bits);
      const std::uint8_t parts = static_cast<std::uint8_t>(
          (c.Int != 0 ? PartInt : 0) | (bits != 0 ? PartFloat : 0) |
          (std::memcmp(bcd, EmptyBcd().data(), TBcd::StoredSize) != 0 ? PartBcd : 0) |
          (!c.Text.empty() ? PartText : 0));
      FBuffer.push_back(c.Type);
      FBuffer.push_back(c.Null ? 1 : 0);
      FBuffer.push_back(parts);
      if (parts & PartInt) PutU64(static_cast<std::uint64_t>(c.Int));
      if (parts & PartFloat) PutU64(bits);
      if (parts & PartBcd) FBuffer.insert(FBuffer.end(), bcd, bcd + TBcd::StoredSize);
      if (parts & PartText) {
        PutU32(static_cast<std::uint32_t>(c.Text.size()));
        FBuffer.insert(FBuffer.end(), c.Text.begin(), c.Text.end());
      }
    }
    if (std::fwrite(FBuffer.data(), 1, FBuffer.size(), FFile) != FBuffer.size())
      RaiseEngineError(TARN_SQLPARSE, {.Message = "Cannot write sort run file " + FPath});
  }
  void Rewind() { std::rewind(FFile); }
  // False at the end of the run.
  bool Read(TSqlRow& row) {
    std::uint8_t head[4];
    if (std::fread(head, 1, 4, FFile) != 4) return false;
    row.resize(LoadU32(head));
    for (TSqlCell& c : row) {
      std::uint8_t fixed[3];
      ReadExactly(fixed, sizeof fixed);
      c.Type = fixed[0];
      c.Null = fixed[1] != 0;
      const std::uint8_t parts = fixed[2];
      std::uint8_t value[8];
      c.Int = 0;
      if (parts & PartInt) {
        ReadExactly(value, 8);
        c.Int = static_cast<std::int64_t>(LoadU64(value));
      }
      std::uint64_t bits = 0;
      if (parts & PartFloat) {
        ReadExactly(value, 8);
        bits = LoadU64(value);
      }
      std::memcpy(&c.Float, &bits, sizeof bits);
      if (parts & PartBcd) {
        std::uint8_t bcd[TBcd::StoredSize];
        ReadExactly(bcd, TBcd::StoredSize);
        c.Bcd = TBcd::Load(std::span<const std::uint8_t>(bcd, TBcd::StoredSize));
      } else {
        c.Bcd = TBcd{};
      }
      c.Text.clear();
      if (parts & PartText) {
        std::uint8_t size[4];
        ReadExactly(size, 4);
        c.Text.resize(LoadU32(size));
        ReadExactly(reinterpret_cast<std::uint8_t*>(c.Text.data()), c.Text.size());
      }
    }
    return true;
  }

 private:
  // Which values of a cell follow its type and null flag (the others are
  // zero or empty).
  static constexpr std::uint8_t PartInt = 1;
  static constexpr std::uint8_t PartFloat = 2;
  static constexpr std::uint8_t PartBcd = 4;
  static constexpr std::uint8_t PartText = 8;
  static const std::array<std::uint8_t, TBcd::StoredSize>& EmptyBcd() {
    static const std::array<std::uint8_t, TBcd::StoredSize> empty = [] {
      std::array<std::uint8_t, TBcd::StoredSize> bytes{};
      TBcd{}.Store(bytes);
      return bytes;
    }();
    return empty;
  }
  static std::uint32_t LoadU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
  }
  static std::uint64_t LoadU64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(LoadU32(p)) | static_cast<std::uint64_t>(LoadU32(p + 4))
                                                        << 32;
  }
  void PutU32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) FBuffer.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void PutU64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) FBuffer.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void ReadExactly(std::uint8_t* into, std::size_t n) {
    if (std::fread(into, 1, n, FFile) != n)
      RaiseEngineError(TARN_SQLPARSE, {.Message = "Sort run file " + FPath + " is truncated"});
  }

  std::string FPath;
  std::FILE* FFile = nullptr;
  std::vector<std::uint8_t> FBuffer;
};

}  // namespace

std::size_t SortRows(std::vector<TSqlRow>& rows, const TRowLess& less, const TSortSpill& spill) {
  if (spill.RunLimit == 0 || rows.size() <= spill.RunLimit) {
    std::stable_sort(rows.begin(), rows.end(), less);
    return 0;
  }
  std::vector<std::unique_ptr<TRunFile>> runs;
  {
    std::vector<TSqlRow> chunk;
    for (std::size_t start = 0; start < rows.size(); start += spill.RunLimit) {
      const std::size_t end = std::min(rows.size(), start + spill.RunLimit);
      chunk.assign(std::make_move_iterator(rows.begin() + static_cast<std::ptrdiff_t>(start)),
                   std::make_move_iterator(rows.begin() + static_cast<std::ptrdiff_t>(end)));
      std::stable_sort(chunk.begin(), chunk.end(), less);
      runs.push_back(std::make_unique<TRunFile>(spill.Directory));
      for (const TSqlRow& row : chunk) runs.back()->Write(row);
    }
  }
  const std::size_t total = rows.size();
  rows.clear();
  rows.reserve(total);
  std::vector<TSqlRow> heads(runs.size());
  std::vector<bool> live(runs.size());
  for (std::size_t r = 0; r < runs.size(); ++r) {
    runs[r]->Rewind();
    live[r] = runs[r]->Read(heads[r]);
  }
  for (;;) {
    std::size_t best = runs.size();
    for (std::size_t r = 0; r < runs.size(); ++r)
      if (live[r] && (best == runs.size() || less(heads[r], heads[best]))) best = r;
    if (best == runs.size()) break;
    rows.push_back(std::move(heads[best]));
    heads[best] = TSqlRow();
    live[best] = runs[best]->Read(heads[best]);
  }
  return runs.size();
}

}  // namespace tarn
