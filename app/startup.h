#pragma once
// Program entry after the units' start-up: creates the windows in their
// order and runs the message loop until the main window closes.
//
// The units start before it, in this order: the component layer
// (dbcomp::TComponentLayer), the path unit (InitPaths), the dialog unit's
// exception handler (TExceptionHandler); then the application object.

#include <functional>

class QApplication;

namespace vantor {

class TMainForm;

struct TStartupOptions {
  // Called once the main window is shown, before the message loop runs.
  std::function<void(TMainForm& mainForm)> OnShown;
};

// Creates the main window and runs its creation handler. When the question
// table cannot be opened, the error dialog has been shown and the answer is
// 0 at once: the main window is never shown and no other window is created.
// Otherwise creates the help and about windows, shows the main window and
// runs the loop; answers the loop's exit code.
int RunProgram(QApplication& app, const TStartupOptions& options = {});

}  // namespace vantor
