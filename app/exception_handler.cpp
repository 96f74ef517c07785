#include "app/exception_handler.h"

#include <QtGlobal>
#include <cinttypes>
#include <cstdio>

#include "app/dialogs.h"
#include "widgets/exception_reporter.h"

namespace vantor {

namespace {

TAppExceptionHandler& Installed() {
  static TAppExceptionHandler handler;
  return handler;
}

}  // namespace

std::string AppExceptionText(const std::exception& error) {
  const auto* intError = dynamic_cast<const EIntError*>(&error);
  if (intError != nullptr && dynamic_cast<const EDivByZero*>(&error) == nullptr) {
    char address[32];
    std::snprintf(address, sizeof address, "%08" PRIXPTR, reinterpret_cast<std::uintptr_t>(intError->Address()));
    return std::string(error.what()) + " at " + address + ".";
  }
  return std::string(error.what()) + ".";
}

void HandleAppException(QObject* sender, const std::exception& error) {
  (void)sender;
  ErrorBox(AppExceptionText(error), 0, true);
}

TAppExceptionHandler SetApplicationExceptionHandler(TAppExceptionHandler handler) {
  TAppExceptionHandler previous = std::move(Installed());
  Installed() = std::move(handler);
  return previous;
}

TAppExceptionHandler ApplicationExceptionHandler() { return Installed(); }

void ApplicationHandleException(QObject* sender, std::exception_ptr error) noexcept {
  try {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      if (Installed())
        Installed()(sender, e);
      else
        qWarning("Unhandled exception: %s", e.what());
    } catch (...) {
      const std::runtime_error unknown("Unknown exception");
      if (Installed())
        Installed()(sender, unknown);
      else
        qWarning("Unhandled exception of unknown type");
    }
  } catch (...) {
    qWarning("The application's exception handler failed");
  }
}

TExceptionHandler::TExceptionHandler() {
  FPrevious = SetApplicationExceptionHandler(&HandleAppException);
  FPreviousReporter = widgets::SetExceptionReporter([](const std::exception& e) {
    try {
      if (Installed()) Installed()(nullptr, e);
    } catch (...) {
      qWarning("The application's exception handler failed");
    }
  });
}

TExceptionHandler::~TExceptionHandler() {
  SetApplicationExceptionHandler(std::move(FPrevious));
  widgets::SetExceptionReporter(std::move(FPreviousReporter));
}

}  // namespace vantor
