// The notification reaches a notification service on a real session bus (a private
// dbus-daemon); the service here records what it is asked to show.
#include "platform/notify/Notify.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QVariantMap>

#include "tests/support/TestSupport.h"

namespace {

class Recorder : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public:
    QStringList summaries;
    QVariantMap lastHints;
  public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString&,
                const QStringList&, const QVariantMap& hints, int) {
        summaries << summary;
        lastHints = hints;
        return static_cast<uint>(summaries.size());
    }
};

TEST(Notify, ReachesTheSessionService) {
    if (!QDBusConnection::sessionBus().isConnected()) GTEST_SKIP() << "no session bus";
    EXPECT_FALSE(qv::notify::Show("警告！！", "x", "", true));  // nobody listens yet

    QDBusConnection service = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "svc");
    Recorder recorder;
    ASSERT_TRUE(service.registerService("org.freedesktop.Notifications"));
    ASSERT_TRUE(service.registerObject("/org/freedesktop/Notifications", &recorder,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(qv::notify::Show("警告！！", "12:00 モード１", "/tmp/d.jpg", true));
    qvtest::WaitFor([&] { return !recorder.summaries.isEmpty(); }, 10000);
    ASSERT_EQ(recorder.summaries, QStringList{"警告！！"});
    EXPECT_EQ(recorder.lastHints.value("image-path").toString(), "file:///tmp/d.jpg");
    EXPECT_EQ(recorder.lastHints.value("urgency").toInt(), 2);
}

}  // namespace

#include "NotifyTest.moc"
