#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace vantor {

// What the command line asks of this start.
struct LaunchOptions {
    // Started at login by the autostart entry.
    bool loginItem = false;
    // The window-shot arguments, each absent when not given.
    std::optional<QString> snapshot;       // where the PNG goes
    std::optional<QString> snapshotWindow; // the scene
    std::optional<QString> snapshotSize;   // "W x H" in points
    bool snapshotDark = false;
};

// vantor's command line. Both "--name" and the single-dash form "-name" are accepted.
struct CommandLine {
    // Either options to run with, or an exit: the text to print, where, and the status.
    struct Result {
        LaunchOptions options;
        std::optional<int> exitStatus;
        QString output;
        bool toStandardError = false;
    };

    // `arguments` starts with the program name, as QCoreApplication::arguments() does.
    static Result parse(const QStringList& arguments);
};

} // namespace vantor
