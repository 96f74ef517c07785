#pragma once
// Conversion of one stored field value to another field definition, as a
// restructure copies records into the new structure.
//
// Conversions by old type (rows) to new type (columns); any other pair fails,
// except that a value always converts to its own type:
//   string        date, boolean, 16/32/64-bit and 16-bit unsigned integer,
//                 float, BCD (each parsed from the text; a parse error
//                 fails), bytes, time, timestamp
//   date, time    string, bytes, timestamp
//   boolean       string, 16/32/64-bit and 16-bit unsigned integer, BCD, bytes
//   16-bit int,   string, boolean, the other integers, float, BCD, bytes
//   16-bit unsigned
//   32-bit int,   string, the other integers, float, BCD, bytes
//   64-bit int
//   float         string, every integer, BCD, bytes
//   BCD           string, every integer, float, bytes
//   bytes,        every type but blob: the bytes themselves are copied
//   varbytes
//   timestamp     string, date, bytes, time
// "bytes" as a target means bytes and varbytes alike. Texts follow the
// literal forms of expressions (exp_cast.h): "True"/"False", decimal
// integers, floats with up to 15 significant digits, BCD without trailing
// zeros, yyyy-mm-dd, hh:mm[:ss][.ms]. Strings and bytes are cut to the new
// size without loss. Integers are narrowed by keeping their low-order bits;
// floats go to integers truncated toward zero (a value beyond 64 bits or not
// a number fails). BCD values go through a fixed-point value scaled by
// 10,000 (four decimals); a value that does not fit the new scale fails.
// Blob fields are not converted here: the restructure copies blob contents
// itself.

#include <cstdint>
#include <span>
#include <vector>

#include "engine/table/field_desc.h"

namespace tarn {

// True when a value of type from may be converted to type to at all.
bool ConversionListed(std::uint8_t from, std::uint8_t to);

// Converts the value bytes of a non-blank field of definition from (as
// GetFieldValue reads them) into the value bytes SetFieldValue stores for
// definition to (characters for a string, without a terminating zero). False
// for a failed conversion: out then holds the zero value of the new type
// (no characters for a string).
bool ConvertFieldValue(const TFieldDesc& from, std::span<const std::uint8_t> bytes, const TFieldDesc& to,
                       std::vector<std::uint8_t>& out);

}  // namespace tarn
