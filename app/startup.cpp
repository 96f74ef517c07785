#include "app/startup.h"

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "app/about_form.h"
#include "app/config.h"
#include "app/corrections_form.h"
#include "app/dialogs.h"
#include "app/exception_handler.h"
#include "app/help_form.h"
#include "app/main_form.h"
#include "app/message_form.h"
#include "app/paths.h"
#include "app/table_location.h"
#include "app/version.h"
#include "dbcomp/session_list.h"

namespace vantor {

namespace {

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

// Qt's own command-line options, which the application object takes out of
// the arguments; the program accepts them and leaves them alone. The first
// take a value ("-platform offscreen"), the others none.
constexpr const char* QtValueOptions[] = {
    "platform",
    "platformpluginpath",
    "platformtheme",
    "plugin",
    "qwindowgeometry",
    "geometry",
    "qwindowicon",
    "icon",
    "qwindowtitle",
    "title",
    "session",
    "display",
    "name",
    "visual",
    "style",
    "stylesheet",
    "qmljsdebugger",
};
constexpr const char* QtFlagOptions[] = {"reverse", "widgetcount", "nograb",
                                         "dograb",  "sync",        "testability"};

struct THeldMessage {
  QtMsgType Type;
  std::string Category;
  QString Text;
};

// What TPlatformStartGuard holds while it lives.
struct TPlatformStartState {
  bool Active = false;
  std::string Platform;
  QtMessageHandler Previous = nullptr;
  std::vector<THeldMessage> Held;
};

TPlatformStartState& PlatformStart() {
  static TPlatformStartState state;
  return state;
}

// Holds Qt's messages while the platform starts; a fatal one means that it
// could not start, and ends the program with one line.
void HoldStartMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  TPlatformStartState& state = PlatformStart();
  const std::string category = context.category != nullptr ? context.category : "";
  if (type != QtFatalMsg) {
    state.Held.push_back({type, category, text});
    return;
  }
  // The platform plugin says why ("could not connect to display :9"); Qt's
  // closing words only suggest reinstalling.
  std::string reason;
  for (const THeldMessage& m : state.Held) {
    if (m.Category.starts_with("qt.qpa") && m.Type != QtDebugMsg) {
      reason = m.Text.toStdString();
      break;
    }
  }
  if (reason.empty()) {
    const std::string platform = state.Platform.empty() ? std::string("xcb") : state.Platform;
    reason = "Qt cannot start the \"" + platform + "\" platform";
  }
  std::fprintf(stderr, "%s\n", NoDisplayLine(reason).c_str());
  std::fflush(stderr);
  std::_Exit(NoUsableDisplay);
}

}  // namespace

