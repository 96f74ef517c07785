#include "sql/parameter_block.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/base/byte_order.h"
#include "engine/base/error_context.h"
#include "engine/table/field_desc.h"

namespace tarn {

namespace {

constexpr std::size_t MaxDataSize = 0xFFFF;

[[noreturn]] void BadDescriptor(std::size_t i) {
  RaiseEngineError(TARN_SQLPARSE, {.Message = "Parameter descriptor " + std::to_string(i + 1) +
                                              " does not fit its data"});
}

bool IsMemoSubType(std::uint8_t subType) {
  return subType == FieldSubType::Memo || subType == FieldSubType::FormattedMemo;
}

}  // namespace

std::size_t TParameterBlock::AddSlot(std::string_view name, std::uint8_t type, std::uint8_t subType,
                                     std::uint8_t size, std::uint8_t decimals,
                                     std::size_t physSize) {
  const std::size_t offset = FData.size();
  if (offset + 1 + physSize > MaxDataSize) RaiseEngineError(TARN_OUTOFRANGE, {.Field = name});
  TFieldDesc d;
  d.SetFieldNo(static_cast<std::uint16_t>(FCount + 1));
  d.SetFieldName(name.substr(0, FieldDescLayout::MaxNameLength));
  d.SetFieldType(type);
  d.SetFieldSubType(subType);
  d.SetFieldSize(size);
  d.SetFieldDecimals(decimals);
  d.SetFieldPhysSize(static_cast<std::uint8_t>(physSize));
  d.SetFieldPhysDecimals(decimals);
  d.SetFieldOffset(static_cast<std::uint16_t>(offset));
  const std::span<const std::uint8_t> bytes = d.Bytes();
  FDescriptors.insert(FDescriptors.end(), bytes.begin(), bytes.end());
  FData.resize(offset + 1 + physSize, 0);
  ++FCount;
  return offset;
}

void TParameterBlock::AddValue(std::string_view name, std::uint8_t type, std::uint8_t size,
                               std::uint8_t decimals,
                               std::optional<std::span<const std::uint8_t>> value) {
  const std::size_t physSize =
      type == FieldType::String ? std::size_t{size} : PhysSizeFor(type, size);
  const std::size_t offset = AddSlot(name, type, 0, size, decimals, physSize);
  if (!value) return;
  FData[offset] = 1;
  // A string keeps its terminating zero inside the slot.
  const std::size_t room = type == FieldType::String && physSize > 0 ? physSize - 1 : physSize;
  const std::size_t n = std::min(room, value->size());
  std::copy_n(value->begin(), n, FData.begin() + static_cast<std::ptrdiff_t>(offset + 1));
}

void TParameterBlock::AddBlob(std::string_view name, std::uint8_t subType,
                              std::optional<std::span<const std::uint8_t>> value) {
  const std::size_t offset =
      AddSlot(name, FieldType::Blob, subType, BlobDeclaredSize, 0, BlobValueSize);
  if (!value) return;
  FData[offset] = 1;
  const std::vector<std::uint8_t>& bytes = FBlobs.emplace_back(value->begin(), value->end());
  const std::span<std::uint8_t> slot =
      std::span<std::uint8_t>(FData).subspan(offset + 1, BlobValueSize);
  PutLE32(slot, 0, static_cast<std::uint32_t>(bytes.size()));
  const std::uint8_t* pointer = bytes.data();
  std::memcpy(slot.data() + 4, &pointer, sizeof pointer);
}

std::vector<TExpValue> ReadParameterBlock(std::size_t count,
                                          std::span<const std::uint8_t> descriptors,
                                          std::span<const std::uint8_t> data) {
  std::vector<TExpValue> values(count);
  if (descriptors.size() < count * TFieldDesc::Size)
    BadDescriptor(descriptors.size() / TFieldDesc::Size);
  for (std::size_t i = 0; i < count; ++i) {
    const TFieldDesc d =
        TFieldDesc::FromBytes(descriptors.subspan(i * TFieldDesc::Size, TFieldDesc::Size));
    const std::uint8_t type = d.FieldType();
    const std::size_t offset = d.FieldOffset();
    const std::size_t physSize =
        type == FieldType::Blob ? TParameterBlock::BlobValueSize : d.FieldPhysSize();
    if (offset + 1 + physSize > data.size()) BadDescriptor(i);
    TExpValue& out = values[i];
    if (data[offset] == 0) {
      out.SetNull(type);
      continue;
    }
    const std::span<const std::uint8_t> b = data.subspan(offset + 1, physSize);
    const auto need = [&](std::size_t n) {
      if (b.size() < n) BadDescriptor(i);
    };
    switch (type) {
      case FieldType::String: {
        const auto* chars = reinterpret_cast<const char*>(b.data());
        out.SetOwnText(type, std::string_view(chars, strnlen(chars, b.size())));
        break;
      }
      case FieldType::Blob: {
        const std::uint32_t length = GetLE32(b, 0);
        const std::uint8_t* pointer = nullptr;
        std::memcpy(&pointer, b.data() + 4, sizeof pointer);
        const std::string_view bytes(reinterpret_cast<const char*>(pointer),
                                     pointer != nullptr ? length : 0);
        // Memo text takes part in expressions as a string of any length.
        out.SetOwnText(IsMemoSubType(d.FieldSubType()) ? FieldType::String : FieldType::Blob,
                       bytes);
        break;
      }
      case FieldType::Date:
      case FieldType::Int32:
      case FieldType::Time:
        need(4);
        out.SetInt(type, GetLEI32(b, 0));
        break;
      case FieldType::UInt32:
        need(4);
        out.SetInt(type, GetLE32(b, 0));
        break;
      case FieldType::Boolean:
        need(2);
        out.SetInt(type, GetLE16(b, 0) != 0 ? 1 : 0);
        break;
      case FieldType::UInt16:
        need(2);
        out.SetInt(type, GetLE16(b, 0));
        break;
      case FieldType::Int16:
        need(2);
        out.SetInt(type, GetLEI16(b, 0));
        break;
      case FieldType::Int64:
        need(8);
        out.SetInt(type, GetLEI64(b, 0));
        break;
      case FieldType::Float:
      case FieldType::Timestamp:
        need(8);
        out.SetFloat(type, GetLEDouble(b, 0));
        break;
      case FieldType::Bcd:
        need(TBcd::StoredSize);
        out.Type = type;
        out.Null = false;
        out.Bcd = TBcd::Load(b);
        if (!out.Bcd.IsValid()) BadDescriptor(i);
        break;
      case FieldType::Bytes:
      case FieldType::VarBytes:
        out.SetOwnText(type, std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
        break;
      default:
        // Types without value bytes (ADT, arrays, references, ...) carry no value.
        out.SetNull(FieldType::Unknown);
        break;
    }
  }
  return values;
}

}  // namespace tarn
