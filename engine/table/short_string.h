#pragma once
// The str[n] form of the table files: a length byte followed by n bytes of
// 8-bit characters, bytes past the length zero. Reads never go past the n
// bytes, whatever the length byte says.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tarn {

// The stored length byte (may exceed maxLen in a damaged file).
inline std::uint8_t ShortStringLength(std::span<const std::uint8_t> buf, std::size_t at) { return buf[at]; }

// The text, cut to maxLen characters when the length byte claims more.
// Requires: at + 1 + maxLen <= buf.size().
inline std::string GetShortString(std::span<const std::uint8_t> buf, std::size_t at, std::size_t maxLen) {
  std::size_t len = buf[at];
  if (len > maxLen) len = maxLen;
  return std::string(reinterpret_cast<const char*>(buf.data() + at + 1), len);
}

// Stores text cut to maxLen characters, zeroing the rest of the n bytes.
// Requires: at + 1 + maxLen <= buf.size().
inline void PutShortString(std::span<std::uint8_t> buf, std::size_t at, std::size_t maxLen, std::string_view text) {
  const std::size_t len = text.size() < maxLen ? text.size() : maxLen;
  buf[at] = static_cast<std::uint8_t>(len);
  for (std::size_t i = 0; i < maxLen; ++i)
    buf[at + 1 + i] = i < len ? static_cast<std::uint8_t>(text[i]) : std::uint8_t{0};
}

}  // namespace tarn
