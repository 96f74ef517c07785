#pragma once
// Test helpers for expressions: a small in-memory table that serves as the
// record source, and a printer of bound trees in a fully parenthesised form.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/table/field_desc.h"
#include "expr/exp_record_source.h"
#include "expr/exp_token.h"

namespace exptest {

// Records held in memory in the engine's record layout; one of them is the
// current record that evaluation reads.
class TMemoryTable : public tarn::TExpRecordSource {
 public:
  explicit TMemoryTable(std::vector<tarn::TFieldDesc> defs, std::uint16_t languageId = 0, std::uint16_t sortId = 0);

  // The table most tests use:
  //   Name string(20), Amount int32, Price int32, Flag boolean, Born date,
  //   At time, Stamp timestamp, Ratio float, Cost BCD(2), Small int16,
  //   Big int64, Count16 uint16, Raw bytes(4), Notes memo, Pic blob,
  //   Smith string(10), "Last Name" string(20)
  static TMemoryTable Standard(std::uint16_t languageId = 0, std::uint16_t sortId = 0);

  // Appends an all-null record and makes it current; returns its index.
  std::size_t AddRecord();
  void Select(std::size_t index) { FCurrent = index; }
  std::size_t RecordCount() const { return FRecords.size(); }

  // Field setters on the current record (by field name).
  void SetText(std::string_view field, std::string_view text);
  void SetInt(std::string_view field, std::int64_t value);  // integers, boolean, date, time
  void SetFloat(std::string_view field, double value);      // float, timestamp
  void SetBcd(std::string_view field, std::string_view text);
  void SetBytes(std::string_view field, std::string_view bytes);
  void SetBlob(std::string_view field, std::string_view content);
  void SetNull(std::string_view field);

  const tarn::TFieldDesc& Field(std::string_view name) const;

  // TExpRecordSource
  std::optional<tarn::TExpColumn> FindColumn(std::string_view name) const override;
  std::uint16_t LanguageId() const override { return FLanguageId; }
  std::uint16_t SortId() const override { return FSortId; }
  tarn::TFieldRead ReadField(std::uint16_t fieldNo) override;
  bool ReadBlob(std::uint16_t fieldNo, std::string& content) override;
  std::optional<std::int32_t> LastAutoInc(std::string_view tableName) override;

 private:
  void Store(const tarn::TFieldDesc& desc, std::optional<std::span<const std::uint8_t>> bytes);

  std::vector<tarn::TFieldDesc> FDefs;
  std::uint32_t FRecordSize = 0;
  std::uint16_t FLanguageId;
  std::uint16_t FSortId;
  std::vector<std::vector<std::uint8_t>> FRecords;
  std::map<std::pair<std::size_t, std::uint16_t>, std::string> FBlobs;
  std::size_t FCurrent = 0;
};

// The tree in a fully parenthesised form: (l op r), (op x), (x BETWEEN a AND b),
// (x IN (a, b)), NAME(args), CAST(x AS <type code>); string constants in
// single quotes, NULL, TRUE and FALSE, numbers as written.
std::string PrintTree(const tarn::TExpToken& node);

}  // namespace exptest
