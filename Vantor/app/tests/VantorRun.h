#pragma once

// The real vantor program started in a home of its own, and a question to the broker it uses.
#include "KestrixProtocol/Kestrix.h"
#include "KestrixProtocol/LineCoding.h"
#include "KestrixProtocol/Messages.h"
#include "TempFolder.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <csignal>
#include <filesystem>
#include <grp.h>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

namespace vantor {

// One vantor in a home of its own, without a display (unless the caller sets one).
struct VantorRun {
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    QString out, err;
    int status = -1;

    // With `user`, the program runs as that user (and group), who is given the home's folders.
    VantorRun(const testsupport::TempFolder& home, const QStringList& arguments,
              const QStringList& extra = {}, std::optional<uid_t> user = std::nullopt) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "QT_SCALE_FACTOR"})
            env.remove(QString::fromLatin1(name));
        QString root = QString::fromStdString(home.path);
        QDir().mkpath(root + "/config");
        QDir().mkpath(root + "/run");
        QFile::setPermissions(root + "/run", QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ExeOwner);
        env.insert("XDG_CONFIG_HOME", root + "/config");
        env.insert("XDG_DATA_HOME", root + "/data");
        env.insert("XDG_RUNTIME_DIR", root + "/run");
        env.insert("KESTRIX_HOME", root + "/kestrix");
        // In the sanitizer build: the desktop libraries' process-long allocations are no leaks.
        // Qt 6.8's X11 platform services are never deleted; the whole stack (not the fast one,
        // which stops in Qt's libraries) lets the suppression name them.
        home.write("lsan.supp",
                   "leak:libfontconfig.so\nleak:libdbus-1.so\nleak:QGenericUnixServices\n");
        env.insert("LSAN_OPTIONS",
                   "fast_unwind_on_malloc=0:suppressions=" + root + "/lsan.supp");
        for (const QString& pair : extra)
            env.insert(pair.section('=', 0, 0), pair.section('=', 1));
        process->setProcessEnvironment(env);
        if (user) {
            for (const QString& folder : {root, root + "/config", root + "/run"})
                if (::chown(QFile::encodeName(folder).constData(), *user, *user) != 0) return;
            QFile::setPermissions(root, QFile::permissions(root) | QFileDevice::ExeOther);
            process->setChildProcessModifier([id = *user] {
                if (::setgroups(0, nullptr) != 0 || ::setresgid(id, id, id) != 0 ||
                    ::setresuid(id, id, id) != 0)
                    ::_exit(126);
            });
        }
        process->start(QStringLiteral(VANTOR_EXECUTABLE), arguments);
    }
    // Asks vantor to quit, as the session does at logout, and waits for its end (at most
    // `seconds`). Only a vantor that still runs is signalled: once it has ended, its process id
    // is 0 or another process's, and kill(0) would end this test's whole process group. A vantor
    // that ended before it was asked fails the test, which says so.
    VantorRun& quit(int seconds = 10) {
        const qint64 pid = process->processId();
        if (process->state() == QProcess::Running && pid > 0) {
            ::kill(static_cast<pid_t>(pid), SIGTERM);
            return finish(seconds);
        }
        finish(0);
        ADD_FAILURE() << "vantor had ended before it was asked to quit (status " << status << "):\n"
                      << err.toStdString();
        return *this;
    }
    // Waits for the end (at most `seconds`); the process is killed if it runs longer.
    VantorRun& finish(int seconds = 30) {
        if (!process->waitForFinished(seconds * 1000)) process->kill();
        process->waitForFinished();
        out = QString::fromUtf8(process->readAllStandardOutput());
        err = QString::fromUtf8(process->readAllStandardError());
        status = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
        return *this;
    }
};

// What the broker serving `folder` says of itself: asked as a listener over its socket. Empty when
// no broker answers there within ten seconds.
inline std::optional<kestrix::BrokerStatus> brokerStatus(const QString& folder) {
    QLocalSocket socket;
    socket.connectToServer(folder + "/broker.sock");
    if (!socket.waitForConnected(10000)) return std::nullopt;
    using kestrix::ClientMessage;
    for (const ClientMessage& message :
         {ClientMessage{kestrix::Hello{kestrix::Kestrix::protocolVersion, kestrix::Kestrix::version,
                                       static_cast<std::int32_t>(::getpid()), "probe"}},
          ClientMessage{ClientMessage::Status{}}})
        socket.write(QByteArray::fromStdString(kestrix::LineEncoder::encode(message)));
    socket.flush();
    kestrix::LineDecoder<kestrix::BrokerMessage> decoder;
    for (int i = 0; i < 100; ++i) {
        socket.waitForReadyRead(100);
        QByteArray bytes = socket.readAll();
        for (const auto& message : decoder.feed(bytes.toStdString()))
            if (const auto* status = message.as<kestrix::BrokerStatus>()) return *status;
        if (socket.state() != QLocalSocket::ConnectedState) break;
    }
    return std::nullopt;
}

// Ends the broker that serves `folder`, when one does: by the process id its status gives, and
// only when that process is the built kestrix (a pid read over a socket may be anyone's).
inline void endBroker(const QString& folder) {
    std::optional<kestrix::BrokerStatus> status = brokerStatus(folder);
    if (!status || status->processID <= 0) return;
    const pid_t pid = status->processID;
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    std::error_code error;
    // Checked after the descriptor is open: the process it names cannot change any more.
    if (pidfd >= 0 && std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe",
                                                    error) == KESTRIX_EXECUTABLE)
        ::syscall(SYS_pidfd_send_signal, pidfd, SIGTERM, nullptr, 0);
    if (pidfd >= 0) ::close(pidfd);
}

} // namespace vantor
