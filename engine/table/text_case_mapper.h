#pragma once
// Case conversion of 8-bit text with a table's locale. String fields with a
// FieldCharCase of lower or upper are converted through this when stored; the
// shared table supplies the mapper of its language (collation lives above the
// table layer). AsciiCaseMapper serves tables without a language.

#include <string>

#include "engine/table/field_types.h"

namespace tarn {

class TTextCaseMapper {
 public:
  virtual ~TTextCaseMapper() = default;
  // Converts text in place; TCharCase::AsGiven leaves it alone. The result
  // may not be longer than the input (callers store it in a fixed slot; a
  // longer result is cut).
  virtual void Convert(std::string& text, TCharCase charCase) const = 0;
};

// Converts "a"-"z" and "A"-"Z" only; every other byte stays.
class TAsciiCaseMapper final : public TTextCaseMapper {
 public:
  void Convert(std::string& text, TCharCase charCase) const override {
    for (char& c : text) {
      if (charCase == TCharCase::Upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      if (charCase == TCharCase::Lower && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
  }
};

inline const TAsciiCaseMapper AsciiCaseMapper{};

}  // namespace tarn
