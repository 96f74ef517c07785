#pragma once
// The file names of a table.
//
// A table T in directory P (with its trailing backslash) consists of the files
// P + MakeTableFileName(T, ".DAT", ext) for ext ".DAT" (header, field
// definitions, records), ".IDX" (index header and pages) and, when the table
// has blob fields, ".BLB". Table maintenance keeps backups with ".DBK",
// ".IBK" and ".BBK". Work files use ".TMP" (sort runs) and ".IDX"
// (temporary indexes).

#include <string>
#include <string_view>

namespace tarn {

namespace TableFileExt {
inline constexpr std::string_view Data = ".DAT";
inline constexpr std::string_view Index = ".IDX";
inline constexpr std::string_view Blob = ".BLB";
inline constexpr std::string_view DataBackup = ".DBK";
inline constexpr std::string_view IndexBackup = ".IBK";
inline constexpr std::string_view BlobBackup = ".BBK";
inline constexpr std::string_view Work = ".TMP";
}  // namespace TableFileExt

// The extension of name: from its last "." to the end, when that "." comes
// after the last "\", "/" and ":"; empty otherwise. ExtractFileExt("a.b.dat")
// is ".dat", ExtractFileExt("dir.x\name") is "".
std::string_view ExtractFileExt(std::string_view name);

// The name is trimmed; when its extension equals matchExt (ignoring case) the
// extension is replaced by newExt, otherwise newExt is appended to the whole
// trimmed name:
//   ("Quiz.dat", ".DAT", ".IDX") -> "Quiz.IDX"
//   ("Quiz",     ".DAT", ".IDX") -> "Quiz.IDX"
//   ("Quiz.v2",  ".DAT", ".IDX") -> "Quiz.v2.IDX"
//   (" Quiz ",   ".DAT", ".DAT") -> "Quiz.DAT"
std::string MakeTableFileName(std::string_view name, std::string_view matchExt,
                              std::string_view newExt);

}  // namespace tarn
