#include "GnomeExtensionFrontApp.h"

#include "FrontApp/ShellReports.h"
#include "KestrixProtocol/MainLoop.h"

#include <QDBusArgument>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace kestrix::core {

namespace {

const QString shellService = QStringLiteral("org.gnome.Shell");
const QString shellPath = QStringLiteral("/org/gnome/Shell");
const QString extensionsInterface = QStringLiteral("org.gnome.Shell.Extensions");
const QString focusPath = QStringLiteral("/me/orvella/FrontApp");
const QString focusInterface = QStringLiteral("me.orvella.FrontApp1");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// The extension states of the Shell's extension system.
constexpr int enabledState = 1;
constexpr int errorState = 3;
constexpr int outOfDateState = 4;

// The command on a line of its own, indented, which the status dialog shows unwrapped.
std::string enableCommand() {
    return std::string("\n    gnome-extensions enable ") + GnomeExtensionFrontApp::extensionUUID;
}

} // namespace

FrontAppStatus gnomeExtensionStatus(const QVariantMap& info, std::function<void()> enable) {
    const std::string lead = "GNOME Shell tells which app is in front only through Vantor's "
                             "extension, which ";
    if (info.isEmpty())
        return FrontAppStatus::unavailable(
            lead + "GNOME Shell has not loaded since it was installed. Enable it with this "
                   "command, then log out and in:" +
            enableCommand());
    int state = info.value(QStringLiteral("state")).toInt();
    if (state == outOfDateState)
        return FrontAppStatus::unavailable(
            "This GNOME Shell is newer than this Vantor knows, so it does not run Vantor's "
            "extension and no app is in front. Update Vantor to a version made for this GNOME "
            "Shell. Until then, this command lets GNOME Shell run the extension anyway, though "
            "it was not tried with this Shell:"
            "\n    gsettings set org.gnome.shell disable-extension-version-validation true");
    if (state == errorState) {
        std::string error = info.value(QStringLiteral("error")).toString().toStdString();
        if (error.size() > 200) error.resize(200);
        return FrontAppStatus::unavailable(
            "GNOME Shell could not run Vantor's extension, so no app is in front" +
            (error.empty() ? std::string() : " (" + error + ")") +
            ". Reinstalling Vantor may mend it; then log out and in.");
    }
    return FrontAppStatus::unavailable(
        lead + "is not enabled. Enable it with the button below, or with this command and then "
               "log out and in:" +
            enableCommand(),
        FrontAppAction{"Enable GNOME Shell Extension", enable});
}

GnomeExtensionFrontApp::GnomeExtensionFrontApp(MainLoop& loop, FrontAppIdentityRef identity,
                                               QDBusConnection bus,
                                               std::function<void(const std::string&)> logTo)
    : ShellBusFrontApp(loop, std::move(identity), std::move(bus), shellService) {
    if (logTo) log = std::move(logTo);
    // QtDBus passes on only the signals whose sender owns the Shell's name; focusChanged checks
    // again against the owner this source follows.
    bus_.connect(shellService, focusPath, propertiesInterface, QStringLiteral("PropertiesChanged"),
                 this, SLOT(focusChanged(QDBusMessage)));
    bus_.connect(shellService, shellPath, extensionsInterface,
                 QStringLiteral("ExtensionStateChanged"), this,
                 SLOT(extensionStateChanged(QDBusMessage)));
    followShell();
}

void GnomeExtensionFrontApp::shellStarted() {
    ++generation_;
    asked_ = 0;
    read();
}

void GnomeExtensionFrontApp::shellStopped() {
    ++generation_;
    setStatus(FrontAppStatus::unavailable(
        "GNOME Shell is not on the session bus, so the app in front is not known; it is "
        "followed again as soon as the Shell is back."));
}

