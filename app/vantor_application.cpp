#include "app/vantor_application.h"

#include "app/exception_handler.h"

namespace vantor {

TVantorApplication::TVantorApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName("Vantor");
}

bool TVantorApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ApplicationHandleException(receiver, std::current_exception());
    return false;
  }
}

}  // namespace vantor
