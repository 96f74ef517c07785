#pragma once
// Parameter values handed to a statement as one block: a 768-byte
// descriptor per parameter and one data buffer.
//
// Descriptor i (0-based) has the layout of a data file's field definition
// (field_desc.h); the parts used:
//   FieldNo            i + 1
//   FieldName          the parameter's name, at most 30 characters
//   FieldType          the engine type code (field_types.h)
//   FieldSubType       a blob's subtype (memo, graphic, ...)
//   FieldSize          strings: characters + 1; bytes: their count; blobs 8
//   FieldDecimals,
//   FieldPhysDecimals  BCD: the scale of the value (4)
//   FieldPhysSize      bytes of the value in the data buffer
//   FieldOffset        u16, where the parameter's slot starts in the buffer
// Slot at FieldOffset: a has-value byte (0 = null, 1 = a value), then
//   non-blob types: the value bytes a record holds for the type
//     (record_layout.h); a string is zero-terminated within FieldSize bytes
//   blob (type 3): u32 length, then a native pointer to the bytes.
// A null parameter's value bytes are zero.
//
// The block owns copies of the blob values it points at, so the pointers stay
// valid while the block lives.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "expr/exp_value.h"

namespace tarn {

class TParameterBlock {
 public:
  // Bytes a blob parameter's value takes in its slot.
  static constexpr std::size_t BlobValueSize = 4 + sizeof(const void*);
  // Declared size of a blob parameter (its length and a pointer).
  static constexpr std::uint8_t BlobDeclaredSize = 8;

  // Adds a parameter of a non-blob type: value holds the value bytes of the
  // type (a string: its characters, cut to size - 1), nothing for null.
  // Raises 9985 (TARN_OUTOFRANGE) when the buffer would pass 65,535 bytes.
  void AddValue(std::string_view name, std::uint8_t type, std::uint8_t size, std::uint8_t decimals,
                std::optional<std::span<const std::uint8_t>> value);
  // Adds a blob parameter (type 3) of the subtype; the bytes are copied.
  void AddBlob(std::string_view name, std::uint8_t subType,
               std::optional<std::span<const std::uint8_t>> value);

  std::size_t Count() const noexcept { return FCount; }
  std::span<const std::uint8_t> Descriptors() const noexcept { return FDescriptors; }
  std::span<const std::uint8_t> Data() const noexcept { return FData; }

 private:
  // Appends a descriptor and a zeroed slot of physSize value bytes; returns
  // the slot's offset.
  std::size_t AddSlot(std::string_view name, std::uint8_t type, std::uint8_t subType,
                      std::uint8_t size, std::uint8_t decimals, std::size_t physSize);

  std::size_t FCount = 0;
  std::vector<std::uint8_t> FDescriptors;
  std::vector<std::uint8_t> FData;
  std::deque<std::vector<std::uint8_t>> FBlobs;
};

// The values of count parameters of a block, by position. A memo blob
// (subtype memo or formatted memo) reads as a string of any length, another
// blob as type 3 with its bytes; a type without value bytes reads as NULL.
// Raises 11949 (TARN_SQLPARSE) for a descriptor whose slot lies outside the
// buffer or whose BCD value is malformed.
std::vector<TExpValue> ReadParameterBlock(std::size_t count,
                                          std::span<const std::uint8_t> descriptors,
                                          std::span<const std::uint8_t> data);

}  // namespace tarn
