// The Vantor quiz.
//
//   vantor                     plays the quiz
//   vantor --help              what follows, and where the question table is
//                              looked for ("Vantor.ini")
//   vantor --version           "Vantor 3.1"
//   vantor --edit              the question editor on the game's question
//                              table, instead of the game
//   vantor --screenshot FILE   starts as usual, writes the main window (or with
//                              --edit the editor) on its first question to
//                              FILE (PNG) and ends; without
//                              a platform chosen in QT_QPA_PLATFORM it draws
//                              offscreen, so it needs no display
//
// Any other option (Qt's own aside) is refused with the usage line. Without a
// usable display the program says so in one line and ends with
// NoUsableDisplay before any window exists.

#include <QtGlobal>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "app/exception_handler.h"
#include "app/paths.h"
#include "app/startup.h"
#include "app/vantor_application.h"
#include "dbcomp/session_list.h"
#include "widgets/password_dialog.h"

int main(int argc, char** argv) {
  try {
    // Before the path unit enters the program directory: a relative file
    // name is meant from where the program was started.
    const vantor::TCommandLine commandLine = vantor::ParseCommandLine(argc, argv);
    if (!commandLine.Error.empty()) {
      std::fprintf(stderr, "vantor: %s\n%s\n", commandLine.Error.c_str(), vantor::UsageLine);
      return vantor::UsageError;
    }
    if (commandLine.ShowHelp) {
      vantor::InitPaths();
      std::fputs(vantor::HelpText(vantor::ExeDir()).c_str(), stdout);
      return 0;
    }
    if (commandLine.ShowVersion) {
      std::printf("%s\n", vantor::VersionText().c_str());
      return 0;
    }
    vantor::TStartupOptions options;
    options.ScreenshotFile = commandLine.ScreenshotFile;
    options.Edit = commandLine.Edit;
    const bool screenshot = !options.ScreenshotFile.empty();
    if (screenshot && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
      qputenv("QT_QPA_PLATFORM", "offscreen");

    const std::string platform = !commandLine.Platform.empty()
                                     ? commandLine.Platform
                                     : qEnvironmentVariable("QT_QPA_PLATFORM").toStdString();
    if (!screenshot) {
      const std::string problem =
          vantor::DisplayProblem(platform, qEnvironmentVariable("DISPLAY").toStdString(),
                                 qEnvironmentVariable("WAYLAND_DISPLAY").toStdString());
      if (!problem.empty()) {
        std::fprintf(stderr, "%s\n", vantor::NoDisplayLine(problem).c_str());
        return vantor::NoUsableDisplay;
      }
    }

    dbcomp::TComponentLayer componentLayer;
    vantor::InitPaths();
    vantor::TExceptionHandler exceptionHandler;
    std::optional<vantor::TVantorApplication> app;
    {
      const vantor::TPlatformStartGuard platformStart(platform);
      app.emplace(argc, argv);
    }
    // An encrypted table whose password the session lacks asks the player.
    widgets::InstallPasswordDialog();
    return vantor::RunProgram(*app, options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vantor: %s\n", e.what());
    return 1;
  }
}
