#include "VantorShell/SingleInstance.h"

#include "Vantor/Log.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <utility>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vantor {

namespace {

constexpr char reopenRequest[] = "reopen\n";
constexpr char answer[] = "ok\n";
// The longest request line read from a client; anything longer is dropped.
constexpr qint64 longestRequest = 64;

} // namespace

SingleInstance::SingleInstance(QString folder)
    : folder_(std::move(folder)) {}

SingleInstance::~SingleInstance() {
    if (server_) server_->close();
    server_.reset(); // its sockets go with it, while open_ still exists
    if (lock_ >= 0) ::close(lock_);
}

QString SingleInstance::standardFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString SingleInstance::socketPath() const {
    return QDir(folder_).filePath(QStringLiteral("me.orvella.Vantor.sock"));
}

SingleInstance::Role SingleInstance::claim() {
    if (folder_.isEmpty()) return Role::alone;
    QByteArray lockPath = QFile::encodeName(QDir(folder_).filePath("me.orvella.Vantor.lock"));
    lock_ = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock_ < 0) {
        Log::error("cannot open " + lockPath.toStdString() + ": " + std::strerror(errno) +
                   "; not checking for another Vantor");
        return Role::alone;
    }
    if (::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        ::close(lock_);
        lock_ = -1;
        if (error == EWOULDBLOCK) return Role::secondary;
        Log::error("cannot lock " + lockPath.toStdString() + ": " + std::strerror(error) +
                   "; not checking for another Vantor");
        return Role::alone;
    }
    listen();
    // Qt's server closes itself (and removes its socket) when accepting fails, and a cleaner of
    // the runtime folder may remove the socket: either way the primary listens again.
    check_ = new QTimer(this);
    connect(check_, &QTimer::timeout, this, &SingleInstance::checkListening);
    check_->start(checkIntervalMs);
    return Role::primary;
}

void SingleInstance::listen() {
    // Holding the lock, any socket left here belongs to this process or to a Vantor that is gone.
    if (server_) server_->close();
    QLocalServer::removeServer(socketPath());
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_.get(), &QLocalServer::newConnection, this, &SingleInstance::accept);
    const bool failedBefore = std::exchange(listenFailed_, !server_->listen(socketPath()));
    // Said once, not at every later check that tries again.
    if (listenFailed_ && !failedBefore)
        Log::error("cannot listen on " + socketPath().toStdString() + ": " +
                   server_->errorString().toStdString() + "; a second start cannot reach this one");
}

void SingleInstance::checkListening() {
    if (!server_) return;
    const QFileInfo socket(socketPath());
    if (server_->isListening() && socket.exists() && !socket.isFile() && !socket.isDir()) return;
    if (!listenFailed_) Log::info("listening again on " + socketPath().toStdString());
    listen();
}

void SingleInstance::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        if (static_cast<int>(open_.size()) >= maxOpen) {
            // The newest connection is served: a second start asks at once and is done in
            // moments, while a connection that has waited longest is the likeliest to be idle.
            QLocalSocket* oldest = open_.front();
            open_.pop_front();
            oldest->abort();
            oldest->deleteLater();
        }
        open_.push_back(socket);
        connect(socket, &QObject::destroyed, this, [this, socket] {
            auto it = std::find(open_.begin(), open_.end(), socket);
            if (it != open_.end()) open_.erase(it);
        });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(requestDeadlineMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > longestRequest) {
                    socket->abort();
                    socket->deleteLater();
                }
                return;
            }
            QByteArray line = socket->readLine(longestRequest + 1);
            if (line == reopenRequest) {
                socket->write(answer);
                socket->flush();
                if (onReopen) onReopen();
            }
            socket->disconnectFromServer();
        });
    }
    if (!server_->isListening()) checkListening();
}

bool SingleInstance::askToReopen(int timeoutMilliseconds) {
    QElapsedTimer clock;
    clock.start();
    auto left = [&] { return std::max(timeoutMilliseconds - static_cast<int>(clock.elapsed()), 0); };
    // The running Vantor may be between taking the lock and listening, or may have closed this
    // connection to make room for others: try again for a while.
    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(left())) {
            socket.write(reopenRequest);
            if (socket.waitForBytesWritten(left())) {
                while (!socket.canReadLine() && left() > 0 && socket.waitForReadyRead(left())) {
                }
                if (socket.canReadLine()) return socket.readLine(longestRequest) == answer;
            }
            // Closed without an answer: another try, unless the time is up.
            if (socket.state() == QLocalSocket::ConnectedState) return false;
        }
        if (left() <= 0) return false;
        QThread::msleep(50);
    }
}

} // namespace vantor
