#pragma once

// For the tests that need Qt's event loop (QtDBus): the application object, made once, and a
// wait that runs the loop until a condition holds or its deadline passes.

#include "FrontApp/FrontApp.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>

namespace qtwait {

inline QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "FrontAppTests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return *app;
}

// A base that makes the application object before any member of the class is made.
struct WithApplication {
    WithApplication() { application(); }
};

inline bool waitFor(const std::function<bool()>& done, int seconds = 10) {
    QDeadlineTimer deadline(seconds * 1000);
    QTimer wake; // so that the wait sees the deadline even when nothing else happens
    wake.start(20);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

// The id of the app in front; "(none)" for an app without one, absent for no app.
inline std::optional<std::string> frontID(kestrix::core::FrontApp& source) {
    auto app = source.frontmost();
    if (!app) return std::nullopt;
    return app->bundleID.value_or("(none)");
}

} // namespace qtwait
