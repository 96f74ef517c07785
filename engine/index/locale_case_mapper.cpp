#include "engine/index/locale_case_mapper.h"

#include <span>

#include "engine/index/collation.h"

namespace tarn {

void TLocaleCaseMapper::Convert(std::string& text, TCharCase charCase) const {
  const std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(text.data()), text.size());
  if (charCase == TCharCase::Upper) UpperCaseLocale(FLanguageId, FSortId, bytes);
  if (charCase == TCharCase::Lower) LowerCaseLocale(FLanguageId, FSortId, bytes);
}

}  // namespace tarn
