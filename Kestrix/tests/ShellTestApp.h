#pragma once

// The one QApplication of the broker's shell tests, offscreen unless the caller chose a platform.
#include <QApplication>
#include <cstdlib>

inline void ensureApplication() {
    static int argc = 1;
    static char name[] = "KestrixTests", *argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (!QApplication::instance()) new QApplication(argc, argv); // kept to the end of the process
}
