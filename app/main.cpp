// The Vantor quiz.

#include <cstdio>
#include <exception>

#include "app/exception_handler.h"
#include "app/paths.h"
#include "app/startup.h"
#include "app/vantor_application.h"
#include "dbcomp/session_list.h"

int main(int argc, char** argv) {
  try {
    dbcomp::TComponentLayer componentLayer;
    vantor::InitPaths();
    vantor::TExceptionHandler exceptionHandler;
    vantor::TVantorApplication app(argc, argv);
    return vantor::RunProgram(app);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vantor: %s\n", e.what());
    return 1;
  }
}
