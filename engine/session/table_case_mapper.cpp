#include "engine/session/table_case_mapper.h"

#include <cstdint>

#include "engine/index/locale_case_mapper.h"
#include "engine/table/data_file.h"

namespace tarn {

void TTableCaseMapper::Convert(std::string& text, TCharCase charCase) const {
  if (charCase == TCharCase::AsGiven || text.empty()) return;
  const TLocaleCaseMapper mapper(static_cast<std::uint16_t>(FFile.GetLanguageId()),
                                 static_cast<std::uint16_t>(FFile.GetSortId()));
  mapper.Convert(text, charCase);
}

}  // namespace tarn
