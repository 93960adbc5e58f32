#include "VantorShell/SingleInstance.h"

#include "Vantor/Log.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
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
    // Holding the lock, any socket left here belongs to a Vantor that is gone.
    QLocalServer::removeServer(socketPath());
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_.get(), &QLocalServer::newConnection, this, &SingleInstance::accept);
    if (!server_->listen(socketPath()))
        Log::error("cannot listen on " + socketPath().toStdString() + ": " +
                   server_->errorString().toStdString() + "; a second start cannot reach this one");
    return Role::primary;
}

void SingleInstance::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > longestRequest) socket->abort();
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
}

bool SingleInstance::askToReopen(int timeoutMilliseconds) {
    QElapsedTimer clock;
    clock.start();
    // The running Vantor may be between taking the lock and listening: try again for a while.
    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        int left = timeoutMilliseconds - static_cast<int>(clock.elapsed());
        if (socket.waitForConnected(std::max(left, 0))) {
            socket.write(reopenRequest);
            if (!socket.waitForBytesWritten(std::max(left, 0))) return false;
            while (!socket.canReadLine()) {
                left = timeoutMilliseconds - static_cast<int>(clock.elapsed());
                if (left <= 0 || !socket.waitForReadyRead(left)) return false;
            }
            return socket.readLine(longestRequest) == answer;
        }
        if (clock.elapsed() >= timeoutMilliseconds) return false;
        QThread::msleep(50);
    }
}

} // namespace vantor
