#include "engine/base/engine_error.h"

#include <charconv>

#include "engine/base/error_context.h"

namespace tarn {
namespace {

std::int32_t ParseDecimal(const std::string& text) {
  std::int32_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace

EDatabaseError EDatabaseError::ForComponent(const std::string& componentName,
                                            const std::string& message) {
  if (componentName.empty()) return EDatabaseError(message);
  return EDatabaseError(componentName + ": " + message);
}

ETarnEngineError::ETarnEngineError(TErrorCode code) : EDatabaseError(std::string()), FErrorCode(code) {
  const std::string text = GetErrorMessage(code);
  FErrorServer = GetErrorContextItem(static_cast<int>(TErrorItem::Server));
  FErrorUser = GetErrorContextItem(static_cast<int>(TErrorItem::User));
  FErrorDatabase = GetErrorContextItem(static_cast<int>(TErrorItem::Database));
  FErrorTable = GetErrorContextItem(static_cast<int>(TErrorItem::Table));
  FErrorField = GetErrorContextItem(static_cast<int>(TErrorItem::Field));
  FErrorIndex = GetErrorContextItem(static_cast<int>(TErrorItem::Index));
  FErrorMessage = GetErrorContextItem(static_cast<int>(TErrorItem::Message));
  FOSErrorCode = ParseDecimal(GetErrorContextItem(static_cast<int>(TErrorItem::OSError)));
  FSocketErrorCode = ParseDecimal(GetErrorContextItem(static_cast<int>(TErrorItem::SocketError)));
  SetMessage("Tarn Engine Error # " + std::to_string(code) + " " + text);
}

}  // namespace tarn