void GnomeExtensionFrontApp::read() {
    callShell(shellCall(focusPath, propertiesInterface, QStringLiteral("Get"),
                        {focusInterface, QStringLiteral("Focus")}),
              [this](const QDBusPendingCall& call) {
                  QDBusPendingReply<QDBusVariant> reply = call;
                  if (reply.isError() || !takeFocus(reply.value().variant())) {
                      askShell();
                      return;
                  }
                  setStatus(FrontAppStatus{});
              });
}

// The extension does not answer: the Shell says why.
void GnomeExtensionFrontApp::askShell() {
    callShell(shellCall(shellPath, extensionsInterface, QStringLiteral("GetExtensionInfo"),
                        {QString::fromLatin1(extensionUUID)}),
              [this](const QDBusPendingCall& call) {
                  QDBusPendingReply<QVariantMap> reply = call;
                  QVariantMap info = reply.isError() ? QVariantMap() : reply.value();
                  setWindow(std::nullopt);
                  setStatus(gnomeExtensionStatus(info, [this] { enableExtension(); }));
                  if (info.isEmpty()) askAgainLater();
              });
}

// The Shell takes its name on the bus before it loads its extensions, and says nothing over
// D-Bus when it loads one that is not enabled: a program started with the session asks again a
// few times, further apart each time.
void GnomeExtensionFrontApp::askAgainLater() {
    if (asked_ >= 5) return;
    later(2.0 * (1 << asked_++), [this] { askShell(); });
}

void GnomeExtensionFrontApp::enableExtension() {
    say("asking GNOME Shell to enable the extension " + std::string(extensionUUID));
    callShell(
        shellCall(shellPath, extensionsInterface, QStringLiteral("EnableExtension"),
                  {QString::fromLatin1(extensionUUID)}),
        [this](const QDBusPendingCall& call) {
            QDBusPendingReply<bool> reply = call;
            if (reply.isError() || !reply.value())
                say("GNOME Shell did not enable the extension" +
                    (reply.isError() ? " (" + reply.error().message().toStdString() + ")"
                                     : std::string()));
            // Once it runs, ExtensionStateChanged brings the focus in.
            ++generation_;
            read();
        },
        /*evenStale=*/true);
}

bool GnomeExtensionFrontApp::takeFocus(const QVariant& value) {
    if (!value.canConvert<QDBusArgument>()) return false;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("(ssi)")) return false;
    QString appID, windowClass;
    int processID = 0;
    argument.beginStructure();
    argument >> appID >> windowClass >> processID;
    argument.endStructure();
    if (appID.isEmpty() && windowClass.isEmpty() && processID <= 0)
        setWindow(std::nullopt);
    else
        setWindow(windowFromGnomeShell(appID.toStdString(), windowClass.toStdString(), processID));
    return true;
}

void GnomeExtensionFrontApp::focusChanged(const QDBusMessage& message) {
    if (!fromShell(message)) {
        say("ignored a change of the app in front from " + message.service().toStdString() +
            ", which is not GNOME Shell");
        return;
    }
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 2 || arguments[0].toString() != focusInterface) return;
    QVariantMap changed = qdbus_cast<QVariantMap>(arguments[1]);
    auto focus = changed.find(QStringLiteral("Focus"));
    if (focus != changed.end() && takeFocus(focus.value())) {
        setStatus(FrontAppStatus{});
        return;
    }
    // Announced without the value: read it.
    if (arguments.size() >= 3 &&
        qdbus_cast<QStringList>(arguments[2]).contains(QStringLiteral("Focus"))) {
        ++generation_;
        read();
    }
}

void GnomeExtensionFrontApp::extensionStateChanged(const QDBusMessage& message) {
    if (!fromShell(message)) return;
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 2 || arguments[0].toString() != QLatin1String(extensionUUID)) return;
    int state = qdbus_cast<QVariantMap>(arguments[1]).value(QStringLiteral("state")).toInt();
    say("GNOME Shell's extension " + std::string(extensionUUID) + " is now in state " +
        std::to_string(state));
    ++generation_;
    if (state == enabledState)
        read();
    else
        askShell();
}

} // namespace kestrix::core