TCommandLine ParseCommandLine(int argc, const char* const* argv) {
  TCommandLine result;
  QStringList args;
  for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  if (args.isEmpty()) args << QStringLiteral("vantor");

  QCommandLineParser parser;
  // "-platform" is one option, not "-p -l -a ...": Qt's options use one dash.
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
  const QCommandLineOption version(QStringLiteral("version"));
  const QCommandLineOption edit(QStringLiteral("edit"));
  const QCommandLineOption screenshot(QStringLiteral("screenshot"), QString(),
                                      QStringLiteral("FILE"));
  parser.addOption(help);
  parser.addOption(version);
  parser.addOption(edit);
  parser.addOption(screenshot);
  for (const char* name : QtValueOptions)
    parser.addOption(
        QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value")));
  for (const char* name : QtFlagOptions)
    parser.addOption(QCommandLineOption(QString::fromLatin1(name)));

  if (!parser.parse(args)) {
    result.Error = parser.errorText().toStdString();
    return result;
  }
  if (!parser.positionalArguments().isEmpty()) {
    result.Error =
        "unexpected argument '" + parser.positionalArguments().front().toStdString() + "'";
    return result;
  }
  result.ShowHelp = parser.isSet(help);
  result.ShowVersion = parser.isSet(version);
  result.Edit = parser.isSet(edit);
  result.Platform = parser.value(QStringLiteral("platform")).toStdString();
  const QStringList files = parser.values(screenshot);
  if (files.size() > 1) {
    result.Error = "--screenshot is given more than once";
    return result;
  }
  if (files.size() == 1) {
    const std::string file = files.front().toStdString();
    if (file.empty()) {
      result.Error = "--screenshot needs the name of the PNG file to write";
      return result;
    }
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(file, ec);
    result.ScreenshotFile = ec ? file : absolute.string();
  }
  return result;
}

std::string VersionText() { return std::string("Vantor ") + ProgramVersion; }

std::string HelpText(const std::string& programDir) {
  const std::string ini = programDir + "/" + std::string(ConfigFileName);
  std::string text;
  text += std::string(UsageLine) + "\n\n";
  text += VersionText() + ", a multiple-choice quiz game.\n\n";
  text +=
      "Options:\n"
      "  -h, --help         show this text and end\n"
      "  --version          show the program's version and end\n"
      "  --edit             open the question editor on the game's question table\n"
      "                     instead of the game\n"
      "  --screenshot FILE  start as usual, write the main window (with --edit: the\n"
      "                     editor) on its first question to FILE (PNG) and end;\n"
      "                     every dialog is answered with OK and printed on stderr.\n"
      "                     Draws offscreen unless QT_QPA_PLATFORM names a platform,\n"
      "                     so it needs no display.\n"
      "Qt's own options (-platform NAME, -style NAME, -reverse, ...) are passed on to Qt.\n\n";
  text += "The question table \"" + std::string(QuestionTableName) +
          "\" lies in the directory named by\n";
  text += "\"" + std::string(ConfigFileName) + "\" in the program's directory (" + ini + "),\n";
  text +=
      "section \"Z\", key \"Path\", for example:\n"
      "  [Z]\n"
      "  Path=/home/player/quiz\n";
  text += "Without that file, section or key the directory is \"" + std::string(DefaultTablePath) +
          "\".\n";
  text += "A relative path is taken from the program's directory.\n\n";
  text +=
      "The game opens windows, so it needs a display: start it from a desktop session,\n"
      "or without one under a virtual display: xvfb-run vantor\n\n"
      "Exit status: 0 when the game ends (also after the error dialog of a question\n"
      "table that cannot be opened), 2 for an unusable command line, 3 when there is\n"
      "no usable display; in screenshot mode 1 when the table cannot be opened and\n"
      "2 when the picture cannot be written.\n";
  return text;
}

std::string DisplayProblem(std::string_view platform, std::string_view display,
                           std::string_view waylandDisplay) {
  const std::string_view name = platform.substr(0, platform.find(':'));
  if (name == "offscreen" || name == "minimal" || name == "minimalegl")
    return "the \"" + std::string(name) + "\" platform shows no window";
  if (name.empty() && display.empty() && waylandDisplay.empty())
    return "neither DISPLAY nor WAYLAND_DISPLAY is set";
  if (name == "xcb" && display.empty()) return "DISPLAY is not set";
  return {};
}

std::string NoDisplayLine(std::string_view reason) {
  return "vantor: no usable display (" + std::string(reason) +
         "): start it from a desktop session, or without one under a virtual display: " +
         "xvfb-run vantor";
}

TPlatformStartGuard::TPlatformStartGuard(std::string platform) {
  assert(!PlatformStart().Active);
  PlatformStart().Active = true;
  PlatformStart().Platform = std::move(platform);
  PlatformStart().Previous = qInstallMessageHandler(&HoldStartMessage);
}

TPlatformStartGuard::~TPlatformStartGuard() {
  TPlatformStartState& state = PlatformStart();
  qInstallMessageHandler(state.Previous);
  std::vector<THeldMessage> held = std::move(state.Held);
  state = TPlatformStartState{};
  for (const THeldMessage& m : held) {
    const QMessageLogContext context(nullptr, 0, nullptr, m.Category.c_str());
    qt_message_output(m.Type, context, m.Text);
  }
}

std::string TableDirectoryLine(const std::string& iniPath, const std::string& directory) {
  std::string line = "vantor: the question table \"" + std::string(QuestionTableName) +
                     "\" was looked for in \"" + directory + "\"";
  // The engine reads "\" as a separator too.
  std::string osPath = directory;
  std::replace(osPath.begin(), osPath.end(), '\\', '/');
  if (!osPath.empty() && osPath.front() != '/') {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(osPath, ec);
    if (!ec) line += " (" + absolute.lexically_normal().string() + ")";
  }
  // A line break cannot stand in an INI value, so it marks a missing key.
  constexpr std::string_view missing = "\n";
  std::error_code ec;
  if (!std::filesystem::exists(iniPath, ec))
    line += ", the default: " + iniPath + " does not exist";
  else if (ReadProfileString(iniPath, "Z", "Path", missing) == missing)
    line += ", the default: " + iniPath + " has no \"Path\" in section \"Z\"";
  else
    line += ", named by \"Path\" in section \"Z\" of " + iniPath;
  return line;
}

QImage RenderWindow(QWidget& window) {
  QApplication::processEvents();
  return window.grab().toImage();
}

namespace {

// Writes `shot` to the screenshot file; answers the screenshot exit code.
int SaveScreenshot(const QImage& shot, const std::string& fileName) {
  if (!shot.save(QString::fromStdString(fileName), "PNG")) {
    std::fprintf(stderr, "vantor: the screenshot \"%s\" cannot be written\n", fileName.c_str());
    return ScreenshotNotSaved;
  }
  return ScreenshotWritten;
}

void PrintTableDirectory() {
  const std::string iniPath = ExePath(ConfigFileName);
  std::fprintf(stderr, "%s\n", TableDirectoryLine(iniPath, ReadTablePath(iniPath)).c_str());
  std::fflush(stderr);
}

// "vantor --edit": the editor on the game's table is the program's window.
int RunEditor(QApplication& app, const TStartupOptions& options) {
  const bool screenshot = !options.ScreenshotFile.empty();
  dbcomp::DefaultSession().AddPassword(TablePassword);
  // The same table the game plays: a read-only (installed) one through the
  // user's own copy.
  const TTableLocation location = PlayableTableDirectory(ReadTablePath(ExePath(ConfigFileName)), QuestionTableName);
  if (!location.Error.empty()) {
    ErrorBox(location.Error + ".", 0, true);
    return screenshot ? ScreenshotNoWindow : 0;
  }
  TCorrectionsForm editor;
  try {
    editor.OpenTable(location.Directory);
  } catch (const std::exception& e) {
    ErrorBox(std::string(e.what()) + ".", 0, true);
    PrintTableDirectory();
    return screenshot ? ScreenshotNoWindow : 0;
  }
  editor.show();
  if (screenshot) return SaveScreenshot(RenderWindow(editor), options.ScreenshotFile);
  if (!editor.isVisible()) return 0;
  QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
  const int code = app.exec();
  RunGuarded(&editor, [&] { editor.CloseTable(); });
  return code;
}

}  // namespace

QImage RenderMainWindow(TMainForm& mainForm) {
  QApplication::processEvents();
  mainForm.ActionManagerUpdate();
  return mainForm.grab().toImage();
}

int RunProgram(QApplication& app, const TStartupOptions& options) {
  const bool screenshot = !options.ScreenshotFile.empty();
  std::optional<TUnattendedDialogs> unattended;
  if (screenshot) unattended.emplace();
  if (options.Edit) return RunEditor(app, options);

  TMainForm mainForm;
  bool opened = false;
  RunGuarded(&mainForm, [&] { opened = mainForm.FormCreate(); });
  if (!opened) {
    PrintTableDirectory();
    return screenshot ? ScreenshotNoWindow : 0;
  }

  const QString assetDir = QString::fromStdString(ExeDir());
  auto helpForm = std::make_unique<THelpForm>(&mainForm, assetDir);
  auto aboutForm = std::make_unique<TAboutForm>(&mainForm, assetDir);
  mainForm.SetHelpForm(helpForm.get());
  mainForm.SetAboutForm(aboutForm.get());
  auto editorForm = std::make_unique<TCorrectionsForm>(&mainForm);
  editorForm->SetDatabaseName(mainForm.DatabaseName());
  mainForm.SetEditorForm(editorForm.get());

  mainForm.show();
  if (options.OnShown) options.OnShown(mainForm);
  if (screenshot) {
    return SaveScreenshot(RenderMainWindow(mainForm), options.ScreenshotFile);
  }
  if (!mainForm.isVisible()) return 0;
  QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
  return app.exec();
}

}  // namespace vantor
