#include "dbcomp/db_consts.h"

#include "engine/base/engine_error.h"

namespace dbcomp {

std::string FormatMessage(std::string_view format, std::initializer_list<std::string_view> args) {
  std::string out;
  out.reserve(format.size() + 32);
  auto next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c == '%' && i + 1 < format.size()) {
      char spec = format[i + 1];
      if (spec == '%') {
        out += '%';
        ++i;
        continue;
      }
      if (spec == 's' || spec == 'd') {
        if (next != args.end()) out += *next++;
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

void DatabaseError(std::string_view message, std::string_view componentName) {
  throw tarn::EDatabaseError::ForComponent(std::string(componentName), std::string(message));
}

}  // namespace dbcomp
