// The program's command line, its display check and what it prints when the
// question table cannot be opened; the last tests run the program itself.
#include "app/startup.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/version.h"
#include "app_test_support.h"

namespace vantor {
namespace {

TEST(CommandLineTest, OwnOptionsQtOptionsAndRefusals) {
  struct TCase {
    std::vector<const char*> Args;  // after the program name
    const char* Error;              // "" when the line is usable
    bool Help = false;
    bool Version = false;
    const char* Platform = "";
  };
  const TCase cases[] = {
      {{"--help"}, "", true},
      {{"-h"}, "", true},
      {{"--version"}, "", false, true},
      {{"--version", "--help"}, "", true, true},
      // Qt's options pass, with one dash or two, with their values.
      {{"-platform", "offscreen"}, "", false, false, "offscreen"},
      {{"--platform=xcb", "-style", "fusion", "-reverse"}, "", false, false, "xcb"},
      {{"-display", ":1", "-geometry", "100x100", "-stylesheet=a.qss"}, ""},
      {{"--bogus"}, "Unknown option 'bogus'."},
      {{"-x"}, "Unknown option 'x'."},
      {{"--help=yes"}, "Unexpected value after '--help'."},
      {{"questions.db"}, "unexpected argument 'questions.db'"},
      {{"--", "--help"}, "unexpected argument '--help'"},
      {{"-platform"}, "Missing value after '-platform'."},
  };
  for (const TCase& c : cases) {
    std::vector<const char*> args{"vantor"};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    SCOPED_TRACE(c.Args.front());
    const TCommandLine parsed = ParseCommandLine(static_cast<int>(args.size()), args.data());
    EXPECT_EQ(parsed.Error, c.Error);
    if (*c.Error == '\0') {
      EXPECT_EQ(parsed.ShowHelp, c.Help);
      EXPECT_EQ(parsed.ShowVersion, c.Version);
      EXPECT_EQ(parsed.Platform, c.Platform);
      EXPECT_EQ(parsed.ScreenshotFile, "");
    }
  }
}

TEST(CommandLineTest, HelpNamesTheConfigurationAndVersionTheProgram) {
  EXPECT_EQ(VersionText(), "Vantor 3.1");
  const std::string help = HelpText("/opt/vantor");
  EXPECT_EQ(help.rfind(UsageLine, 0), 0u) << help;
  for (const char* part :
       {"--help", "--version", "--screenshot FILE", "(/opt/vantor/Vantor.ini)",
        "section \"Z\", key \"Path\"", "[Z]", "\"C:\\T30G\"", "xvfb-run vantor", "\"velmorn2\""})
    EXPECT_NE(help.find(part), std::string::npos) << part;
}

TEST(DisplayCheckTest, PlatformsThatCannotShowTheGame) {
  struct TCase {
    const char* Platform;
    const char* Display;
    const char* Wayland;
    const char* Problem;
  };
  const TCase cases[] = {
      {"", ":0", "", ""},
      {"", "", "wayland-0", ""},
      {"", "", "", "neither DISPLAY nor WAYLAND_DISPLAY is set"},
      {"xcb", "", "wayland-0", "DISPLAY is not set"},
      {"xcb", "localhost:10.0", "", ""},
      {"offscreen", ":0", "", "the \"offscreen\" platform shows no window"},
      {"offscreen:size=800x600", ":0", "", "the \"offscreen\" platform shows no window"},
      {"minimal", ":0", "", "the \"minimal\" platform shows no window"},
      {"wayland", "", "", ""},  // Qt tries; the start guard reports a failure
      {"vnc", "", "", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Platform) + "|" + c.Display + "|" + c.Wayland);
    EXPECT_EQ(DisplayProblem(c.Platform, c.Display, c.Wayland), c.Problem);
  }
  EXPECT_EQ(NoDisplayLine("DISPLAY is not set"),
            "vantor: no usable display (DISPLAY is not set): start it from a desktop session, or "
            "without one under a virtual display: xvfb-run vantor");
}

TEST(TableDirectoryLineTest, NamesTheDirectoryAndWhereItComesFrom) {
  testing::TProgramDir program;  // the current directory
  const std::string ini = program.Dir.File("Vantor.ini");
  EXPECT_EQ(TableDirectoryLine(ini, "C:\\T30G"),
            "vantor: the question table \"velmorn2\" was looked for in \"C:\\T30G\" (" +
                program.Dir.File("C:/T30G") + "), the default: " + ini + " does not exist");
  program.WriteFile("Vantor.ini", "[Y]\nPath=/srv/quiz\n");
  EXPECT_EQ(TableDirectoryLine(ini, "C:\\T30G"),
            "vantor: the question table \"velmorn2\" was looked for in \"C:\\T30G\" (" +
                program.Dir.File("C:/T30G") + "), the default: " + ini +
                " has no \"Path\" in section \"Z\"");
  program.WriteFile("Vantor.ini", "[Z]\nPath=/srv/quiz\n");
  EXPECT_EQ(TableDirectoryLine(ini, "/srv/quiz"),
            "vantor: the question table \"velmorn2\" was looked for in \"/srv/quiz\", named by "
            "\"Path\" in section \"Z\" of " +
                ini);
  EXPECT_EQ(TableDirectoryLine(ini, "quiz/../tables"),
            "vantor: the question table \"velmorn2\" was looked for in \"quiz/../tables\" (" +
                program.Dir.File("tables") + "), named by \"Path\" in section \"Z\" of " + ini);
}

// --- The program itself. ---

struct TRun {
  int ExitCode = -1;
  std::string Out;
  std::string Err;
};

// Runs `program` with `args` in an environment without any display, plus
// the variables of `env` (name, value), and waits for its end.
TRun RunVantor(const std::string& program, const QStringList& args,
               const std::vector<std::pair<QString, QString>>& env = {}) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    environment.remove(name);
  // Under the sanitizers: leak reports of Qt's platform plugins at the
  // program's end are not the program's own.
  const QString asan = environment.value("ASAN_OPTIONS");
  environment.insert("ASAN_OPTIONS", asan.isEmpty() ? "detect_leaks=0" : asan + ":detect_leaks=0");
  for (const auto& [name, value] : env) environment.insert(name, value);
  QProcess process;
  process.setProcessEnvironment(environment);
  process.start(QString::fromStdString(program), args);
  TRun run;
  if (!process.waitForFinished(60000)) {
    process.kill();
    process.waitForFinished();
    run.Err = "the program did not end";
    return run;
  }
  run.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
  run.Out = process.readAllStandardOutput().toStdString();
  run.Err = process.readAllStandardError().toStdString();
  return run;
}

