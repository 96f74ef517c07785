#pragma once
// The exceptions of the database layers.
//
// EDatabaseError is the general database error: a message and a help context
// number, and no code. The component layer raises it for its own checks.
// ETarnEngineError is every engine failure: it carries the code and a copy of
// the error context (error_context.h) taken when it was built. Its message is
// "Tarn Engine Error # <code> <text>", without a full stop; whoever shows it
// adds one.

#include <cstdint>
#include <exception>
#include <string>

#include "engine/base/error_codes.h"

namespace tarn {

class EDatabaseError : public std::exception {
 public:
  explicit EDatabaseError(std::string message, int helpContext = 0)
      : FMessage(std::move(message)), FHelpContext(helpContext) {}

  // The message prefixed with a component's name, "%s: %s", when the
  // component has one; the plain message otherwise.
  static EDatabaseError ForComponent(const std::string& componentName, const std::string& message);

  const char* what() const noexcept override { return FMessage.c_str(); }
  const std::string& Message() const noexcept { return FMessage; }
  int HelpContext() const noexcept { return FHelpContext; }

 protected:
  void SetMessage(std::string message) { FMessage = std::move(message); }

 private:
  std::string FMessage;
  int FHelpContext;
};

class ETarnEngineError : public EDatabaseError {
 public:
  // Reads the calling thread's error context (without changing it) and builds
  // the message from the code's text. Raises nothing of its own.
  explicit ETarnEngineError(TErrorCode code);

  TErrorCode ErrorCode() const noexcept { return FErrorCode; }
  std::int32_t OSErrorCode() const noexcept { return FOSErrorCode; }
  std::int32_t SocketErrorCode() const noexcept { return FSocketErrorCode; }
  const std::string& ErrorServer() const noexcept { return FErrorServer; }
  const std::string& ErrorUser() const noexcept { return FErrorUser; }
  const std::string& ErrorDatabase() const noexcept { return FErrorDatabase; }
  const std::string& ErrorTable() const noexcept { return FErrorTable; }
  const std::string& ErrorField() const noexcept { return FErrorField; }
  const std::string& ErrorIndex() const noexcept { return FErrorIndex; }
  const std::string& ErrorMessage() const noexcept { return FErrorMessage; }

 private:
  TErrorCode FErrorCode;
  std::int32_t FOSErrorCode = 0;
  std::int32_t FSocketErrorCode = 0;
  std::string FErrorServer;
  std::string FErrorUser;
  std::string FErrorDatabase;
  std::string FErrorTable;
  std::string FErrorField;
  std::string FErrorIndex;
  std::string FErrorMessage;
};

}  // namespace tarn
