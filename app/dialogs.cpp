#include "app/dialogs.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <cstdio>
#include <memory>

#include "app/message_form.h"

namespace vantor {

namespace {

TDialogHooks& Hooks() {
  static TDialogHooks hooks;
  return hooks;
}

bool GDialogClosed = false;

// The system-modal box with a stop icon used when the dialog itself fails.
std::uint16_t FallbackBox(const std::string& message, const std::string& caption, std::uint32_t flags) noexcept {
  try {
    if (Hooks().OnFallback) return static_cast<std::uint16_t>(Hooks().OnFallback(message, caption, flags));
    if (QApplication::instance() != nullptr) {
      QMessageBox box(QMessageBox::Critical, QString::fromStdString(caption), QString::fromStdString(message),
                      QMessageBox::Ok);
      box.setWindowModality(Qt::ApplicationModal);
      box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
      box.exec();
      return 1;
    }
  } catch (...) {
    // fall through to the console
  }
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), message.c_str());
  return 1;
}

void CenterOnMainScreen(QWidget& form) {
  QScreen* screen = nullptr;
  if (QWidget* main = QApplication::activeWindow(); main != nullptr) screen = main->screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  form.move(area.center() - QPoint(form.width() / 2, form.height() / 2));
}

}  // namespace

int ButtonModalResult(TMsgDlgBtn button) {
  switch (button) {
    case TMsgDlgBtn::Yes: return 6;
    case TMsgDlgBtn::No: return 7;
    case TMsgDlgBtn::OK: return 1;
    case TMsgDlgBtn::Cancel: return 2;
    case TMsgDlgBtn::Abort: return 3;
    case TMsgDlgBtn::Retry: return 4;
    case TMsgDlgBtn::Ignore: return 5;
    case TMsgDlgBtn::All: return 8;
    case TMsgDlgBtn::NoToAll: return 9;
    case TMsgDlgBtn::YesToAll: return 10;
    case TMsgDlgBtn::Help: return 0;
  }
  return 0;
}

bool DialogClosed() { return GDialogClosed; }

TDialogHooks SetDialogHooks(TDialogHooks hooks) {
  TDialogHooks previous = std::move(Hooks());
  Hooks() = std::move(hooks);
  return previous;
}

std::uint16_t ShowMessageDialog(std::string_view message, std::string_view caption, TMsgDlgType type,
                                TMsgDlgButtons buttons, int helpContext, std::uint32_t messageBoxFlags,
                                bool hasDefault, TMsgDlgBtn defaultButton, bool modal) {
  const std::string text(message);
  const std::string title(caption);
  try {
    if (QApplication::instance() == nullptr) throw std::runtime_error("no application object");
    // 1.
    if (helpContext != 0) buttons.Add(TMsgDlgBtn::Help);
    // 2., 4.
    auto form = std::make_unique<TMessageForm>(text, type, buttons);
    form->setWindowTitle(QString::fromStdString(title));
    form->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    CenterOnMainScreen(*form);
    // 5.-7.
    form->ReplaceButtons();
    if (hasDefault) form->FocusDefaultButton(defaultButton);
    form->SetHelpContext(helpContext);

    if (modal) {
      // 8.
      form->setWindowModality(Qt::ApplicationModal);
      if (Hooks().OnShow) {
        if (std::optional<int> answer = Hooks().OnShow(*form)) return static_cast<std::uint16_t>(*answer);
      }
      return static_cast<std::uint16_t>(form->exec());
    }

    // 9. Non-modal: a local event loop serves the whole program until a
    // button closes the dialog.
    form->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    form->setWindowModality(Qt::NonModal);
    int result = 0;
    GDialogClosed = false;
    QEventLoop loop;
    QObject::connect(form.get(), &QDialog::finished, &loop, [&](int r) {
      result = r;
      GDialogClosed = true;
      loop.quit();
    });
    if (Hooks().OnShow) {
      if (std::optional<int> answer = Hooks().OnShow(*form)) {
        GDialogClosed = true;
        return static_cast<std::uint16_t>(*answer);
      }
    }
    form->show();
    if (!GDialogClosed) loop.exec();
    return static_cast<std::uint16_t>(result);
  } catch (...) {
    // 11.
    return FallbackBox(text, title, messageBoxFlags);
  }
}

std::uint16_t ErrorBox(std::string_view message, int helpContext, bool modal) {
  return ShowMessageDialog(message, "Error", TMsgDlgType::Error, {TMsgDlgBtn::OK}, helpContext, 0, false,
                           TMsgDlgBtn::OK, modal);
}

std::uint16_t InfoBox(std::string_view message, int helpContext, bool modal) {
  return ShowMessageDialog(message, "Information", TMsgDlgType::Information, {TMsgDlgBtn::OK}, helpContext, 0,
                           false, TMsgDlgBtn::OK, modal);
}

std::string FormatText(std::string_view format, std::initializer_list<TFormatArg> args) {
  std::string out;
  auto next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c == '%' && i + 1 < format.size()) {
      const char spec = format[i + 1];
      if (spec == '%') {
        out += '%';
        ++i;
        continue;
      }
      if (spec == 'd' || spec == 's') {
        if (next != args.end()) {
          if (const auto* n = std::get_if<long long>(&*next))
            out += std::to_string(*n);
          else
            out += std::get<std::string>(*next);
          ++next;
        }
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

std::uint16_t InfoBoxFmt(std::string_view format, std::initializer_list<TFormatArg> args, int helpContext,
                         bool modal) {
  return InfoBox(FormatText(format, args), helpContext, modal);
}

}  // namespace vantor
