#include "app/startup.h"

#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>

#include "app/about_form.h"
#include "app/dialogs.h"
#include "app/exception_handler.h"
#include "app/help_form.h"
#include "app/main_form.h"
#include "app/message_form.h"
#include "app/paths.h"


namespace vantor {

namespace {

constexpr std::string_view ScreenshotOption = "--screenshot";

void PrintDialog(const std::string& caption, const std::string& message) {
  std::fprintf(stderr, "vantor: %s: %s\n", caption.c_str(), message.c_str());
  std::fflush(stderr);
}

// For the lifetime of a screenshot run: every dialog prints itself to stderr
// and answers OK instead of waiting for a player. Puts the previous dialog
// hooks back when destroyed.
class TUnattendedDialogs {
 public:
  TUnattendedDialogs() {
    FPrevious = SetDialogHooks(
        {[](QDialog& form) -> std::optional<int> {
           const auto* message = qobject_cast<TMessageForm*>(&form);
           PrintDialog(
               form.windowTitle().toStdString(),
               message != nullptr ? message->MessageLabel()->text().toStdString() : std::string());
           return QDialog::Accepted;
         },
         [](const std::string& message, const std::string& caption, std::uint32_t) {
           PrintDialog(caption, message);
           return 1;
         }});
  }
  ~TUnattendedDialogs() { SetDialogHooks(std::move(FPrevious)); }
  TUnattendedDialogs(const TUnattendedDialogs&) = delete;
  TUnattendedDialogs& operator=(const TUnattendedDialogs&) = delete;

 private:
  TDialogHooks FPrevious;
};

}  // namespace

TCommandLine ParseCommandLine(int argc, const char* const* argv) {
  TCommandLine result;
  bool seen = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    std::string file;
    if (arg == ScreenshotOption) {
      if (i + 1 >= argc) {
        result.Error = "--screenshot needs the name of the PNG file to write";
        return result;
      }
      file = argv[++i];
    } else if (arg.starts_with(std::string(ScreenshotOption) + "=")) {
      file = std::string(arg.substr(ScreenshotOption.size() + 1));
    } else {
      continue;
    }
    if (file.empty()) {
      result.Error = "--screenshot needs the name of the PNG file to write";
      return result;
    }
    if (seen) {
      result.Error = "--screenshot is given more than once";
      return result;
    }
    seen = true;
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(file, ec);
    result.ScreenshotFile = ec ? file : absolute.string();
  }
  return result;
}

QImage RenderMainWindow(TMainForm& mainForm) {
  QApplication::processEvents();
  mainForm.ActionManagerUpdate();
  return mainForm.grab().toImage();
}

int RunProgram(QApplication& app, const TStartupOptions& options) {
  const bool screenshot = !options.ScreenshotFile.empty();
  std::optional<TUnattendedDialogs> unattended;
  if (screenshot) unattended.emplace();

  TMainForm mainForm;
  bool opened = false;
  RunGuarded(&mainForm, [&] { opened = mainForm.FormCreate(); });
  if (!opened) return screenshot ? ScreenshotNoWindow : 0;

  const QString assetDir = QString::fromStdString(ExeDir());
  auto helpForm = std::make_unique<THelpForm>(&mainForm, assetDir);
  auto aboutForm = std::make_unique<TAboutForm>(&mainForm, assetDir);
  mainForm.SetHelpForm(helpForm.get());
  mainForm.SetAboutForm(aboutForm.get());

  mainForm.show();
  if (options.OnShown) options.OnShown(mainForm);
  if (screenshot) {
    const QImage shot = RenderMainWindow(mainForm);
    if (!shot.save(QString::fromStdString(options.ScreenshotFile), "PNG")) {
      std::fprintf(stderr, "vantor: the screenshot \"%s\" cannot be written\n",
                   options.ScreenshotFile.c_str());
      return ScreenshotNotSaved;
    }
    return ScreenshotWritten;
  }
  if (!mainForm.isVisible()) return 0;
  QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
  return app.exec();
}

}  // namespace vantor
