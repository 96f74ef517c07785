#pragma once
// An in-memory dataset: the dataset contract over rows held in memory, in
// insertion order. It serves as the test double of the table component for
// the game and the data-aware controls, and offers knobs that make chosen
// operations fail the way an engine table can.
//
// Record layout inside a record buffer: the fields in definition order, each
// as one has-value byte (1 = not null) followed by the field's native value
// (field.h; blobs take no bytes, they are held beside the rows). The bookmark
// is the 4-byte row number (0-based). All integers little-endian.
//
// Edit locks: Edit counts a lock on the row, Post and Cancel give it back;
// LockedRows() shows what is held.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "dbcomp/data_set.h"

namespace dbcomp {

class TMemoryDataSet : public TDataSet {
 public:
  // One value per field, as text (blobs: the bytes as 8-bit text); nullopt is null.
  using TRowValues = std::vector<std::optional<std::string>>;

  explicit TMemoryDataSet(TFieldDefs defs = {});
  ~TMemoryDataSet() override;

  // Definitions while inactive; field numbers are assigned 1, 2, ...
  void SetDefinitions(TFieldDefs defs);
  // Adds a row (allowed open or closed; an open dataset does not move).
  void AppendRow(const TRowValues& values);
  std::size_t RowCount() const noexcept { return FRows.size(); }
  // A stored value as text (nullopt for null), bypassing the dataset.
  std::optional<std::string> RowValue(std::size_t row, std::string_view fieldName) const;

  // Knobs.
  void SetReadOnly(bool value) noexcept { FReadOnly = value; }
  void SetNoHandle(bool value) noexcept { FNoHandle = value; }
  // The next Post / Edit / read raises the engine error with this code.
  void FailNextPost(std::uint16_t code) noexcept { FFailPost = code; }
  void FailNextEdit(std::uint16_t code) noexcept { FFailEdit = code; }
  void FailNextRead(std::uint16_t code) noexcept { FFailRead = code; }
  // Active index fields (for the set-key write rule); empty = none.
  void SetIndexFields(std::vector<std::string> names) { FIndexFields = std::move(names); }
  const std::set<std::size_t>& LockedRows() const noexcept { return FLocks; }
  int PostCount() const noexcept { return FPostCount; }
  // Enters SetKey state on the key buffer (as a key search would).
  void SetKey();

 protected:
  bool InternalOpen() override;
  void InternalClose() noexcept override;
  void InternalFirst() override;
  void InternalLast() override;
  TGetResult GetRecord(std::span<std::uint8_t> buffer, TGetMode mode, bool doCheck) override;
  void InternalSetToRecord(std::span<const std::uint8_t> buffer) override;
  void InternalEdit(std::span<std::uint8_t> buffer) override;
  void InternalPost(std::span<const std::uint8_t> buffer) override;
  void InternalCancel(bool wasEditing) override;
  bool ReadRecordField(std::span<const std::uint8_t> buffer, const TField& field,
                       std::span<std::uint8_t> dest) const override;
  void WriteRecordField(std::span<std::uint8_t> buffer, const TField& field,
                        std::span<const std::uint8_t> src) override;
  std::vector<std::uint8_t> ReadBlob(std::span<const std::uint8_t> buffer,
                                     const TField& field) const override;
  void WriteBlob(std::span<std::uint8_t> buffer, const TField& field,
                 std::span<const std::uint8_t> value, bool isNull) override;
  bool InternalCanModify() const override { return !FReadOnly; }
  bool IndexHasKeyFields() const override { return !FIndexFields.empty(); }
  bool IsIndexField(const TField& field) const override;
  std::span<std::uint8_t> KeyBuffer() override { return FKeyBuffer; }

 private:
  struct TRow {
    std::vector<std::uint8_t> Record;  // the record part of a buffer
    std::map<int, std::vector<std::uint8_t>> Blobs;  // by field number; absent = null
  };
  int FieldOffset(int fieldNo) const;
  std::size_t RowOf(std::span<const std::uint8_t> buffer) const;
  void FillBuffer(std::span<std::uint8_t> buffer, std::size_t row) const;

  std::vector<TRow> FRows;
  std::vector<int> FOffsets;  // per field number - 1
  int FRecordBytes = 0;
  std::ptrdiff_t FCursor = -1;  // row index; -1 before the first, RowCount() after the last
  std::map<int, std::optional<std::vector<std::uint8_t>>> FEditBlobs;  // blob buffers of the edit
  std::set<std::size_t> FLocks;
  std::vector<std::string> FIndexFields;
  std::vector<std::uint8_t> FKeyBuffer;
  bool FReadOnly = false;
  bool FNoHandle = false;
  std::uint16_t FFailPost = 0;
  std::uint16_t FFailEdit = 0;
  std::uint16_t FFailRead = 0;
  int FPostCount = 0;
};

}  // namespace dbcomp
