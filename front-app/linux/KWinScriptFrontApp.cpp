#include "KWinScriptFrontApp.h"

#include "FrontApp/ShellReports.h"
#include "KestrixProtocol/MainLoop.h"

#include <QDBusPendingReply>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace kestrix::core {

namespace {

const QString kwinService = QStringLiteral("org.kde.KWin");
const QString scriptingPath = QStringLiteral("/Scripting");
const QString scriptingInterface = QStringLiteral("org.kde.kwin.Scripting");

QString pluginFor(const QString& copyName) {
    return QStringLiteral("vantor-front-app-") + copyName;
}

} // namespace

KWinScriptFrontApp::KWinScriptFrontApp(MainLoop& loop, FrontAppIdentityRef identity,
                                       QDBusConnection bus, Options options,
                                       std::function<void(const std::string&)> logTo)
    : ShellBusFrontApp(loop, std::move(identity), std::move(bus), kwinService),
      options_(std::move(options)) {
    if (logTo) log = std::move(logTo);
    std::string copy = options_.program + "-" + std::to_string(::getpid());
    plugin_ = pluginFor(QString::fromStdString(copy)).toStdString();
    path_ = options_.folder + "/" + copy + ".js";
    if (!bus_.registerObject(QString::fromLatin1(objectPath), this,
                             QDBusConnection::ExportScriptableSlots)) {
        setStatus(FrontAppStatus::unavailable(
            "The app in front cannot be followed on KDE Plasma: this program's D-Bus object "
            "could not be registered."));
        return;
    }
    if (!writeScript()) return;
    followShell();
    checks_ = loop_.repeat(options_.checkSeconds, 1.0, [this] { check(); });
}

QDBusMessage KWinScriptFrontApp::scripting(const QString& method,
                                           const QVariantList& arguments) const {
    return shellCall(scriptingPath, scriptingInterface, method, arguments);
}

KWinScriptFrontApp::~KWinScriptFrontApp() {
    stopReporting();
    checks_.reset();
    bus_.unregisterObject(QString::fromLatin1(objectPath));
    if (!shellOwner().isEmpty() && loaded_) unloadNow(QString::fromStdString(plugin_));
    QFile::remove(QString::fromStdString(path_));
}

bool KWinScriptFrontApp::writeScript() {
    QDir().mkpath(QString::fromStdString(options_.folder));
    QFile::setPermissions(QString::fromStdString(options_.folder),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QSaveFile file(QString::fromStdString(path_));
    std::string head = "const frontAppTarget = { service: \"" + bus_.baseService().toStdString() +
                       "\", path: \"" + objectPath + "\" };\n";
    bool written = file.open(QIODevice::WriteOnly) &&
                   file.write(head.data(), qint64(head.size())) == qint64(head.size()) &&
                   file.write(options_.script.data(), qint64(options_.script.size())) ==
                       qint64(options_.script.size()) &&
                   file.commit();
    if (!written) {
        setStatus(FrontAppStatus::unavailable(
            "The app in front cannot be followed on KDE Plasma: the KWin script could not be "
            "written to " + path_ + " (" + file.errorString().toStdString() + ")."));
        return false;
    }
    return true;
}

// Copies of programs that are gone (ended without unloading their script) are unloaded from
// KWin and removed.
void KWinScriptFrontApp::removeStaleCopies() {
    QDir folder(QString::fromStdString(options_.folder));
    for (const QFileInfo& entry : folder.entryInfoList({QStringLiteral("*-*.js")}, QDir::Files)) {
        QString stem = entry.completeBaseName();
        bool number = false;
        long pid = stem.section('-', -1).toLong(&number);
        if (!number || pid <= 0 || pid == ::getpid()) continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        bus_.send(scripting(QStringLiteral("unloadScript"), {pluginFor(stem)}));
        QFile::remove(entry.absoluteFilePath());
    }
}

void KWinScriptFrontApp::shellStarted() {
    ++generation_;
    loaded_ = false;
    tries_ = 0;
    gaveUp_ = false;
    removeStaleCopies();
    load();
}

void KWinScriptFrontApp::shellStopped() {
    ++generation_;
    loaded_ = false;
    gaveUp_ = false;
    setStatus(FrontAppStatus::unavailable(
        "KWin is not on the session bus, so the app in front is not known; it is followed again "
        "as soon as KWin is back."));
}

void KWinScriptFrontApp::load() {
    QString plugin = QString::fromStdString(plugin_);
    // A script of this name that is still loaded (KWin keeps a stopped one) would refuse the new.
    bus_.send(scripting(QStringLiteral("unloadScript"), {plugin}));
    callShell(scripting(QStringLiteral("loadScript"), {QString::fromStdString(path_), plugin}),
              [this](const QDBusPendingCall& call) {
                  QDBusPendingReply<int> reply = call;
                  if (reply.isError() || reply.value() < 0) {
                      // A KWin that has just taken its name may not serve /Scripting yet: a few
                      // more tries, further apart each time, before the status says so.
                      if (tries_ < 5) {
                          later(options_.retrySeconds * (1 << tries_++), [this] { load(); });
                          return;
                      }
                      gaveUp_ = true;
                      std::string why = reply.isError() ? reply.error().message().toStdString()
                                                        : std::string("it refused the script");
                      setStatus(FrontAppStatus::unavailable(
                          "KWin did not load the script that tells which app is in front (" + why +
                          "), so no app is in front."));
                      return;
                  }
                  bus_.send(scripting(QStringLiteral("start")));
                  loaded_ = true;
                  tries_ = 0;
                  setStatus(FrontAppStatus{});
              });
}

void KWinScriptFrontApp::check() {
    if (shellOwner().isEmpty()) return;
    // A script KWin would not load, even after the tries, is tried again now and then.
    if (gaveUp_) {
        ++generation_;
        tries_ = 0;
        gaveUp_ = false;
        load();
        return;
    }
    callShell(scripting(QStringLiteral("isScriptLoaded"), {QString::fromStdString(plugin_)}),
              [this](const QDBusPendingCall& call) {
                  QDBusPendingReply<bool> reply = call;
                  if (reply.isError() || reply.value()) return;
                  say("the KWin script that tells which app is in front was unloaded; loading "
                      "it again");
                  ++generation_;
                  loaded_ = false;
                  load();
              });
}

// Waits for KWin's answer, so that the call is out before the program ends; events go on being
// served meanwhile, except this object's, which is no longer on the bus.
void KWinScriptFrontApp::unloadNow(const QString& plugin) {
    stopReporting();
    bus_.call(scripting(QStringLiteral("unloadScript"), {plugin}), QDBus::BlockWithGui, 2000);
}

void KWinScriptFrontApp::Activated(const QString& desktopFileName, const QString& resourceClass,
                                   const QString& processID) {
    if (!fromShell(message())) {
        say("ignored a report of the app in front from " + message().service().toStdString() +
            ", which is not KWin");
        return;
    }
    if (desktopFileName.isEmpty() && resourceClass.isEmpty() &&
        !processIDFromText(processID.toStdString())) {
        setWindow(std::nullopt);
        return;
    }
    setWindow(windowFromKWin(desktopFileName.toStdString(), resourceClass.toStdString(),
                             processID.toStdString()));
}

} // namespace kestrix::core
