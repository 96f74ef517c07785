#pragma once

#include <exception>
#include <functional>

namespace widgets {

// Where the data-aware controls send an exception raised by the component
// layer inside one of their Qt slots (a click that asks for edit mode, a
// reload that cannot read the record). Exceptions must not leave a slot, so
// each such slot catches and calls ReportException. The application installs
// its own handler (its error dialog); without one the message goes to
// qWarning. Used on the user-interface thread only.
using TExceptionReporter = std::function<void(const std::exception& error)>;

// Installs `reporter` (an empty function restores the default) and answers
// the one installed before.
TExceptionReporter SetExceptionReporter(TExceptionReporter reporter);

// Hands `error` to the installed reporter. Never throws: an exception from
// the reporter itself is swallowed after a warning.
void ReportException(const std::exception& error) noexcept;

}  // namespace widgets
