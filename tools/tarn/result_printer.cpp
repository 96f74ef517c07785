#include "tools/tarn/result_printer.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <optional>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/cursor/data_cursor.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"
#include "tools/tarn/csv_text.h"
#include "tools/tarn/record_io.h"
#include "tools/tarn/value_text.h"

namespace tarn_tool {

using namespace tarn;

namespace {

// The text a result shows for a field (nothing for NULL).
std::optional<std::string> ShownText(TDataCursor& c, int n, std::span<std::uint8_t> b) {
  const TFieldDesc& f = c.Field(n);
  if (f.FieldType() != FieldType::Blob) return ReadFieldText(c, n, b);
  const TFieldRead read = c.GetField(n, b);
  if (read.Blank || GetLE32(read.Bytes, RecordLayout::BlobFirstBlock) == 0) return std::nullopt;
  std::uint32_t size = 0;
  std::vector<std::uint8_t> copy(b.begin(), b.end());
  c.RaiseIfError(c.OpenBlob(n, copy, TDataCursor::TBlobMode::Read, size));
  std::string text;
  if (f.FieldSubType() == FieldSubType::Memo) {
    text.resize(size);
    std::uint32_t count = 0;
    const TErrorCode code =
        c.ReadBlob(n, copy, 0, size, std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(text.data()), size), count);
    (void)c.CloseBlob(n, copy);
    c.RaiseIfError(code);
  } else {
    (void)c.CloseBlob(n, copy);
    text = "<blob " + std::to_string(size) + " bytes>";
  }
  return text;
}

std::string OneLine(std::string s) {
  std::replace(s.begin(), s.end(), '\n', ' ');
  std::replace(s.begin(), s.end(), '\r', ' ');
  return s;
}

}  // namespace

std::int64_t PrintRecords(TDataCursor& c, std::ostream& out, const std::string& mode, bool headers) {
  const std::vector<int> fields = DumpedFields(c);
  std::vector<std::uint8_t> b(c.RecordSize());
  std::vector<std::vector<std::optional<std::string>>> rows;
  c.SetToBegin();
  std::int64_t count = 0;
  const bool buffered = mode == "table" || mode == "json";
  if (mode == "csv" && headers) {
    std::vector<TCsvField> header;
    for (int n : fields) header.emplace_back(c.Field(n).FieldName());
    WriteCsvRecord(out, header);
  }
  while (c.GetNextRecord(b) == TARN_NONE) {
    ++count;
    std::vector<std::optional<std::string>> row;
    for (int n : fields) row.push_back(ShownText(c, n, b));
    if (buffered) {
      rows.push_back(std::move(row));
    } else if (mode == "csv") {
      WriteCsvRecord(out, row);
    } else {
      if (count > 1) out << "\n";
      std::size_t width = 0;
      for (int n : fields) width = std::max(width, c.Field(n).FieldName().size());
      for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string name = c.Field(fields[i]).FieldName();
        out << std::string(width - name.size(), ' ') << name << " = " << row[i].value_or("NULL") << "\n";
      }
    }
  }
  if (mode == "json") {
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    for (const auto& row : rows) {
      nlohmann::ordered_json object = nlohmann::ordered_json::object();
      for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string name = BytesToUtf8(c.Field(fields[i]).FieldName());
        if (!row[i]) {
          object[name] = nullptr;
        } else if (ValueKindOf(c.Field(fields[i])) == TValueKind::Number) {
          object[name] = nlohmann::ordered_json::parse(*row[i], nullptr, false);
          if (object[name].is_discarded()) object[name] = *row[i];
        } else if (ValueKindOf(c.Field(fields[i])) == TValueKind::Boolean) {
          object[name] = *row[i] == "true";
        } else {
          object[name] = BytesToUtf8(*row[i]);
        }
      }
      all.push_back(std::move(object));
    }
    out << all.dump(1) << "\n";
  } else if (mode == "table") {
    std::vector<std::size_t> widths;
    for (int n : fields) widths.push_back(headers ? c.Field(n).FieldName().size() : 0);
    for (const auto& row : rows) {
      for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], OneLine(row[i].value_or("NULL")).size());
    }
    const auto line = [&](const std::vector<std::string>& cells) {
      for (std::size_t i = 0; i < cells.size(); ++i) {
        out << (i > 0 ? "  " : "") << cells[i];
        if (i + 1 < cells.size()) out << std::string(widths[i] - cells[i].size(), ' ');
      }
      out << "\n";
    };
    if (headers) {
      std::vector<std::string> names;
      std::vector<std::string> rules;
      for (std::size_t i = 0; i < fields.size(); ++i) {
        names.push_back(c.Field(fields[i]).FieldName());
        rules.push_back(std::string(widths[i], '-'));
      }
      line(names);
      line(rules);
    }
    for (const auto& row : rows) {
      std::vector<std::string> cells;
      for (const auto& cell : row) cells.push_back(OneLine(cell.value_or("NULL")));
      line(cells);
    }
  }
  return count;
}

}  // namespace tarn_tool
