// The Vantor quiz.
//
//   vantor                     plays the quiz
//   vantor --screenshot FILE   starts as usual, writes the main window on its
//                              first question to FILE (PNG) and ends; without
//                              a platform chosen in QT_QPA_PLATFORM it draws
//                              offscreen, so it needs no display

#include <QtGlobal>
#include <cstdio>
#include <exception>

#include "app/exception_handler.h"
#include "app/paths.h"
#include "app/startup.h"
#include "app/vantor_application.h"
#include "dbcomp/session_list.h"

int main(int argc, char** argv) {
  try {
    // Before the path unit enters the program directory: a relative file
    // name is meant from where the program was started.
    const vantor::TCommandLine commandLine = vantor::ParseCommandLine(argc, argv);
    if (!commandLine.Error.empty()) {
      std::fprintf(stderr, "vantor: %s\nusage: vantor [--screenshot FILE]\n",
                   commandLine.Error.c_str());
      return 2;
    }
    vantor::TStartupOptions options;
    options.ScreenshotFile = commandLine.ScreenshotFile;
    if (!options.ScreenshotFile.empty() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
      qputenv("QT_QPA_PLATFORM", "offscreen");

    dbcomp::TComponentLayer componentLayer;
    vantor::InitPaths();
    vantor::TExceptionHandler exceptionHandler;
    vantor::TVantorApplication app(argc, argv);
    return vantor::RunProgram(app, options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vantor: %s\n", e.what());
    return 1;
  }
}
