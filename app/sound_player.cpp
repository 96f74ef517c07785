#include "app/sound_player.h"

#include <QAudioOutput>
#include <QMediaPlayer>
#include <QUrl>
#include <array>
#include <cstring>
#include <fstream>

namespace vantor {

void CheckWaveFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw ESoundError("The sound file \"" + fileName + "\" cannot be opened");
  std::array<char, 12> header{};
  in.read(header.data(), header.size());
  if (in.gcount() != static_cast<std::streamsize>(header.size()) || std::memcmp(header.data(), "RIFF", 4) != 0 ||
      std::memcmp(header.data() + 8, "WAVE", 4) != 0)
    throw ESoundError("The sound file \"" + fileName + "\" is not a wave file");
}

TMediaBackend::TMediaBackend() = default;

TMediaBackend::~TMediaBackend() {
  if (FPlayer) FPlayer->stop();
}

void TMediaBackend::Play(const std::string& fileName) {
  if (!FPlayer) {
    FPlayer = std::make_unique<QMediaPlayer>();
    FOutput = std::make_unique<QAudioOutput>();
    FPlayer->setAudioOutput(FOutput.get());
  }
  FPlayer->stop();
  FPlayer->setSource(QUrl::fromLocalFile(QString::fromStdString(fileName)));
  FPlayer->play();
}

TSoundPlayer::TSoundPlayer(std::unique_ptr<TAudioBackend> backend) : FBackend(std::move(backend)) {}

TSoundPlayer::~TSoundPlayer() = default;

void TSoundPlayer::Play(const std::string& fileName) {
  CheckWaveFile(fileName);
  FFileName = fileName;
  if (!FBackend) FBackend = std::make_unique<TMediaBackend>();
  FBackend->Play(fileName);
}

}  // namespace vantor
