#pragma once
// Plays the game's wave files without waiting for their end.
//
// Play checks the file synchronously first, so that a missing or damaged
// file raises at once in the caller (and reaches the application's
// exception handler); the playing itself is handed to the audio back end and
// runs on while the program goes on. A file opened before is closed first.

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

class QMediaPlayer;
class QAudioOutput;

namespace vantor {

// Raised when a sound file cannot be opened or played.
class ESoundError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raises ESoundError unless `fileName` exists, is readable and starts with a
// RIFF header of form type "WAVE" (bytes 0-3 "RIFF", 8-11 "WAVE").
void CheckWaveFile(const std::string& fileName);

// Where a checked file goes to be played.
class TAudioBackend {
 public:
  virtual ~TAudioBackend() = default;
  // Closes what was open before, opens the file and starts playing.
  virtual void Play(const std::string& fileName) = 0;
};

// The Qt Multimedia back end; created on first use.
class TMediaBackend : public TAudioBackend {
 public:
  TMediaBackend();
  ~TMediaBackend() override;
  void Play(const std::string& fileName) override;

 private:
  std::unique_ptr<QMediaPlayer> FPlayer;
  std::unique_ptr<QAudioOutput> FOutput;
};

class TSoundPlayer {
 public:
  // Without a back end, Qt Multimedia plays the sounds.
  explicit TSoundPlayer(std::unique_ptr<TAudioBackend> backend = nullptr);
  ~TSoundPlayer();
  // Checks the file (raising ESoundError), then plays it.
  void Play(const std::string& fileName);
  const std::string& FileName() const noexcept { return FFileName; }

 private:
  std::unique_ptr<TAudioBackend> FBackend;
  std::string FFileName;
};

}  // namespace vantor
