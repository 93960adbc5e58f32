#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QLocalServer;

namespace vantor {

// One Vantor per user session. The first start holds a lock in the session's runtime folder and
// listens on a socket beside it; a later start finds the lock taken and asks the running one,
// through the socket, to open its main window, which is how the settings are reached again
// (also on a desktop without a tray).
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role {
        primary,   // this process is the one instance and listens for the others
        secondary, // another Vantor runs
        alone,     // the runtime folder cannot be used: run without the check
    };

    // The lock and socket live in `folder`.
    explicit SingleInstance(QString folder);
    ~SingleInstance() override;

    // $XDG_RUNTIME_DIR, or Qt's fallback for it.
    static QString standardFolder();

    QString socketPath() const;

    // Takes the lock; the primary starts listening at once.
    Role claim();
    // Asks the running instance to open its main window; true once it said it will.
    bool askToReopen(int timeoutMilliseconds = 3000);

    // The primary's handler of a reopen request from another start.
    std::function<void()> onReopen;

private:
    void accept();

    QString folder_;
    int lock_ = -1;
    std::unique_ptr<QLocalServer> server_;
};

} // namespace vantor
