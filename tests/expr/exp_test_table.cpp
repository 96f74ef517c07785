#include "expr/exp_test_table.h"

#include <array>
#include <stdexcept>

#include "engine/base/byte_order.h"
#include "engine/base/names.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"

namespace exptest {

using namespace tarn;

TMemoryTable::TMemoryTable(std::vector<TFieldDesc> defs, std::uint16_t languageId, std::uint16_t sortId)
    : FDefs(std::move(defs)), FLanguageId(languageId), FSortId(sortId) {
  FRecordSize = AssignFieldOffsets(FDefs);
}

TMemoryTable TMemoryTable::Standard(std::uint16_t languageId, std::uint16_t sortId) {
  std::vector<TFieldDesc> defs;
  std::uint16_t n = 0;
  const auto add = [&](std::string_view name, std::uint8_t type, std::uint8_t sub = 0, std::uint8_t size = 0,
                       std::uint8_t decimals = 0) { defs.push_back(MakeFieldDesc(++n, name, type, sub, size, decimals)); };
  add("Name", FieldType::String, 0, 20);
  add("Amount", FieldType::Int32);
  add("Price", FieldType::Int32);
  add("Flag", FieldType::Boolean);
  add("Born", FieldType::Date);
  add("At", FieldType::Time);
  add("Stamp", FieldType::Timestamp);
  add("Ratio", FieldType::Float);
  add("Cost", FieldType::Bcd, 0, 0, 2);
  add("Small", FieldType::Int16);
  add("Big", FieldType::Int64);
  add("Count16", FieldType::UInt16);
  add("Raw", FieldType::Bytes, 0, 4);
  add("Notes", FieldType::Blob, FieldSubType::Memo);
  add("Pic", FieldType::Blob, FieldSubType::Graphic);
  add("Smith", FieldType::String, 0, 10);
  add("Last Name", FieldType::String, 0, 20);
  return TMemoryTable(std::move(defs), languageId, sortId);
}

std::size_t TMemoryTable::AddRecord() {
  FRecords.emplace_back(FRecordSize, 0);
  FCurrent = FRecords.size() - 1;
  PutLEI32(FRecords.back(), RecordLayout::RecLink, static_cast<std::int32_t>(FRecords.size()));
  PutLEI32(FRecords.back(), RecordLayout::RecAutoInc, static_cast<std::int32_t>(FRecords.size()));
  return FCurrent;
}

const TFieldDesc& TMemoryTable::Field(std::string_view name) const {
  for (const TFieldDesc& d : FDefs)
    if (SameName(d.FieldName(), name)) return d;
  throw std::invalid_argument("no such field");
}

void TMemoryTable::Store(const TFieldDesc& desc, std::optional<std::span<const std::uint8_t>> bytes) {
  SetFieldValue(FRecords.at(FCurrent), desc, bytes);
}

void TMemoryTable::SetText(std::string_view field, std::string_view text) {
  Store(Field(field), std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void TMemoryTable::SetInt(std::string_view field, std::int64_t value) {
  const TFieldDesc& d = Field(field);
  std::array<std::uint8_t, 8> b{};
  PutLEI64(b, 0, value);
  Store(d, std::span<const std::uint8_t>(b.data(), d.FieldPhysSize()));
}

void TMemoryTable::SetFloat(std::string_view field, double value) {
  std::array<std::uint8_t, 8> b{};
  PutLEDouble(b, 0, value);
  Store(Field(field), std::span<const std::uint8_t>(b));
}

void TMemoryTable::SetBcd(std::string_view field, std::string_view text) {
  const TFieldDesc& d = Field(field);
  std::array<std::uint8_t, TBcd::StoredSize> b{};
  BcdFromText(text, d.FieldDecimals()).value().Store(b);
  Store(d, std::span<const std::uint8_t>(b));
}

void TMemoryTable::SetBytes(std::string_view field, std::string_view bytes) {
  Store(Field(field), std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

void TMemoryTable::SetBlob(std::string_view field, std::string_view content) {
  const TFieldDesc& d = Field(field);
  FBlobs[{FCurrent, d.FieldNo()}] = std::string(content);
  std::array<std::uint8_t, 4> b{};
  PutLEI32(b, 0, content.empty() ? 0 : 1);
  Store(d, std::span<const std::uint8_t>(b));
}

void TMemoryTable::SetNull(std::string_view field) {
  const TFieldDesc& d = Field(field);
  FBlobs.erase({FCurrent, d.FieldNo()});
  Store(d, std::nullopt);
}

std::optional<TExpColumn> TMemoryTable::FindColumn(std::string_view name) const {
  for (const TFieldDesc& d : FDefs)
    if (SameName(d.FieldName(), name))
      return TExpColumn{d.FieldNo(), d.FieldType(), d.FieldSubType(), d.FieldSize(), d.FieldDecimals()};
  return std::nullopt;
}

TFieldRead TMemoryTable::ReadField(std::uint16_t fieldNo) {
  return GetFieldValue(FRecords.at(FCurrent), FDefs.at(fieldNo - 1u));
}

bool TMemoryTable::ReadBlob(std::uint16_t fieldNo, std::string& content) {
  const auto it = FBlobs.find({FCurrent, fieldNo});
  if (it == FBlobs.end()) {
    content.clear();
    return false;
  }
  content = it->second;
  return true;
}

std::optional<std::int32_t> TMemoryTable::LastAutoInc(std::string_view tableName) {
  if (!SameName(tableName, "T")) return std::nullopt;
  return static_cast<std::int32_t>(FRecords.size());
}

std::string PrintTree(const TExpToken& node) {
  switch (node.Kind) {
    case TExpTokenKind::Constant:
      if (node.DataType == FieldType::Unknown) return "NULL";
      if (node.DataType == FieldType::Boolean) return node.Value.Int != 0 ? "TRUE" : "FALSE";
      if (SameText(node.Text.substr(0, 8), "CURRENT_")) return node.Text;
      if (node.DataType == FieldType::String || node.Quoted || node.DataType == FieldType::Date ||
          node.DataType == FieldType::Time || node.DataType == FieldType::Timestamp) {
        std::string text = node.DataType == FieldType::String ? std::string(node.Value.Text) : node.Text;
        std::string quoted = "'";
        for (char c : text) {
          quoted += c;
          if (c == '\'') quoted += c;
        }
        return quoted + "'";
      }
      return node.Text;
    case TExpTokenKind::Column:
      return node.Correlation.empty() ? node.ColumnName : node.Correlation + "." + node.ColumnName;
    case TExpTokenKind::Unary:
      return std::string("(") + ExpOpName(node.Op) + " " + PrintTree(*node.Left) + ")";
    case TExpTokenKind::Binary:
      return "(" + PrintTree(*node.Left) + " " + ExpOpName(node.Op) + " " + PrintTree(*node.Right) + ")";
    case TExpTokenKind::List: {
      std::string s = "(" + PrintTree(*node.Left) + " " + ExpOpName(node.Op) + " ";
      if (node.Op == TExpOp::Between || node.Op == TExpOp::NotBetween)
        return s + PrintTree(*node.List[0]) + " AND " + PrintTree(*node.List[1]) + ")";
      s += "(";
      for (std::size_t i = 0; i < node.List.size(); ++i) s += (i ? ", " : "") + PrintTree(*node.List[i]);
      return s + "))";
    }
    case TExpTokenKind::Function: {
      std::string s = std::string(ExpOpName(node.Op)) + "(";
      for (std::size_t i = 0; i < node.List.size(); ++i) s += (i ? ", " : "") + PrintTree(*node.List[i]);
      if (node.Op == TExpOp::Cast) s += " AS " + std::to_string(node.DataType);
      return s + ")";
    }
    case TExpTokenKind::Aggregate:
      return std::string(ExpAggregateName(static_cast<TExpAggregate>(node.Option))) + "(" +
             PrintTree(*node.List[0]) + ")";
    case TExpTokenKind::Parameter:
      return "?" + std::to_string(node.Reference);
    case TExpTokenKind::SubSelect:
      return "(SELECT #" + std::to_string(node.Reference) + ")";
    case TExpTokenKind::None:
      break;
  }
  return "?";
}

}  // namespace exptest
