#pragma once

#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;
class QTimer;

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

    // What one connection may cost the primary: it is closed when its request has not come
    // within requestDeadlineMs, and of more than maxOpen at once the oldest is closed, so that
    // no number of idle connections uses up the process's descriptors.
    static constexpr int maxOpen = 16;
    int requestDeadlineMs = 2000;
    // How often the primary makes sure that it still listens and its socket is still there.
    int checkIntervalMs = 5000;

    // Connections being served now.
    int openConnections() const { return static_cast<int>(open_.size()); }

private:
    void listen();
    void accept();
    void checkListening();

    QString folder_;
    int lock_ = -1;
    std::unique_ptr<QLocalServer> server_;
    std::deque<QLocalSocket*> open_; // oldest first
    QTimer* check_ = nullptr;
    bool listenFailed_ = false; // the last listen() failed
};

} // namespace vantor
