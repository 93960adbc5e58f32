#pragma once

#include <QApplication>
#include <cstdlib>

// The one QApplication of a widget test program, made on first use (offscreen unless the
// environment says otherwise).
inline QApplication& windowTestApp() {
    static int argc = 1;
    static char name[] = "VantorWindowsTests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QApplication(argc, argv);
    }();
    return *app;
}
