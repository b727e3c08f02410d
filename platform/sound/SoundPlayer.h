// Warning sounds: play a WAVE file once or in a loop, or stop it. One player per program,
// callable from any thread; the sound itself is played on the thread that made the player
// (the window thread). A missing or unreadable file plays the built-in default sound; without
// an audio device nothing is heard and nothing fails.
#pragma once

#include <memory>
#include <string>

namespace qv::sound {

class SoundPlayer {
  public:
    virtual ~SoundPlayer() = default;
    // Any thread. Replaces whatever plays now.
    virtual void Play(const std::string& path, bool loop) = 0;
    // Any thread. Stops the sound, if any.
    virtual void Stop() = 0;
};

// The Qt Multimedia player. Make it on the thread that runs the Qt event loop, after the
// application object exists.
std::unique_ptr<SoundPlayer> MakeSoundPlayer();

// The resource URL of the default sound ("qrc:/..."), for tests.
std::string DefaultSoundUrl();

}  // namespace qv::sound
