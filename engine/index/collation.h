#pragma once
// Collation and case mapping of 8-bit text in a table's language, on ICU.
//
// Each (language id, sort id) of the language list has one `TLocaleDriver`,
// made on first use and kept for the life of the process:
//   - a byte -> UTF-16 table made with the ICU converter of the language's
//     Windows code page (bytes the code page leaves undefined map to the
//     private-use character U+F000 + byte, so they stay distinct);
//   - 256-byte upper-case and lower-case tables: each character is decoded,
//     case-mapped with the simple (one-to-one, locale-independent) Unicode
//     mapping and encoded back through the converter; a character whose
//     mapping the code page cannot hold stays as it is;
//   - for a non-zero language, two ICU collators of the language's locale
//     (German sort id 1: phonebook order), both at primary strength with
//     punctuation not ignorable, which ignores non-spacing marks; the
//     case-sensitive one adds the case level.
// Language 0 has no collators: it compares bytewise and case-maps with code
// page 1252.
//
// Threads: drivers are created under one mutex and published through atomic
// pointers; once made they are immutable, and the collators are only used
// through ucol_strcoll, which ICU allows on one collator from several threads.
// No comparison allocates unless a string is longer than
// `TLocaleDriver::StackChars` characters.

#include <unicode/ucol.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tarn {

class TLocaleDriver {
 public:
  // Strings up to this many characters are decoded into stack buffers.
  static constexpr std::size_t StackChars = 1024;

  TLocaleDriver(const TLocaleDriver&) = delete;
  TLocaleDriver& operator=(const TLocaleDriver&) = delete;
  ~TLocaleDriver() noexcept;

  std::uint16_t LanguageId() const { return FLanguageId; }
  std::uint16_t SortId() const { return FSortId; }
  std::uint16_t CodePage() const { return FCodePage; }
  bool IsBytewise() const { return FLanguageId == 0; }

  char16_t ToUnicode(std::uint8_t c) const { return FToUnicode[c]; }
  std::uint8_t Upper(std::uint8_t c) const { return FUpper[c]; }
  std::uint8_t Lower(std::uint8_t c) const { return FLower[c]; }

  // Collates s1 (n1 bytes) against s2 (n2 bytes): -1, 0, +1. Non-spacing
  // marks are ignored; case too when caseInsensitive. Requires a language.
  int Collate(const std::uint8_t* s1, std::size_t n1, const std::uint8_t* s2, std::size_t n2,
              bool caseInsensitive) const;

  // Made by GetLocaleDriver only.
  TLocaleDriver(std::uint16_t languageId, std::uint16_t sortId, std::uint16_t codePage);
  // Builds the tables and collators; false when ICU lacks the converter or
  // the collator.
  bool Open(const char* icuLocale);

 private:
  std::uint16_t FLanguageId;
  std::uint16_t FSortId;
  std::uint16_t FCodePage;
  char16_t FToUnicode[256] = {};
  std::uint8_t FUpper[256] = {};
  std::uint8_t FLower[256] = {};
  UCollator* FCaseSensitive = nullptr;
  UCollator* FCaseInsensitive = nullptr;
};

// The driver of (languageId, sortId), or nullptr when the combination is not
// in the language list or ICU cannot provide its collator or converter.
// Language 0 always has a driver. The pointer stays valid for the process.
const TLocaleDriver* GetLocaleDriver(std::uint16_t languageId, std::uint16_t sortId);

// True exactly when ICU provides the collator and the converter of a listed
// (languageId, sortId); always true for language 0.
bool IsValidLocale(std::uint16_t languageId, std::uint16_t sortId);

// Raises 15878 (TARN_CANNOTLOADLDDRV) naming the table when the table's
// language is not valid (IsValidLocale).
void CheckLanguageDriver(std::uint16_t languageId, std::uint16_t sortId,
                         std::string_view tableName);

// Compares two 8-bit strings: -1, 0, +1. length 0 means up to the
// terminating zero; otherwise at most length bytes (with a language, a zero
// byte inside them ends the string). With a language: the locale's collation,
// non-spacing marks ignored, punctuation significant, case ignored when asked.
// Without: bytewise, over upper-cased characters when caseInsensitive.
// An unusable language compares as -1 (sorts first).
int CompareCollated(std::uint16_t languageId, std::uint16_t sortId, const char* s1,
                    bool caseInsensitive, std::size_t length, const char* s2);

// Compares two single characters: with a language by the collation
// (case-sensitive, non-spacing marks ignored), without by their upper-case
// bytes.
int CompareChar(std::uint16_t languageId, std::uint16_t sortId, std::uint8_t c1, std::uint8_t c2);

// Upper- or lower-cases a zero-terminated string in place with the
// language's code page (1252 for language 0). An unusable language leaves
// the text unchanged.
void UpperCaseLocale(std::uint16_t languageId, std::uint16_t sortId, char* text);
void LowerCaseLocale(std::uint16_t languageId, std::uint16_t sortId, char* text);
// The same over a bounded buffer: stops at the first zero byte or the end.
void UpperCaseLocale(std::uint16_t languageId, std::uint16_t sortId, std::span<std::uint8_t> text);
void LowerCaseLocale(std::uint16_t languageId, std::uint16_t sortId, std::span<std::uint8_t> text);

}  // namespace tarn
