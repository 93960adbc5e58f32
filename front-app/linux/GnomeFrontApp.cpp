// The app in front on GNOME Shell, through the Shell extension that publishes the focused
// window's app on the session bus (GnomeExtensionFrontApp).
#include "GnomeExtensionFrontApp.h"
#include "Sources.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>

namespace kestrix::core {

FrontAppAttempt makeGnomeFrontApp(MainLoop& loop, const FrontAppSession&,
                                  FrontAppIdentityRef identity, const FrontAppLog& log) {
    if (!QCoreApplication::instance())
        return {nullptr, "GNOME Shell is asked over D-Bus, which needs Qt's event loop."};
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return {nullptr, "GNOME Shell is asked over D-Bus, and there is no session bus."};
    if (!bus.interface()->isServiceRegistered(QStringLiteral("org.gnome.Shell")))
        return {nullptr, "GNOME Shell is not on the session bus."};
    return {std::make_unique<GnomeExtensionFrontApp>(loop, std::move(identity), bus, log), {}};
}

} // namespace kestrix::core
