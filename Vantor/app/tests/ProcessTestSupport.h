#pragma once

// The real vantor program started for a test, in a home of its own.
#include "TempFolder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <memory>

namespace vantor {

// One vantor in a home of its own, without a display (unless the caller sets one).
struct VantorRun {
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    QString out, err;
    int status = -1;

    VantorRun(const testsupport::TempFolder& home, const QStringList& arguments,
              const QStringList& extra = {}) {
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
        home.write("lsan.supp", "leak:libfontconfig.so\nleak:libdbus-1.so\n");
        env.insert("LSAN_OPTIONS", "suppressions=" + root + "/lsan.supp");
        for (const QString& pair : extra)
            env.insert(pair.section('=', 0, 0), pair.section('=', 1));
        process->setProcessEnvironment(env);
        process->start(QStringLiteral(VANTOR_EXECUTABLE), arguments);
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

} // namespace vantor
