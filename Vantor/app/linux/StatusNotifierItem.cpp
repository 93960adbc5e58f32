#include "StatusNotifierItem.h"

#include "KestrixProtocol/BrokerPlace.h"
#include "Vantor/Log.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QImage>
#include <QTimer>
#include <QtEndian>

namespace vantor {

QDBusArgument& operator<<(QDBusArgument& argument, const SniPixmap& pixmap) {
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.data;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniPixmap& pixmap) {
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.data;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& tip) {
    argument.beginStructure();
    argument << tip.iconName << tip.pixmaps << tip.title << tip.description;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& tip) {
    argument.beginStructure();
    argument >> tip.iconName >> tip.pixmaps >> tip.title >> tip.description;
    argument.endStructure();
    return argument;
}

namespace {

void registerTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<SniPixmap>();
        qDBusRegisterMetaType<SniPixmapList>();
        qDBusRegisterMetaType<SniToolTip>();
        return true;
    }();
    (void)registered;
}

} // namespace

StatusNotifierItem::StatusNotifierItem(QMenu& menu, QDBusConnection bus, const QString& id,
                                       const QString& title)
    : bus_(std::move(bus))
    , id_(id)
    , title_(title)
    , toolTip_(title) {
    registerTypes();
    exporter_ = std::make_unique<DBusMenuExporter>(menu, bus_, QString::fromLatin1(menuPath));
    if (!bus_.isConnected()) return;
    exported_ =
        bus_.registerObject(QString::fromLatin1(itemPath), this,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                QDBusConnection::ExportAllProperties);
    // The name hosts know items by: one per process and item.
    QString name =
        QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(QCoreApplication::applicationPid());
    serviceName_ = bus_.registerService(name) ? name : bus_.baseService();
    // A host that starts (or starts again) after Vantor gets the item too.
    watcher_ = std::make_unique<QDBusServiceWatcher>(QString::fromLatin1(watcherService), bus_,
                                                     QDBusServiceWatcher::WatchForRegistration);
    connect(watcher_.get(), &QDBusServiceWatcher::serviceRegistered, this,
            [this] { registerWithWatcher(); });
    registerWithWatcher();
}

StatusNotifierItem::~StatusNotifierItem() {
    if (!bus_.isConnected()) return;
    if (exported_) bus_.unregisterObject(QString::fromLatin1(itemPath));
    if (serviceName_ != bus_.baseService()) bus_.unregisterService(serviceName_);
}

void StatusNotifierItem::registerWithWatcher() {
    if (!exported_) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(watcherService), QStringLiteral("/StatusNotifierWatcher"),
        QString::fromLatin1(watcherService), QStringLiteral("RegisterStatusNotifierItem"));
    call << serviceName_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* done) {
                done->deleteLater();
                registered_ = !done->isError();
                // Whoever owns the watcher's name words the refusal: one line, cut short.
                if (done->isError() && done->error().type() != QDBusError::ServiceUnknown)
                    Log::info("the tray did not take Vantor's icon: " +
                              kestrix::BrokerPlace::loggable(done->error().message().toStdString(),
                                                             kestrix::BrokerPlace::peerTextLimit));
            });
}

void StatusNotifierItem::setIcon(const QIcon& icon) {
    pixmaps_ = pixmaps(icon);
    if (exported_) Q_EMIT NewIcon();
}

void StatusNotifierItem::setToolTip(const QString& text) {
    if (toolTip_ == text) return;
    toolTip_ = text;
    if (exported_) Q_EMIT NewToolTip();
}

SniPixmapList StatusNotifierItem::pixmaps(const QIcon& icon) {
    SniPixmapList list;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QImage image = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
        if (image.isNull()) continue;
        SniPixmap pixmap{image.width(), image.height(), {}};
        pixmap.data.resize(static_cast<qsizetype>(image.width()) * image.height() * 4);
        auto* out = reinterpret_cast<uchar*>(pixmap.data.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x, out += 4)
                qToBigEndian<quint32>(line[x], out);
        }
        list.push_back(std::move(pixmap));
    }
    return list;
}

void StatusNotifierItem::activate() {
    // After the reply, so the host is not kept waiting while the window opens.
    QTimer::singleShot(0, this, [this] {
        if (onActivate) onActivate();
    });
}

void StatusNotifierItem::Activate(int, int) {
    activate();
}

void StatusNotifierItem::ContextMenu(int, int) {
    // Only a host that cannot draw the exported menu asks for this (swaybar, for either click):
    // the settings window stands in for a menu that would be a window of its own.
    activate();
}

void StatusNotifierItem::SecondaryActivate(int, int) {}

void StatusNotifierItem::Scroll(int, const QString&) {}

} // namespace vantor
