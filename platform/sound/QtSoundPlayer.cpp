#include <QCoreApplication>
#include <QFileInfo>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QSoundEffect>
#include <QUrl>

#include "platform/sound/SoundPlayer.h"

// The resource of a static library has to be pulled in by hand.
static void InitSoundResource() {
    Q_INIT_RESOURCE(sound);
}

namespace qv::sound {
namespace {

constexpr const char* kDefaultSound = "qrc:/quorvex/sound/default.wav";

// Lives on the window thread; every call arrives there as a queued call.
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
    QtSoundPlayer() : owner_((InitSoundResource(), new EffectOwner)) {}
    ~QtSoundPlayer() override { delete owner_.data(); }

    void Play(const std::string& path, bool loop) override {
        QString file = QString::fromStdString(path);
        Queue([owner = owner_, file, loop] {
            if (owner) owner->Play(file, loop);
        });
    }

    void Stop() override {
        Queue([owner = owner_] {
            if (owner) owner->Stop();
        });
    }

  private:
    template <typename Fn>
    void Queue(Fn fn) {
        if (!owner_ || !QCoreApplication::instance()) return;
        QMetaObject::invokeMethod(owner_.data(), std::move(fn), Qt::QueuedConnection);
    }

    QPointer<EffectOwner> owner_;
};

}  // namespace

std::unique_ptr<SoundPlayer> MakeSoundPlayer() {
    return std::make_unique<QtSoundPlayer>();
}

std::string DefaultSoundUrl() {
    return kDefaultSound;
}

}  // namespace qv::sound
