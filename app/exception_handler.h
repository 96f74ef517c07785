#pragma once
// The application-wide exception handler.
//
// Qt has no handler for exceptions that escape event handlers, and an
// exception must not travel through Qt's own frames. So every slot and event
// handler of the program that can raise runs its work through RunGuarded,
// which catches and hands the exception to ApplicationHandleException; the
// application object's notify() does the same as a last line (see
// vantor_application.h). ApplicationHandleException passes the exception to
// the installed application handler: HandleAppException while a
// TExceptionHandler exists.
//
// User-interface thread only.

#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

class QObject;

namespace vantor {

// Integer errors: division by zero, a range error or an integer overflow,
// with the code address where they arose (null when unknown).
class EIntError : public std::runtime_error {
 public:
  explicit EIntError(const std::string& message, const void* address = nullptr)
      : std::runtime_error(message), FAddress(address) {}
  const void* Address() const noexcept { return FAddress; }

 private:
  const void* FAddress;
};
class EDivByZero : public EIntError {
 public:
  using EIntError::EIntError;
};
class ERangeError : public EIntError {
 public:
  using EIntError::EIntError;
};
class EIntOverflow : public EIntError {
 public:
  using EIntError::EIntError;
};

using TAppExceptionHandler = std::function<void(QObject* sender, const std::exception& error)>;

// The text HandleAppException shows: for a range error or integer overflow
// "<message> at <address>." with the address as (at least) eight upper-case
// hexadecimal digits; for anything else the message followed by ".".
std::string AppExceptionText(const std::exception& error);

// Shows AppExceptionText in the modal error dialog (ErrorBox).
void HandleAppException(QObject* sender, const std::exception& error);

// Installs the application's handler (an empty one: exceptions are only
// logged) and answers the previous one.
TAppExceptionHandler SetApplicationExceptionHandler(TAppExceptionHandler handler);
TAppExceptionHandler ApplicationExceptionHandler();

// Hands a caught exception to the application's handler. Exceptions that are
// not std::exception are reported as "Unknown exception". Never throws.
void ApplicationHandleException(QObject* sender, std::exception_ptr error) noexcept;

// Runs `work`; an exception leaving it goes to ApplicationHandleException.
template <class F>
void RunGuarded(QObject* sender, F&& work) noexcept {
  try {
    work();
  } catch (...) {
    ApplicationHandleException(sender, std::current_exception());
  }
}

// Owner of the application-wide handler from start-up to shutdown: installs
// HandleAppException (also as the data-aware controls' reporter) and puts the
// previous handlers back when destroyed.
class TExceptionHandler {
 public:
  TExceptionHandler();
  ~TExceptionHandler();
  TExceptionHandler(const TExceptionHandler&) = delete;
  TExceptionHandler& operator=(const TExceptionHandler&) = delete;

 private:
  TAppExceptionHandler FPrevious;
  std::function<void(const std::exception&)> FPreviousReporter;
};

}  // namespace vantor
