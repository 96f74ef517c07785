// Expression speed: parsing and binding a ten-term filter, and evaluating a
// filter on every record of a table held in memory.

#include <benchmark/benchmark.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/base/names.h"
#include "engine/table/field_desc.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"
#include "expr/exp_record_source.h"
#include "expr/expression_evaluator.h"
#include "expr/expression_parser.h"

namespace {

using namespace tarn;

// Records of (Name string(20), Amount int32, Price int32, Born date, Ratio
// float) in the record layout, one of them current.
class TBenchTable : public TExpRecordSource {
 public:
  explicit TBenchTable(std::size_t count) {
    FDefs = {MakeFieldDesc(1, "Name", FieldType::String, 0, 20), MakeFieldDesc(2, "Amount", FieldType::Int32),
             MakeFieldDesc(3, "Price", FieldType::Int32), MakeFieldDesc(4, "Born", FieldType::Date),
             MakeFieldDesc(5, "Ratio", FieldType::Float)};
    FRecordSize = AssignFieldOffsets(FDefs);
    static const char* const Names[] = {"Smith", "Jones", "Sanders", "Miller", "Stone", "Brown", "Taylor", "Scott"};
    FData.resize(count * FRecordSize);
    for (std::size_t i = 0; i < count; ++i) {
      const std::span<std::uint8_t> record(FData.data() + i * FRecordSize, FRecordSize);
      const std::string_view name = Names[i % 8];
      SetFieldValue(record, FDefs[0], std::span(reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
      std::array<std::uint8_t, 4> amount{};
      PutLEI32(amount, 0, static_cast<std::int32_t>(i % 10));
      if (i % 17 != 0) SetFieldValue(record, FDefs[1], std::span<const std::uint8_t>(amount));
    }
  }
  std::size_t Count() const { return FData.size() / FRecordSize; }
  void Select(std::size_t i) { FCurrent = i; }

  std::optional<TExpColumn> FindColumn(std::string_view name) const override {
    for (const TFieldDesc& d : FDefs)
      if (SameName(d.FieldName(), name))
        return TExpColumn{d.FieldNo(), d.FieldType(), d.FieldSubType(), d.FieldSize(), d.FieldDecimals()};
    return std::nullopt;
  }
  std::uint16_t LanguageId() const override { return 0; }
  std::uint16_t SortId() const override { return 0; }
  TFieldRead ReadField(std::uint16_t fieldNo) override {
    return GetFieldValue(std::span<const std::uint8_t>(FData.data() + FCurrent * FRecordSize, FRecordSize),
                         FDefs[fieldNo - 1u]);
  }
  bool ReadBlob(std::uint16_t, std::string& content) override {
    content.clear();
    return false;
  }
  std::optional<std::int32_t> LastAutoInc(std::string_view) override { return std::nullopt; }

 private:
  std::vector<TFieldDesc> FDefs;
  std::uint32_t FRecordSize = 0;
  std::vector<std::uint8_t> FData;
  std::size_t FCurrent = 0;
};

void BM_ParseAndBindTenTerms(benchmark::State& state) {
  TBenchTable table(1);
  TExpressionParser parser(TARN_INVALIDFILTER, "Bench");
  const std::string filter =
      "Amount > 5 AND Price <= 100 OR (Name LIKE 'S%' AND UPPER(Name) <> 'X') AND Born >= '2001-01-01' "
      "AND Ratio * 2 < 7.5 AND Amount IN (1, 2, 3) AND CAST(Price AS FLOAT) > 1.5 AND Name IS NOT NULL "
      "OR Amount BETWEEN 1 AND 9";
  for (auto _ : state) {
    TExpTokenPtr root = parser.ParseFilter(filter, table);
    benchmark::DoNotOptimize(root.get());
  }
  state.counters["parses/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ParseAndBindTenTerms);

void BM_EvaluateMillionRecords(benchmark::State& state) {
  TBenchTable table(1000000);
  TExpressionParser parser(TARN_INVALIDFILTER, "Bench");
  TExpTokenPtr root = parser.ParseFilter("Amount > 5 AND Name LIKE 'S%'", table);
  TExpEvaluator evaluator(*root, table);
  std::size_t passed = 0;
  for (auto _ : state) {
    passed = 0;
    for (std::size_t i = 0; i < table.Count(); ++i) {
      table.Select(i);
      passed += evaluator.Passes() ? 1 : 0;
    }
    benchmark::DoNotOptimize(passed);
  }
  state.counters["passed"] = static_cast<double>(passed);
  state.counters["ns/record"] = benchmark::Counter(static_cast<double>(state.iterations() * table.Count()),
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_EvaluateMillionRecords)->Unit(benchmark::kMillisecond);

}  // namespace
