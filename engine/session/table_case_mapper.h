#pragma once
// Case conversion of string fields with the language of one table.
//
// The data file converts string fields whose FieldCharCase asks for lower or
// upper case through the mapper its shared table supplies. This one reads the
// table's language and sort id from the data file header at each call, so it
// follows the table through open, create and re-read, and converts with the
// index layer's TLocaleCaseMapper for that language (language 0: code page
// 1252).

#include <string>

#include "engine/table/text_case_mapper.h"

namespace tarn {

class TDataFile;

class TTableCaseMapper final : public TTextCaseMapper {
 public:
  explicit TTableCaseMapper(const TDataFile& file) : FFile(file) {}
  void Convert(std::string& text, TCharCase charCase) const override;

 private:
  const TDataFile& FFile;
};

}  // namespace tarn
