#pragma once
// Checking and completing a table definition before a table is created or
// restructured, and the index-definition rules that AddIndex shares.
//
// CheckDefinition runs these checks in order and raises the first failure,
// naming the table (and the field or index concerned); nothing is written to
// any file before it returns:
//   1. encrypted: the trimmed password is 1..15 characters      10015
//   2. a non-zero language whose locale is not installed        15878
//   3. 0 or more than 1024 fields, LastAutoInc below -1         9492
//   4. more than 30 secondary indexes                           9487
//   5. a blob block size below 64                               9498
//   6. each field: trimmed name cut to 30 characters; empty, not starting
//      with a name character (A-Z, a-z, "_", 128..254) or equal to another
//      field's name in any letter case                          10038
//      a duplicate field number, no or an unknown type, a string, bytes or
//      varbytes size of 0 or above 250                          10000
//      a default, minimum or maximum text the type cannot read  10006
//   7. each index: a secondary name that does not start with a name
//      character (10022) or repeats another secondary's name (10027); more
//      than 16 key fields (9487); a zero before a non-zero field number or a
//      number naming no field of the definition (10023, the primary index
//      named "Primary"); a blob key field (12292); a key size of 0 (secondary)
//      or above 522 (10026)
//   8. the full-text index: only string and memo fields (12292)
// On success the definition is completed: names trimmed, sizes of types
// without a declared length 0, scales kept only for BCD, physical sizes and
// record offsets assigned (field order, from byte 9; the auto-increment field
// on RecAutoInc), every index's FieldCount and KeySize filled in (the sum of
// key field size + 1, plus 4 for a non-unique index), the primary index
// unnamed and unique, page numbers cleared, the full-text key size 68, and
// empty separator or word-character sets of given full-text parameters
// replaced by the defaults.
// Field numbers are left as given: index field numbers name fields by
// number, and RenumberDefinition turns both into positions.

#include <cstdint>
#include <span>
#include <string_view>

#include "engine/index/index_descriptor.h"
#include "engine/session/data_table.h"
#include "engine/table/field_desc.h"

namespace tarn {

// The names an error of the check reports.
struct TDefinitionNames {
  std::string_view Database;
  std::string_view Table;
};

inline constexpr int MaxTableFields = 1024;
inline constexpr std::uint16_t MinBlobBlockSize = 64;
// Largest key of a table index (fields with their flag bytes and the
// RecAutoInc suffix).
inline constexpr int MaxIndexKeySize = 522;

void CheckDefinition(TTableDefinition& def, const TDefinitionNames& names);

// Step 7 for one index over fields (looked up by FieldNo): checks the key
// fields and fills in FieldCount and KeySize. primary: the index is slot 0
// (no name needed, "Primary" in messages, a key of 0 bytes allowed).
void CompleteIndexDefinition(TIndexDescriptor& index, std::span<const TFieldDesc> fields, bool primary,
                             const TDefinitionNames& names);

// Numbers the fields 1..n in their order and replaces every index field
// number by the position of the field that carried it.
// Requires: a definition CheckDefinition accepted.
void RenumberDefinition(TTableDefinition& def);

}  // namespace tarn
