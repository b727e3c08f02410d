// The sound player from several threads, with missing files and (here) no audio device:
// nothing may fail or hang.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <thread>

#include "platform/sound/SoundPlayer.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(SoundPlayerTest, PlayLoopStopFromAnyThreadWithoutDevice) {
    auto player = qv::sound::MakeSoundPlayer();
    const std::string beep = std::string(QUORVEX_SOURCE_ASSETS) + "/sounds/beep.wav";
    ASSERT_TRUE(qvtest::FileExists(beep));
    std::thread worker([&] {
        for (int i = 0; i < 20; ++i) {
            player->Play(i % 2 ? beep : "/no/such/sound.wav", i % 3 == 0);
            if (i % 5 == 0) player->Stop();
        }
    });
    worker.join();
    QTimer::singleShot(500, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    player->Stop();
    player.reset();  // the player ends cleanly with a sound queued or playing
    SUCCEED();
}

}  // namespace
