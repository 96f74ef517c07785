#pragma once
// Little-endian encoding of on-disk integers. Every multi-byte integer of the
// table files goes to and from its bytes through these helpers; nothing copies
// a struct's memory to or from disk. Callers check lengths before decoding:
// the asserts guard our own mistakes, never file contents.

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace tarn {

inline std::uint16_t GetLE16(std::span<const std::uint8_t> buf, std::size_t at) {
  assert(at + 2 <= buf.size());
  return static_cast<std::uint16_t>(buf[at] | buf[at + 1] << 8);
}

inline std::uint32_t GetLE32(std::span<const std::uint8_t> buf, std::size_t at) {
  assert(at + 4 <= buf.size());
  return std::uint32_t{buf[at]} | std::uint32_t{buf[at + 1]} << 8 | std::uint32_t{buf[at + 2]} << 16 |
         std::uint32_t{buf[at + 3]} << 24;
}

inline std::uint64_t GetLE64(std::span<const std::uint8_t> buf, std::size_t at) {
  assert(at + 8 <= buf.size());
  return std::uint64_t{GetLE32(buf, at)} | std::uint64_t{GetLE32(buf, at + 4)} << 32;
}

inline void PutLE16(std::span<std::uint8_t> buf, std::size_t at, std::uint16_t v) {
  assert(at + 2 <= buf.size());
  buf[at] = static_cast<std::uint8_t>(v);
  buf[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline void PutLE32(std::span<std::uint8_t> buf, std::size_t at, std::uint32_t v) {
  assert(at + 4 <= buf.size());
  for (int i = 0; i < 4; ++i) buf[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void PutLE64(std::span<std::uint8_t> buf, std::size_t at, std::uint64_t v) {
  assert(at + 8 <= buf.size());
  for (int i = 0; i < 8; ++i) buf[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Signed forms: two's complement of the same width.
inline std::int16_t GetLEI16(std::span<const std::uint8_t> buf, std::size_t at) {
  return static_cast<std::int16_t>(GetLE16(buf, at));
}
inline std::int32_t GetLEI32(std::span<const std::uint8_t> buf, std::size_t at) {
  return static_cast<std::int32_t>(GetLE32(buf, at));
}
inline std::int64_t GetLEI64(std::span<const std::uint8_t> buf, std::size_t at) {
  return static_cast<std::int64_t>(GetLE64(buf, at));
}
inline void PutLEI16(std::span<std::uint8_t> buf, std::size_t at, std::int16_t v) {
  PutLE16(buf, at, static_cast<std::uint16_t>(v));
}
inline void PutLEI32(std::span<std::uint8_t> buf, std::size_t at, std::int32_t v) {
  PutLE32(buf, at, static_cast<std::uint32_t>(v));
}
inline void PutLEI64(std::span<std::uint8_t> buf, std::size_t at, std::int64_t v) {
  PutLE64(buf, at, static_cast<std::uint64_t>(v));
}

// IEEE 754 double in its 8 little-endian bytes.
inline double GetLEDouble(std::span<const std::uint8_t> buf, std::size_t at) {
  std::uint64_t bits = GetLE64(buf, at);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}
inline void PutLEDouble(std::span<std::uint8_t> buf, std::size_t at, double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  PutLE64(buf, at, bits);
}

}  // namespace tarn
