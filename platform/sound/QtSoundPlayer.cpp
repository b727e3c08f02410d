#include <QFileInfo>
#include <QObject>
#include <QSoundEffect>
#include <QUrl>

#include <memory>

#include "platform/sound/SoundPlayer.h"
#include "platform/thread/Handoff.h"

// The resource of a static library has to be pulled in by hand.
static void InitSoundResource() {
    Q_INIT_RESOURCE(sound);
}

namespace qv::sound {
namespace {

constexpr const char* kDefaultSound = "qrc:/quorvex/sound/default.wav";

// Lives on the window thread; every call arrives there through the player's hand-off.
class EffectOwner : public QObject {
  public:
    EffectOwner() {
        effect_.setVolume(1.0);
        // A file Qt cannot read (not a WAVE, broken header) falls back to the default too.
        QObject::connect(&effect_, &QSoundEffect::statusChanged, this, [this] {
            if (effect_.status() == QSoundEffect::Error &&
                effect_.source() != QUrl(QString::fromLatin1(kDefaultSound))) {
                Start(QUrl(QString::fromLatin1(kDefaultSound)), loop_);
            }
        });
    }

    void Play(const QString& path, bool loop) {
        QUrl url = QFileInfo(path).isFile()
                       ? QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath())
                       : QUrl(QString::fromLatin1(kDefaultSound));
        Start(url, loop);
    }

    void Stop() { effect_.stop(); }

  private:
    void Start(const QUrl& url, bool loop) {
        loop_ = loop;
        effect_.stop();
        effect_.setLoopCount(loop ? QSoundEffect::Infinite : 1);
        if (effect_.source() != url) {
            effect_.setSource(url);
        }
        effect_.play();
    }

    QSoundEffect effect_;
    bool loop_ = false;
};

class QtSoundPlayer : public SoundPlayer {
  public:
    QtSoundPlayer()
        : owner_((InitSoundResource(), std::make_unique<EffectOwner>())), handoff_(owner_.get()) {}
    ~QtSoundPlayer() override { handoff_.Close(); }

    // Thread-safe.
    void Play(const std::string& path, bool loop) override {
        handoff_.Post(
            [this, file = QString::fromStdString(path), loop] { owner_->Play(file, loop); });
    }

    // Thread-safe.
    void Stop() override {
        handoff_.Post([this] { owner_->Stop(); });
    }

  private:
    std::unique_ptr<EffectOwner> owner_;  // on the thread that made the player
    thread::Handoff handoff_;
};

}  // namespace

std::unique_ptr<SoundPlayer> MakeSoundPlayer() {
    return std::make_unique<QtSoundPlayer>();
}

std::string DefaultSoundUrl() {
    return kDefaultSound;
}

}  // namespace qv::sound
