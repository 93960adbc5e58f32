#include "ShellBusFrontApp.h"

#include "KestrixProtocol/MainLoop.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusServiceWatcher>

namespace kestrix::core {

ShellBusFrontApp::ShellBusFrontApp(MainLoop& loop, FrontAppIdentityRef identity,
                                   QDBusConnection bus, QString shellName)
    : loop_(loop), bus_(std::move(bus)), shellName_(std::move(shellName)),
      identity_(std::move(identity)) {}

ShellBusFrontApp::~ShellBusFrontApp() {
    *alive_ = false;
}

void ShellBusFrontApp::followShell() {
    watcher_ = new QDBusServiceWatcher(shellName_, bus_, QDBusServiceWatcher::WatchForOwnerChange,
                                       this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) { ownerChanged(owner); });
    // Asked after the watch is in place, so that no change falls between the two.
    QDBusReply<QString> owner = bus_.interface()->serviceOwner(shellName_);
    if (owner.isValid()) ownerChanged(owner.value());
}

void ShellBusFrontApp::ownerChanged(const QString& owner) {
    if (owner == owner_) return;
    bool had = !owner_.isEmpty();
    owner_ = owner;
    if (had) {
        setWindow(std::nullopt);
        shellStopped();
    }
    if (!owner_.isEmpty()) shellStarted();
}

bool ShellBusFrontApp::fromShell(const QDBusMessage& message) const {
    return !owner_.isEmpty() && message.service() == owner_;
}

void ShellBusFrontApp::setWindow(std::optional<FrontAppWindow> window) {
    window_ = std::move(window);
    named_.reset();
    if (activatePending_ || !*alive_) return;
    activatePending_ = true;
    std::weak_ptr<bool> alive = alive_;
    loop_.post([this, alive] {
        auto a = alive.lock();
        if (!a || !*a) return;
        activatePending_ = false;
        onActivate();
    });
}

std::optional<FrontmostApp> ShellBusFrontApp::frontmost() {
    if (!status_.working() || !window_) return std::nullopt;
    if (!named_) {
        FrontmostApp app;
        app.processID = window_->processID;
        app.bundleID = identity_->ofWindow(*window_);
        named_ = app;
    }
    return *named_;
}

std::optional<std::string> ShellBusFrontApp::bundleID(std::int32_t processID) {
    if (auto id = identity_->ofProcess(processID)) return id;
    // Otherwise the app is known by its window, when it is the one in front.
    if (window_ && window_->processID == processID) {
        FrontAppWindow facts = *window_;
        facts.processID.reset(); // already asked
        return identity_->ofWindow(facts);
    }
    return std::nullopt;
}

void ShellBusFrontApp::setStatus(FrontAppStatus status) {
    if (status == status_ || !*alive_) return;
    status_ = std::move(status);
    // The programs log every change they are told of, and the choice the status a source starts
    // with.
    onStatusChange();
    onActivate();
}

void ShellBusFrontApp::say(const std::string& line) {
    if (line == lastSaid_) return;
    lastSaid_ = line;
    log(line);
}

QDBusMessage ShellBusFrontApp::shellCall(const QString& path, const QString& interface,
                                         const QString& method,
                                         const QVariantList& arguments) const {
    QDBusMessage call = QDBusMessage::createMethodCall(shellName_, path, interface, method);
    call.setArguments(arguments);
    call.setAutoStartService(false);
    return call;
}

void ShellBusFrontApp::callShell(const QDBusMessage& call,
                                 std::function<void(const QDBusPendingCall& reply)> answered,
                                 bool evenStale) {
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    unsigned generation = generation_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, generation, evenStale,
             answered = std::move(answered)](QDBusPendingCallWatcher* reply) {
                reply->deleteLater();
                if (evenStale || generation == generation_) answered(*reply);
            });
}

void ShellBusFrontApp::later(double seconds, std::function<void()> work) {
    unsigned generation = generation_;
    std::weak_ptr<bool> alive = alive_;
    loop_.after(seconds, [this, alive, generation, work = std::move(work)] {
        auto a = alive.lock();
        if (a && *a && generation == generation_) work();
    });
}

bool frontAppNeedsQtEventLoop() {
    FrontAppSession session = FrontAppSession::fromEnvironment();
    return !session.waylandDisplay.empty() && (session.names("GNOME") || session.names("KDE"));
}

} // namespace kestrix::core
