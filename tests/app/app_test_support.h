#pragma once
// Helpers shared by the app tests: a recorder that answers every dialog, a
// program directory in a temporary folder, wave files, and an audio back end
// that only records.

#include <QDialog>
#include <filesystem>
#include <fstream>
#include <functional>
#include <QLabel>
#include <optional>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/message_form.h"
#include "app/paths.h"
#include "app/sound_player.h"
#include "support/temp_dir.h"

namespace vantor::testing {

struct TShownDialog {
  std::string Caption;
  std::string Message;
  TMsgDlgType Type;
};

// Answers every dialog with its first button's modal result (OK for the
// boxes) and records what it showed; restores the previous hooks at the end.
class TDialogRecorder {
 public:
  TDialogRecorder() {
    FPrevious = SetDialogHooks({[this](QDialog& form) -> std::optional<int> {
                                  auto& message = static_cast<TMessageForm&>(form);
                                  Shown.push_back({form.windowTitle().toStdString(),
                                                   message.MessageLabel()->text().toStdString(),
                                                   message.DialogType()});
                                  if (OnShow) OnShow(message);
                                  return Answer;
                                },
                                nullptr});
  }
  ~TDialogRecorder() { SetDialogHooks(std::move(FPrevious)); }
  TDialogRecorder(const TDialogRecorder&) = delete;
  TDialogRecorder& operator=(const TDialogRecorder&) = delete;

  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (const TShownDialog& d : Shown) out.push_back(d.Message);
    return out;
  }

  std::vector<TShownDialog> Shown;
  std::function<void(TMessageForm&)> OnShow;
  int Answer = 1;

 private:
  TDialogHooks FPrevious;
};

// Makes a temporary folder the program directory (and the current one) for
// the test's lifetime.
class TProgramDir {
 public:
  TProgramDir() : FOldCwd(std::filesystem::current_path().string()) { InitPaths(Dir.File("vantor")); }
  ~TProgramDir() { std::filesystem::current_path(FOldCwd); }
  TProgramDir(const TProgramDir&) = delete;
  TProgramDir& operator=(const TProgramDir&) = delete;

  void WriteFile(const std::string& name, const std::string& content) const {
    std::ofstream(Dir.File(name), std::ios::binary) << content;
  }
  // A minimal wave file: RIFF header, "WAVE", an empty data chunk.
  void WriteWave(const std::string& name) const {
    std::string riff("RIFF\x04\0\0\0WAVE", 12);
    WriteFile(name, riff);
  }

  testing_support::TTempDir Dir;

 private:
  std::string FOldCwd;
};

class TRecordingAudio : public TAudioBackend {
 public:
  explicit TRecordingAudio(std::vector<std::string>& played) : FPlayed(played) {}
  void Play(const std::string& fileName) override { FPlayed.push_back(fileName); }

 private:
  std::vector<std::string>& FPlayed;
};

}  // namespace vantor::testing
