#pragma once

#include <cstdint>

namespace widgets {

// Windows code page 1252 (Western European), the 8-bit character set of RTF
// text written with \ansi\ansicpg1252 and of its \'hh escapes.
// 0x00-0x7F and 0xA0-0xFF equal Unicode; 0x80-0x9F hold the typographic
// characters below. The five unassigned bytes (0x81, 0x8D, 0x8F, 0x90, 0x9D)
// map to the C1 control of the same value, so every byte round-trips.

// The Unicode character for one byte of code page 1252.
char16_t Cp1252ToUnicode(std::uint8_t byte);

// The code page 1252 byte for a Unicode character, or -1 when it has none.
int UnicodeToCp1252(char16_t ch);

}  // namespace widgets
