// Filter builds on a 1,000,000-record table: an indexed equality matching 10
// records, an indexed range matching 10%, an unindexed condition and a
// TEXTSEARCH of one word. Reports milliseconds per build and the records and
// keys each build read.
//
// Table "Bench": Amount (32-bit integer, i / 10, index "ByAmount"), Code
// (32-bit integer, i % 100, no index), Title (string(30), "item w<i % 1000>",
// in the "Sys Text" index).

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/base/byte_order.h"
#include "engine/base/names.h"
#include "engine/index/btree.h"
#include "engine/index/keys.h"
#include "engine/index/text_words.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/session/data_table.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"
#include "engine/table/record_pin.h"
#include "expr/filter_list.h"
#include "expr/index_range.h"

namespace {

using namespace tarn;

constexpr int RecordTotal = 1000000;

class TBenchTable : public TFilterCursor, public TExpRecordSource {
 public:
  TBenchTable() {
    char dir[] = "/tmp/filter_bench_XXXXXX";
    if (mkdtemp(dir) == nullptr) std::abort();
    FPath = dir;
    TTableDefinition def;
    def.Fields.push_back(MakeFieldDesc(1, "Amount", FieldType::Int32));
    def.Fields.push_back(MakeFieldDesc(2, "Code", FieldType::Int32));
    def.Fields.push_back(MakeFieldDesc(3, "Title", FieldType::String, 0, 30));
    AssignFieldOffsets(def.Fields);
    TIndexDescriptor byAmount;
    byAmount.IndexName = "ByAmount";
    byAmount.FieldCount = 1;
    byAmount.FieldNumbers[0] = 1;
    byAmount.KeySize = static_cast<std::int16_t>(KeyFieldSize(FieldType::Int32, 0) + 1 + KeyLimits::AutoIncSize);
    def.Secondary.push_back(byAmount);
    TIndexDescriptor text;
    text.FieldCount = 1;
    text.FieldNumbers[0] = 3;
    def.TextIndex = text;
    FTable = &FSession.OpenDirectory("Bench", FPath).CreateTable("Bench", false, false, def);
    Fill();
  }
  ~TBenchTable() override {
    FCurrent.Release();
    std::filesystem::remove_all(FPath);
  }

  std::int64_t RecordReads = 0;
  std::int64_t KeysRead = 0;

  // TFilterCursor
  std::string_view FilterTableName() const override { return "Bench"; }
  TExpRecordSource& FilterRecordSource() override { return *this; }
  std::uint32_t HighestRecordNo() override {
    return static_cast<std::uint32_t>(FTable->DataFile().GetNextRecordNumber() - 1);
  }
  std::uint32_t FilterRecordSize() const override { return FTable->DataFile().GetRecordSize(); }
  TFilterRead ReadFilterRecord(std::uint32_t recordNo) override {
    FCurrent.Release();
    FCurrent = FTable->DataFile().GetRecord(nullptr, static_cast<std::int32_t>(recordNo), true, false, true);
    ++RecordReads;
    return FCurrent->IsDeleted() ? TFilterRead::Deleted : TFilterRead::Active;
  }
  int FindFilterIndex(std::uint16_t fieldNo, bool caseInsensitive, bool matchCase) override {
    TIndexFile& index = FTable->IndexFile();
    for (int slot = 0; slot <= index.IndexCount(); ++slot) {
      const TIndexDescriptor& d = index.Descriptor(slot);
      if (d.FieldCount != 0 && d.FieldNumbers[0] == fieldNo && (!matchCase || d.CaseInsensitive == caseInsensitive))
        return slot;
    }
    return -1;
  }
  const TKeyDef& FilterKeyDef(int slot) override { return FTable->IndexFile().KeyDef(slot); }
  bool IndexHasCounts(int slot) override { return !FTable->IndexFile().Descriptor(slot).NoCounts; }
  std::int64_t CountKeyRange(int slot, const std::uint8_t* low, const std::uint8_t* high) override {
    FContext.SetSlot(slot);
    return CountIndexRange(FTable->IndexFile(), FContext, low, high);
  }
  bool CollectKeyRange(int slot, const std::uint8_t* low, const std::uint8_t* high, TRecordsBitmap& bitmap) override {
    FContext.SetSlot(slot);
    const bool ok = CollectIndexRange(FTable->IndexFile(), FContext, low, high, bitmap);
    KeysRead += bitmap.CountSet();
    return ok;
  }
  std::int64_t FilterRecordCount() override { return FTable->IndexFile().RecordCount(); }
  bool TextIndexCovers(std::uint16_t fieldNo) override { return fieldNo == 3; }

