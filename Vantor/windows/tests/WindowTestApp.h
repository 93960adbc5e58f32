#pragma once

#include <QApplication>
#include <cstdlib>

// The test program's QApplication: the one that exists, else one made now (offscreen unless the
// environment says otherwise) and kept for the rest of the program.
inline QApplication& windowTestApp() {
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return *app;
    static int argc = 1;
    static char name[] = "VantorWindowsTests";
    static char* argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    return *new QApplication(argc, argv);
}
