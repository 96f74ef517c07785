#pragma once
// The application object. Its notify() is the last line of the
// application-wide exception handling: an exception that escapes an event
// handler is caught there and handed to ApplicationHandleException, so it
// never travels on through Qt's event loop.

#include <QApplication>

namespace vantor {

class TVantorApplication : public QApplication {
  Q_OBJECT

 public:
  TVantorApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace vantor
