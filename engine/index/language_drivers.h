#pragma once
// The languages and sort orders a table may name, and what each one means to
// the collation layer.
//
// A table stores a 16-bit language id and a 16-bit sort id. Language id 0 is
// "no language": keys compare bytewise and upper-casing uses code page 1252.
// A non-zero language id is a Windows language identifier (primary language
// in the low 10 bits, sublanguage in the high 6 bits); each one in
// `LanguageNames` maps to an ICU locale and to the Windows ANSI code page its
// 8-bit text is written in. Every language has the sort order "Default Order"
// (sort id 0); the five German languages also have "German Phone Book Order"
// (sort id 1), which selects ICU's phonebook collation.
//
// Threads: the list is a constant table; every lookup is read-only.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tarn {

// Language id from primary language and sublanguage.
constexpr std::uint16_t MakeLanguageId(std::uint16_t primary, std::uint16_t sublanguage) {
  return static_cast<std::uint16_t>(sublanguage << 10 | primary);
}

// One entry of the language list.
struct TLanguageEntry {
  const char* Name;  // e.g. "German (Standard)"
  std::uint16_t LanguageId;
  const char* IcuLocale;   // ICU locale of the default sort order; "" for language 0
  std::uint16_t CodePage;  // Windows ANSI code page of the language's 8-bit text
};

inline constexpr std::size_t LanguageCount = 99;
inline constexpr std::uint16_t DefaultSortId = 0;
inline constexpr std::uint16_t PhoneBookSortId = 1;

// All 99 entries, in the list's fixed order ("ANSI Standard" first).
std::span<const TLanguageEntry, LanguageCount> LanguageNames();

// The entry of a language id, or nullptr when the id is not in the list.
const TLanguageEntry* FindLanguage(std::uint16_t languageId);

// Language id of a name (case-insensitive), or -1 when unknown.
std::int32_t LanguageIdByName(std::string_view name);

// Name of a language id, or "" when unknown.
std::string LanguageNameById(std::uint16_t languageId);

// The sort order names of a language, in sort-id order: "Default Order", and
// for the German languages "German Phone Book Order". Empty for an unknown id.
std::span<const char* const> SortOrderNames(std::uint16_t languageId);

// Whether name (case-insensitive) is one of the language's sort orders.
bool IsSortOrderOf(std::uint16_t languageId, std::string_view name);

// Sort id of a sort order name for a language (its position in the language's
// list), or -1 when the name is not one of its sort orders.
std::int32_t SortIdByName(std::uint16_t languageId, std::string_view name);

// Whether (languageId, sortId) is a known combination: a listed language and
// one of its sort ids. Says nothing about ICU (see IsValidLocale).
bool IsKnownLanguage(std::uint16_t languageId, std::uint16_t sortId);

// The ICU locale of (languageId, sortId), e.g. "de_DE@collation=phonebook",
// or "" for language 0 and unknown combinations.
std::string IcuLocaleName(std::uint16_t languageId, std::uint16_t sortId);

// The code page of a language; 1252 for language 0, 0 for unknown ids.
std::uint16_t LanguageCodePage(std::uint16_t languageId);

}  // namespace tarn