  // TExpRecordSource
  std::optional<TExpColumn> FindColumn(std::string_view name) const override {
    for (const TFieldDesc& d : FTable->DataFile().FieldDefs())
      if (SameName(d.FieldName(), name))
        return TExpColumn{d.FieldNo(), d.FieldType(), d.FieldSubType(), d.FieldSize(), d.FieldDecimals()};
    return std::nullopt;
  }
  std::uint16_t LanguageId() const override { return 0; }
  std::uint16_t SortId() const override { return 0; }
  TFieldRead ReadField(std::uint16_t fieldNo) override {
    return GetFieldValue(FCurrent->Data(), FTable->DataFile().FieldDefs()[fieldNo - 1u]);
  }
  bool ReadBlob(std::uint16_t, std::string& content) override {
    content.clear();
    return false;
  }
  std::optional<std::int32_t> LastAutoInc(std::string_view) override { return std::nullopt; }

 private:

  void Fill() {
    TDataFile& data = FTable->DataFile();
    TIndexFile& index = FTable->IndexFile();
    TBTree tree(index);
    const std::span<const TFieldDesc> defs = data.FieldDefs();
    const TKeyDef& amountDef = index.KeyDef(1);
    const TTextKeyBuilder words(TTextIndexParams::Defaults(), 0, 0);
    std::vector<TTextKey> textKeys;
    for (int i = 0; i < RecordTotal; ++i) {
      const std::int32_t recordNo = data.GetNextRecordNumber();
      TRecordPin pin = data.GetRecord(nullptr, recordNo);
      const std::span<std::uint8_t> record = pin->MutableData();
      PutLEI32(record, RecordLayout::RecLink, recordNo);
      const std::int32_t autoInc = data.NextAutoInc();
      PutLEI32(record, RecordLayout::RecAutoInc, autoInc);
      std::array<std::uint8_t, 4> b{};
      PutLEI32(b, 0, i / 10);
      SetFieldValue(record, defs[0], std::span<const std::uint8_t>(b));
      PutLEI32(b, 0, i % 100);
      SetFieldValue(record, defs[1], std::span<const std::uint8_t>(b));
      const std::string title = "item w" + std::to_string(i % 1000);
      SetFieldValue(record, defs[2], std::span(reinterpret_cast<const std::uint8_t*>(title.data()), title.size()));
      pin->MarkModified();
      std::array<std::uint8_t, KeyLimits::MaxKeySize> key{};
      BuildKey(amountDef, record, std::span(key.data(), amountDef.KeySize));
      FContext.SetSlot(1);
      tree.AddKey(FContext, key.data(), recordNo);
      words.BuildKeys(3, title.data(), title.size(), autoInc, textKeys);
      FContext.SetSlot(KeyLimits::TextSlot);
      for (const TTextKey& k : textKeys) tree.AddKey(FContext, k.data(), recordNo);
      index.IncRecordCount();
      if (i % 65536 == 65535) {
        pin.Release();
        FTable->WriteBuffers(false, true);
      }
    }
    FTable->WriteBuffers(false, true);
  }

  std::string FPath;
  TDataSession FSession;
  TDataTable* FTable = nullptr;
  TFixedTreeContext FContext;
  TRecordPin FCurrent;
};

TBenchTable& Table() {
  static TBenchTable table;
  return table;
}

void RunFilter(benchmark::State& state, const char* text) {
  TBenchTable& table = Table();
  std::int64_t records = 0;
  std::int64_t keys = 0;
  std::uint32_t passed = 0;
  for (auto _ : state) {
    table.RecordReads = 0;
    table.KeysRead = 0;
    TFilterList filters(table);
    TFilter& filter = filters.AddFilter(text, {});
    passed = filter.Bitmap().CountSet();
    records = table.RecordReads;
    keys = table.KeysRead;
  }
  state.counters["records_read"] = static_cast<double>(records);
  state.counters["keys_read"] = static_cast<double>(keys);
  state.counters["passed"] = static_cast<double>(passed);
}

void BM_IndexedEquality(benchmark::State& state) { RunFilter(state, "Amount = 12345"); }
void BM_IndexedRangeTenPercent(benchmark::State& state) { RunFilter(state, "Amount < 10000"); }
void BM_Unindexed(benchmark::State& state) { RunFilter(state, "Code = 7"); }
void BM_TextSearchOneWord(benchmark::State& state) { RunFilter(state, "TEXTSEARCH('w123' IN Title)"); }

BENCHMARK(BM_IndexedEquality)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IndexedRangeTenPercent)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Unindexed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextSearchOneWord)->Unit(benchmark::kMillisecond);

}  // namespace
