// The bundled sounds go through Qt Multimedia's media back end the way the
// game plays them: a machine that lacks the decoder the back end needs for
// wave files fails here instead of staying silent in the game. No audio
// device is needed: the sounds are decoded, not heard.
#include "app/sound_player.h"

#include <gtest/gtest.h>

#include <QAudioBuffer>
#include <QAudioDecoder>
#include <QAudioOutput>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QMediaPlayer>
#include <QTimer>
#include <QUrl>
#include <string>

#include "app/assets/asset_names.h"

namespace {

constexpr int WaitMs = 20000;

// The bundled sounds, as the build puts them beside the test program.
QString BundledSound(const char* name) {
  return QDir(QCoreApplication::applicationDirPath()).filePath(QString::fromUtf8(name));
}

const char* const BundledSounds[] = {vantor::AssetNames::RightSound,
                                     vantor::AssetNames::WrongSound};

TEST(BundledSounds, AreWaveFilesTheGameAccepts) {
  for (const char* name : BundledSounds) {
    SCOPED_TRACE(name);
    EXPECT_NO_THROW(vantor::CheckWaveFile(BundledSound(name).toStdString()));
  }
}

// Decodes the whole file and counts its sample frames; an error of the back
// end (a missing plug-in among them) is reported with its text.
TEST(BundledSounds, DecodeThroughTheMediaBackend) {
  for (const char* name : BundledSounds) {
    SCOPED_TRACE(name);
    QAudioDecoder decoder;
    ASSERT_TRUE(decoder.isSupported()) << "Qt Multimedia has no audio decoder on this machine";
    qint64 frames = 0;
    QString error;
    bool finished = false;
    QEventLoop loop;
    QObject::connect(&decoder, &QAudioDecoder::bufferReady, &loop, [&] {
      while (decoder.bufferAvailable()) frames += decoder.read().frameCount();
    });
    QObject::connect(&decoder, &QAudioDecoder::finished, &loop, [&] {
      finished = true;
      loop.quit();
    });
    QObject::connect(&decoder, qOverload<QAudioDecoder::Error>(&QAudioDecoder::error), &loop,
                     [&](QAudioDecoder::Error) {
                       error = decoder.errorString().isEmpty() ? QStringLiteral("unnamed error")
                                                               : decoder.errorString();
                       loop.quit();
                     });
    QTimer::singleShot(WaitMs, &loop, &QEventLoop::quit);
    decoder.setSource(QUrl::fromLocalFile(BundledSound(name)));
    decoder.start();
    if (error.isEmpty() && !finished) loop.exec();
    EXPECT_EQ(error.toStdString(), "");
    EXPECT_TRUE(finished) << "decoding did not end within " << WaitMs << " ms";
    // Both sounds are longer than half a second at 22050 Hz.
    EXPECT_GT(frames, 11025);
  }
}

// Loads each sound into a media player set up as the game's (with an audio
// output) and waits until the back end has read it: the player must find an
// audio stream, not report invalid media.
TEST(BundledSounds, LoadIntoTheGamesMediaPlayer) {
  for (const char* name : BundledSounds) {
    SCOPED_TRACE(name);
    QMediaPlayer player;
    QAudioOutput output;
    player.setAudioOutput(&output);
    QString error;
    QEventLoop loop;
    const auto settled = [&player] {
      const QMediaPlayer::MediaStatus status = player.mediaStatus();
      return status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferedMedia ||
             status == QMediaPlayer::InvalidMedia;
    };
    QObject::connect(&player, &QMediaPlayer::mediaStatusChanged, &loop, [&] {
      if (settled()) loop.quit();
    });
    QObject::connect(&player, &QMediaPlayer::errorOccurred, &loop,
                     [&](QMediaPlayer::Error, const QString& text) {
                       error = text.isEmpty() ? QStringLiteral("unnamed error") : text;
                       loop.quit();
                     });
    QTimer::singleShot(WaitMs, &loop, &QEventLoop::quit);
    player.setSource(QUrl::fromLocalFile(BundledSound(name)));
    if (error.isEmpty() && !settled()) loop.exec();
    EXPECT_EQ(error.toStdString(), "");
    EXPECT_NE(player.mediaStatus(), QMediaPlayer::InvalidMedia);
    EXPECT_TRUE(player.hasAudio());
  }
}

}  // namespace
