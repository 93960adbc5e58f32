#include "KWinScriptFrontApp.h"

#include "FrontApp/ShellReports.h"
#include "KestrixProtocol/MainLoop.h"

#include <QDBusPendingReply>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrix::core {

namespace {

const QString kwinService = QStringLiteral("org.kde.KWin");
const QString scriptingPath = QStringLiteral("/Scripting");
const QString scriptingInterface = QStringLiteral("org.kde.kwin.Scripting");

QString pluginFor(const QString& copyName) {
    return QStringLiteral("vantor-front-app-") + copyName;
}

// Opens the folder of the copies, made when missing, without following a link: only a real folder
// of this user is taken (made 0700 when it is not), so that no copy is written, and no file
// removed, in a folder that someone else chose. Returns the descriptor, or -1 with `why`.
int openCopiesFolder(const std::string& path, std::string& why) {
    std::error_code ignored; // the runtime folder is normally there; if not, mkdir says why
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        why = path + " cannot be made: " + std::strerror(errno);
        return -1;
    }
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        why = errno == ELOOP || errno == ENOTDIR
                  ? path + " is not a folder (a link or a file is there)"
                  : path + " cannot be opened: " + std::strerror(errno);
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode))
        why = path + " is not a folder";
    else if (info.st_uid != ::getuid())
        why = path + " belongs to user " + std::to_string(info.st_uid);
    else if ((info.st_mode & 07777) != 0700 && ::fchmod(fd, 0700) != 0)
        why = path + " cannot be made private: " + std::strerror(errno);
    if (!why.empty()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Writes the whole text to a new file of the folder; a file or link already at that name is
// removed first (a link, not what it points to). Returns the error, empty on success.
std::string writeNewFile(int folder, const std::string& name, std::string_view text) {
    if (::unlinkat(folder, name.c_str(), 0) != 0 && errno != ENOENT) return std::strerror(errno);
    int fd =
        ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return std::strerror(errno);
    std::string error;
    while (!text.empty() && error.empty()) {
        ssize_t written = ::write(fd, text.data(), text.size());
        if (written > 0)
            text.remove_prefix(std::size_t(written));
        else if (written < 0 && errno != EINTR)
            error = std::strerror(errno);
    }
    if (::close(fd) != 0 && error.empty()) error = std::strerror(errno);
    if (!error.empty()) ::unlinkat(folder, name.c_str(), 0);
    return error;
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
    copyName_ = copy + ".js";
    path_ = options_.folder + "/" + copyName_;
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
    if (folder_ >= 0) {
        ::unlinkat(folder_, copyName_.c_str(), 0);
        ::close(folder_);
    }
}

bool KWinScriptFrontApp::writeScript() {
    std::string head = "const frontAppTarget = { service: \"" + bus_.baseService().toStdString() +
                       "\", path: \"" + objectPath + "\" };\n";
    std::string why;
    folder_ = openCopiesFolder(options_.folder, why);
    if (folder_ >= 0) {
        why = writeNewFile(folder_, copyName_, head + options_.script);
    } else {
        say("the KWin script is not written: " + why);
    }
    if (!why.empty()) {
        setStatus(FrontAppStatus::unavailable(
            "The app in front cannot be followed on KDE Plasma: the KWin script could not be "
            "written to " +
            path_ + " (" + why + ")."));
        return false;
    }
    return true;
}

// Copies of programs that are gone (ended without unloading their script) are unloaded from
// KWin and removed: only regular files of the folder, named <program>-<pid>.js.
void KWinScriptFrontApp::removeStaleCopies() {
    if (folder_ < 0) return;
    int listing = ::dup(folder_);
    DIR* folder = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!folder) {
        if (listing >= 0) ::close(listing);
        return;
    }
    ::rewinddir(folder);
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(folder)) {
        std::string_view name = entry->d_name;
        if (!name.ends_with(".js")) continue;
        std::string_view stem = name.substr(0, name.size() - 3);
        auto dash = stem.rfind('-');
        if (dash == std::string_view::npos) continue;
        bool number = false;
        long pid = QString::fromUtf8(stem.substr(dash + 1)).toLong(&number);
        if (!number || pid <= 0 || pid == ::getpid()) continue;
        struct stat info {};
        if (::fstatat(folder_, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode))
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        stale.emplace_back(name);
    }
    ::closedir(folder);
    for (const std::string& name : stale) {
        QString stem = QString::fromStdString(name.substr(0, name.size() - 3));
        bus_.send(scripting(QStringLiteral("unloadScript"), {pluginFor(stem)}));
        ::unlinkat(folder_, name.c_str(), 0);
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
