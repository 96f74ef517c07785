#include "app/startup.h"

#include <QApplication>
#include <QDialog>
#include <memory>

#include "app/exception_handler.h"
#include "app/main_form.h"
#include "app/paths.h"

#if __has_include("app/help_form.h") && __has_include("app/about_form.h")
#include "app/about_form.h"
#include "app/help_form.h"
#define VANTOR_HAS_HELP_FORMS 1
#endif

namespace vantor {

int RunProgram(QApplication& app, const TStartupOptions& options) {
  TMainForm mainForm;
  bool opened = false;
  RunGuarded(&mainForm, [&] { opened = mainForm.FormCreate(); });
  if (!opened) return 0;

#ifdef VANTOR_HAS_HELP_FORMS
  const QString assetDir = QString::fromStdString(ExeDir());
  auto helpForm = std::make_unique<THelpForm>(&mainForm, assetDir);
  auto aboutForm = std::make_unique<TAboutForm>(&mainForm, assetDir);
  mainForm.SetHelpForm(helpForm.get());
  mainForm.SetAboutForm(aboutForm.get());
#endif

  mainForm.show();
  if (options.OnShown) options.OnShown(mainForm);
  if (!mainForm.isVisible()) return 0;
  QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
  return app.exec();
}

}  // namespace vantor
