#pragma once

#include "FrontApp/FrontApp.h"
#include "Sources.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QDBusServiceWatcher;

namespace kestrix::core {

// What the sources of KDE Plasma and GNOME Shell share: the desktop shell speaks on the session
// bus under a well-known name (org.kde.KWin, org.gnome.Shell), and only messages whose sender is
// that name's present owner count. Keeps the window the shell reported last and the status.
//
// QtDBus delivers on Qt's event loop, so these sources need the application object and a loop
// that Qt drives.
class ShellBusFrontApp : public QObject, public FrontApp {
    Q_OBJECT
public:
    ~ShellBusFrontApp() override;

    std::optional<FrontmostApp> frontmost() override;
    std::optional<std::string> bundleID(std::int32_t processID) override;
    FrontAppStatus status() const override { return status_; }

protected:
    ShellBusFrontApp(MainLoop& loop, FrontAppIdentityRef identity, QDBusConnection bus,
                     QString shellName);

    // Starts following the shell's bus name: shellStarted() at once when it has an owner, and
    // shellStarted() / shellStopped() whenever the owner changes. Called by the subclass's
    // constructor once it is ready for them.
    void followShell();
    virtual void shellStarted() = 0;
    virtual void shellStopped() = 0;

    // Whether the message came from the shell itself.
    bool fromShell(const QDBusMessage& message) const;
    const QString& shellOwner() const { return owner_; }

    // The window in front as the shell reported it (none: no window has the focus). Many reports
    // in a row make one onActivate, once the loop comes round; the last one stands.
    void setWindow(std::optional<FrontAppWindow> window);
    void setStatus(FrontAppStatus status);
    // From now on onActivate and onStatusChange are no longer called (the source is going).
    void stopReporting() { *alive_ = false; }
    // Logs a line, at most once in a row for the same text.
    void say(const std::string& line);

    // A method call to the shell; a shell that is not running is not started by it.
    QDBusMessage shellCall(const QString& path, const QString& interface, const QString& method,
                           const QVariantList& arguments = {}) const;
    // Sends the call without waiting; `answered` gets the reply once it comes. A reply to a call
    // made before generation_ moved on is dropped, unless `evenStale`.
    void callShell(const QDBusMessage& call,
                   std::function<void(const QDBusPendingCall& reply)> answered,
                   bool evenStale = false);
    // Runs `work` after `seconds`, unless by then the source is going or generation_ moved on.
    void later(double seconds, std::function<void()> work);

    MainLoop& loop_;
    QDBusConnection bus_;
    const QString shellName_;
    // False once the source is going: delayed work checks it before it runs.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    // A new one with every start of the shell (and whenever the subclass asks anew), so that
    // stale replies and delayed work are dropped.
    unsigned generation_ = 0;

private:
    void ownerChanged(const QString& owner);

    FrontAppIdentityRef identity_;
    QDBusServiceWatcher* watcher_ = nullptr;
    QString owner_;
    std::optional<FrontAppWindow> window_;
    std::optional<std::optional<FrontmostApp>> named_; // frontmost() of window_, once asked
    bool activatePending_ = false;
    FrontAppStatus status_;
    std::string lastSaid_;
};

} // namespace kestrix::core
