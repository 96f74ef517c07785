#pragma once
// The case mapper of a table with a language: converts string field values
// with the table's code page (UpperCaseLocale / LowerCaseLocale). The shared
// table hands one to the record layer, which sits below the collation code.
//
// Threads: immutable after construction; Convert may run on any thread.

#include <cstdint>
#include <string>

#include "engine/table/text_case_mapper.h"

namespace tarn {

class TLocaleCaseMapper final : public TTextCaseMapper {
 public:
  TLocaleCaseMapper(std::uint16_t languageId, std::uint16_t sortId)
      : FLanguageId(languageId), FSortId(sortId) {}

  // Maps every byte up to the first zero byte; the length never changes.
  void Convert(std::string& text, TCharCase charCase) const override;

 private:
  std::uint16_t FLanguageId;
  std::uint16_t FSortId;
};

}  // namespace tarn
