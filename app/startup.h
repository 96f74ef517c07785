#pragma once
// Program entry after the units' start-up: creates the windows in their
// order and runs the message loop until the main window closes.
//
// The units start before it, in this order: the component layer
// (dbcomp::TComponentLayer), the path unit (InitPaths), the dialog unit's
// exception handler (TExceptionHandler); then the application object.
//
// Screenshot mode ("vantor --screenshot FILE") takes the same start-up path,
// but nobody is there to answer a dialog: every message dialog writes its
// caption and text to stderr and answers OK by itself. Instead of running the
// loop, the main window is rendered on its first question into FILE (PNG) and
// the program ends; it ends with a non-zero code when the table could not be
// opened or the file could not be written.

#include <functional>
#include <string>

class QApplication;
class QImage;

namespace vantor {

class TMainForm;

struct TStartupOptions {
  // Called once the main window is shown, before the message loop runs.
  std::function<void(TMainForm& mainForm)> OnShown;
  // Screenshot mode when not empty: the PNG file to write.
  std::string ScreenshotFile = {};
};

// The program's own command-line options; Qt's options are left to Qt.
struct TCommandLine {
  std::string ScreenshotFile;  // "--screenshot FILE" or "--screenshot=FILE"
  std::string Error;           // not empty: the command line is unusable
};

// Reads "--screenshot FILE" (or "--screenshot=FILE") from the arguments. A
// relative FILE is made absolute against the current directory, which the
// path unit changes later. A missing or empty FILE, or the option given
// twice, sets Error.
TCommandLine ParseCommandLine(int argc, const char* const* argv);

// Exit codes of screenshot mode.
inline constexpr int ScreenshotWritten = 0;
inline constexpr int ScreenshotNoWindow = 1;  // start-up took the fatal path
inline constexpr int ScreenshotNotSaved = 2;  // the PNG could not be written

// Creates the main window and runs its creation handler. When the question
// table cannot be opened, the error dialog has been shown and the answer is
// 0 at once (ScreenshotNoWindow in screenshot mode): the main window is never
// shown and no other window is created. Otherwise creates the help and about
// windows and shows the main window; then runs the loop and answers its exit
// code, or in screenshot mode writes the picture and answers one of the
// screenshot exit codes.
int RunProgram(QApplication& app, const TStartupOptions& options = {});

// The main window as the player sees it once start-up is done: after the
// pending events and the first idle update (which sets the Next button).
// Requires: the window is shown.
QImage RenderMainWindow(TMainForm& mainForm);

}  // namespace vantor
