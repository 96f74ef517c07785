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
#include <string_view>

class QApplication;
class QImage;
class QWidget;

namespace vantor {

class TMainForm;

struct TStartupOptions {
  // Called once the main window is shown, before the message loop runs.
  std::function<void(TMainForm& mainForm)> OnShown;
  // Screenshot mode when not empty: the PNG file to write.
  std::string ScreenshotFile = {};
  // Editor mode: the question editor is the program's window instead of the
  // game ("--edit").
  bool Edit = false;
};

// The command line. The program's own options are --help, --version, --edit
// and --screenshot; Qt's options (-platform NAME, -style NAME, -reverse, ...;
// one or two dashes) are accepted and left to the application object. Any
// other option, and any argument that is no option, is refused.
struct TCommandLine {
  bool ShowHelp = false;       // "--help" or "-h"
  bool ShowVersion = false;    // "--version"
  bool Edit = false;           // "--edit"
  std::string ScreenshotFile;  // "--screenshot FILE" or "--screenshot=FILE"
  std::string Platform;        // Qt's "-platform NAME", "" when not given
  std::string Error;           // not empty: the command line is unusable
};

// Reads the arguments. A relative screenshot FILE is made absolute against
// the current directory, which the path unit changes later. A missing or
// empty FILE, the option given twice, an unknown option or an argument that
// is no option sets Error.
TCommandLine ParseCommandLine(int argc, const char* const* argv);

// The line that follows an unusable command line on stderr.
inline constexpr const char* UsageLine = "usage: vantor [--help] [--version] [--edit] [--screenshot FILE]";

// "Vantor " and the program's version, as "--version" prints it.
std::string VersionText();

// What "--help" prints: the usage line, the options, and where the program
// finds its question table ("Vantor.ini" in `programDir`, section "Z", key
// "Path", default "C:\T30G").
std::string HelpText(const std::string& programDir);

// Exit codes before the game starts.
inline constexpr int UsageError = 2;       // the command line is unusable
inline constexpr int NoUsableDisplay = 3;  // no display to show the windows on

// Why the game's windows cannot be seen, as far as that is known before Qt
// tries; "" when nothing speaks against trying. `platform` is the platform
// asked for ("-platform" or QT_QPA_PLATFORM, "" for Qt's choice), `display`
// and `waylandDisplay` are DISPLAY and WAYLAND_DISPLAY. Offscreen and minimal
// platforms draw nowhere; xcb needs DISPLAY; Qt's choice needs one of the
// two. Options after the platform name ("offscreen:size=...") are ignored.
std::string DisplayProblem(std::string_view platform, std::string_view display,
                           std::string_view waylandDisplay);

// The one line printed on stderr when there is no usable display: the
// reason and what to do (a desktop session, or xvfb-run without one).
std::string NoDisplayLine(std::string_view reason);

// Lives while the application object is created, which is when Qt connects
// to the display. If Qt cannot start its platform, the program ends at once
// with NoDisplayLine on stderr and NoUsableDisplay instead of Qt's abort.
// Qt's own messages of that time are held back and passed on when this
// object goes away (they are dropped when the program ends here).
// User-interface thread only; one at a time.
class TPlatformStartGuard {
 public:
  // `platform` as for DisplayProblem, named in the line when Qt gives no
  // reason of its own.
  explicit TPlatformStartGuard(std::string platform);
  ~TPlatformStartGuard();
  TPlatformStartGuard(const TPlatformStartGuard&) = delete;
  TPlatformStartGuard& operator=(const TPlatformStartGuard&) = delete;
};

// The line printed on stderr when the question table cannot be opened: the
// directory that was tried, and where that directory comes from ("Path" in
// section "Z" of `iniPath`, or the default when the file or the key is
// missing). A relative directory is shown with the absolute one it means.
std::string TableDirectoryLine(const std::string& iniPath, const std::string& directory);

// Exit codes of screenshot mode.
inline constexpr int ScreenshotWritten = 0;
inline constexpr int ScreenshotNoWindow = 1;  // start-up took the fatal path
inline constexpr int ScreenshotNotSaved = 2;  // the PNG could not be written

// Editor mode (options.Edit): registers the table password with the default
// session, reads the table directory from "Vantor.ini" and opens the question
// editor on it as the program's only window; a table that cannot be opened
// takes the same fatal path as below. In screenshot mode the editor on its
// first record is written to the file.
//
// Otherwise: creates the main window and runs its creation handler. When the question
// table cannot be opened, the error dialog has been shown, TableDirectoryLine
// is printed on stderr and the answer is 0 at once (ScreenshotNoWindow in
// screenshot mode): the main window is never shown and no other window is
// created. Otherwise creates the help, about and editor
// windows (the editor set to the game's table directory) and shows the main
// window; then runs the loop and answers its exit
// code, or in screenshot mode writes the picture and answers one of the
// screenshot exit codes.
int RunProgram(QApplication& app, const TStartupOptions& options = {});

// The main window as the player sees it once start-up is done: after the
// pending events and the first idle update (which sets the Next button).
// Requires: the window is shown.
QImage RenderMainWindow(TMainForm& mainForm);

// A shown window (the editor) as it is once the pending events are done.
QImage RenderWindow(QWidget& window);

}  // namespace vantor
