#include "widgets/exception_reporter.h"

#include <QtGlobal>
#include <utility>

namespace widgets {

namespace {

TExceptionReporter& Reporter() {
  static TExceptionReporter reporter;
  return reporter;
}

}  // namespace

TExceptionReporter SetExceptionReporter(TExceptionReporter reporter) {
  return std::exchange(Reporter(), std::move(reporter));
}

void ReportException(const std::exception& error) noexcept {
  try {
    if (Reporter()) {
      Reporter()(error);
    } else {
      qWarning("%s.", error.what());
    }
  } catch (...) {
    qWarning("%s.", error.what());
  }
}

}  // namespace widgets
