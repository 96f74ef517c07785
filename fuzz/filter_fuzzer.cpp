// Filter expressions: the input is a filter text, parsed and bound against a
// fixed table (the expression tests' standard table) and, when it binds,
// evaluated on two records: one with every field set, one with every field
// null. Every input must end normally or with an ETarnEngineError.

#include <cstdint>
#include <string_view>

#include "engine/base/date_time.h"
#include "engine/base/engine_error.h"
#include "expr/exp_test_table.h"
#include "expr/expression_evaluator.h"
#include "expr/expression_parser.h"

namespace {

using exptest::TMemoryTable;
using namespace tarn;

TMemoryTable MakeTable() {
  TMemoryTable table = TMemoryTable::Standard();
  table.AddRecord();
  table.SetText("Name", "Smith & Sons");
  table.SetInt("Amount", 42);
  table.SetInt("Price", -7);
  table.SetInt("Flag", 1);
  table.SetInt("Born", *EncodeDate(1999, 12, 31));
  table.SetInt("At", *EncodeTime(23, 59, 58, 999));
  table.SetFloat("Stamp", EncodeTimestamp(*EncodeDate(2024, 2, 29), 3600000));
  table.SetFloat("Ratio", 0.125);
  table.SetBcd("Cost", "1234.56");
  table.SetInt("Small", -32768);
  table.SetInt("Big", INT64_MIN);
  table.SetInt("Count16", 65535);
  table.SetBytes("Raw", std::string_view("\x00\xff\x10\x80", 4));
  table.SetBlob("Notes", "the quick brown fox jumps over the lazy dog");
  table.SetBlob("Pic", std::string_view("\x89PNG\x00", 5));
  table.SetText("Smith", "smith");
  table.SetText("Last Name", "O'Brien");
  table.AddRecord();  // every field null
  return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TMemoryTable table = MakeTable();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    TExpressionParser parser(TARN_INVALIDFILTER, "T");
    TExpTokenPtr root = parser.ParseFilter(text, table);
    TExpEvaluator evaluator(*root, table);
    for (std::size_t r = 0; r < table.RecordCount(); ++r) {
      table.Select(r);
      (void)evaluator.Passes();
    }
  } catch (const ETarnEngineError&) {
  }
  return 0;
}