const std::string Program = VANTOR_PROGRAM;

TEST(ProgramTest, HelpVersionAndRefusedOptions) {
  const TRun version = RunVantor(Program, {"--version"});
  EXPECT_EQ(version.ExitCode, 0) << version.Err;
  EXPECT_EQ(version.Out, std::string("Vantor ") + ProgramVersion + "\n");

  const TRun help = RunVantor(Program, {"--help"});
  EXPECT_EQ(help.ExitCode, 0) << help.Err;
  const std::string programDir = std::filesystem::path(Program).parent_path().string();
  EXPECT_EQ(help.Out, HelpText(programDir));

  struct TRefused {
    QStringList Args;
    std::string Err;
  };
  const TRefused refused[] = {
      {{"--bogus"}, "vantor: Unknown option 'bogus'.\n"},
      {{"extra"}, "vantor: unexpected argument 'extra'\n"},
      {{"--screenshot"}, "vantor: Missing value after '--screenshot'.\n"},
  };
  for (const TRefused& r : refused) {
    SCOPED_TRACE(r.Args.front().toStdString());
    const TRun run = RunVantor(Program, r.Args);
    EXPECT_EQ(run.ExitCode, UsageError);
    EXPECT_EQ(run.Err, r.Err + UsageLine + "\n");
    EXPECT_EQ(run.Out, "");
  }
}

// Without a usable display the program says so in one line and ends before
// any window exists, instead of aborting in Qt or waiting on a dialog that
// nobody can see.
TEST(ProgramTest, NoUsableDisplayIsOneLineAndNonZero) {
  struct TCase {
    const char* Name;
    std::vector<std::pair<QString, QString>> Env;
    const char* Reason;
  };
  const TCase cases[] = {
      {"no DISPLAY", {}, "(neither DISPLAY nor WAYLAND_DISPLAY is set)"},
      {"offscreen",
       {{"QT_QPA_PLATFORM", "offscreen"}},
       "(the \"offscreen\" platform shows no window)"},
      {"DISPLAY of no server", {{"DISPLAY", ":987"}}, ":987"},
      {"xcb asked for on no server",
       {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", "127.0.0.1:987"}},
       ":987"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TRun run = RunVantor(Program, {}, c.Env);
    EXPECT_EQ(run.ExitCode, NoUsableDisplay) << run.Err;
    EXPECT_EQ(run.Err.rfind("vantor: no usable display (", 0), 0u) << run.Err;
    EXPECT_NE(run.Err.find(c.Reason), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("xvfb-run vantor\n"), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find('\n'), run.Err.size() - 1) << "more than one line: " << run.Err;
  }
}

// Screenshot mode needs no display; a table that cannot be opened ends it
// with the dialog's text and the directory that was tried.
TEST(ProgramTest, AFailedStartNamesTheDirectoryTried) {
  testing_support::TTempDir dir;
  const std::string copy = dir.File("vantor");
  std::filesystem::copy_file(Program, copy);
  std::filesystem::permissions(copy, std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  const std::string ini = dir.File("Vantor.ini");
  {
    std::ofstream out(ini);
    out << "[Z]\nPath=/no/such/quiz\n";
  }
  const TRun run = RunVantor(copy, {"--screenshot", QString::fromStdString(dir.File("shot.png"))});
  EXPECT_EQ(run.ExitCode, ScreenshotNoWindow) << run.Err;
  // The dialog's line (the engine's message and "."), then the directory;
  // Qt may add notes of its own about the environment.
  std::vector<std::string> lines;
  std::istringstream in(run.Err);
  for (std::string line; std::getline(in, line);)
    if (line.starts_with("vantor: ")) lines.push_back(line);
  ASSERT_EQ(lines.size(), 2u) << run.Err;
  EXPECT_EQ(lines[0].rfind("vantor: Error: Tarn Engine Error # ", 0), 0u) << run.Err;
  EXPECT_EQ(lines[1],
            "vantor: the question table \"velmorn2\" was looked for in \"/no/such/quiz\", named by "
            "\"Path\" in section \"Z\" of " +
                ini);
  EXPECT_FALSE(std::filesystem::exists(dir.File("shot.png")));
}

}  // namespace
}  // namespace vantor
