#include "platform/notify/Notify.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

namespace qv::notify {

namespace {
const char* const kService = "org.freedesktop.Notifications";
}

bool Show(const std::string& title, const std::string& body, const std::string& imagePath,
          bool urgent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(kService))
        return false;
    QVariantMap hints;
    hints["urgency"] = QVariant::fromValue<uchar>(urgent ? 2 : 1);
    if (!imagePath.empty())
        hints["image-path"] = QUrl::fromLocalFile(QString::fromStdString(imagePath)).toString();
    QDBusMessage call = QDBusMessage::createMethodCall(kService, "/org/freedesktop/Notifications",
                                                       kService, "Notify");
    call << QString("Quorvex") << 0u << QString("quorvex") << QString::fromStdString(title)
         << QString::fromStdString(body) << QStringList() << hints << -1;
    // Not waited for: a slow service must not hold the window.
    return bus.send(call);
}

}  // namespace qv::notify
