// tarn dump: the records of a table, in the order of an index, optionally
// filtered, as CSV (a header row of field names, then one row per record) or
// as JSON lines (the table's definition on the first line, table_schema.h,
// then one object per record, field name to value).

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <fstream>
#include <iostream>

#include "tools/tarn/commands.h"
#include "tools/tarn/csv_text.h"
#include "tools/tarn/record_io.h"
#include "tools/tarn/table_schema.h"
#include "tools/tarn/tool_context.h"
#include "tools/tarn/value_text.h"

namespace tarn_tool {

using namespace tarn;
using json = nlohmann::ordered_json;

void TDumpCommand::Register(CLI::App& app, TCommonOptions& common) {
  app.add_option("DIR", Dir, "Directory of the table")->required();
  app.add_option("TABLE", Table, "Table to dump")->required();
  app.add_option("--format", Format, "Output format")->check(CLI::IsMember({"csv", "json"}))->capture_default_str();
  app.add_option("--where", Where, "Filter expression the records must pass");
  app.add_option("--index", Index, "Index whose order the records follow (default: the primary index)");
  app.add_option("-o,--output", Output, "Output file (default: standard output)");
  app.add_option("--password", common.Password, "Password of an encrypted table");
}

int TDumpCommand::Run(const TCommonOptions& common) const {
  TToolContext context(Dir, common.Password);
  auto cursor = context.OpenTable(Table, true);
  TDataCursor& c = *cursor;
  if (Index) c.SwitchToIndex(*Index);
  if (!Where.empty()) c.ActivateFilter(c.AddFilter(Where));

  std::ofstream file;
  if (!Output.empty()) {
    file.open(Output, std::ios::binary | std::ios::trunc);
    if (!file) throw TUsageError{"cannot write " + Output};
  }
  std::ostream& out = Output.empty() ? std::cout : file;
  const std::vector<int> fields = DumpedFields(c);
  const bool csv = Format == "csv";
  if (csv) {
    std::vector<TCsvField> header;
    for (int n : fields) header.emplace_back(c.Field(n).FieldName());
    WriteCsvRecord(out, header);
  } else {
    out << SchemaOf(c).dump(-1, ' ', false, json::error_handler_t::replace) << "\n";
  }

  const std::int64_t total = c.GetRecordCount();
  TProgressBar bar("dump " + Table);
  std::vector<std::uint8_t> buffer(c.RecordSize());
  std::vector<TCsvField> row;
  std::int64_t done = 0;
  c.SetToBegin();
  while (c.GetNextRecord(buffer) == TARN_NONE) {
    if (csv) {
      row.clear();
      for (int n : fields) row.push_back(ReadFieldText(c, n, buffer));
      WriteCsvRecord(out, row);
    } else {
      json record = json::object();
      for (int n : fields) {
        const std::string name = BytesToUtf8(c.Field(n).FieldName());
        const std::optional<std::string> text = ReadFieldText(c, n, buffer);
        if (!text) {
          record[name] = nullptr;
          continue;
        }
        switch (ValueKindOf(c.Field(n))) {
          case TValueKind::Boolean: record[name] = *text == "true"; break;
          case TValueKind::Number: record[name] = json::parse(*text, nullptr, false); break;
          case TValueKind::Text: record[name] = BytesToUtf8(*text); break;
        }
        // nan and inf are no JSON numbers: they stay texts.
        if (record[name].is_discarded()) record[name] = *text;
      }
      out << record.dump() << "\n";
    }
    if (total > 0) bar.Update(static_cast<double>(++done) / static_cast<double>(total));
  }
  bar.Done();
  out.flush();
  if (!out) {
    PrintError("cannot write the output");
    return ExitFailure;
  }
  return ExitOk;
}

}  // namespace tarn_tool
