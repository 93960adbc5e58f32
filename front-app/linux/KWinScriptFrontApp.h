#pragma once

#include "KestrixProtocol/MainLoop.h"
#include "ShellBusFrontApp.h"

#include <QDBusContext>
#include <string>

namespace kestrix::core {

// The app in front on KDE Plasma (KWin 5.27 and 6). KWin tells no other program which window is
// active, but runs scripts it is handed over D-Bus: this source loads its own copy of the shipped
// script (front-app/kwin/front-app.js) under a name of its own, and the script calls Activated
// on this object on every change of the active window. Each program that follows the app in
// front (vantor and kestrix) does so for itself, so neither depends on the other running.
//
// The copy lives in `folder` as <program>-<pid>.js while the program runs, and KWin knows it as
// the plug-in "vantor-front-app-<program>-<pid>"; at exit the script is unloaded and the file
// removed. Copies left by programs that died are unloaded and removed at the next start. When
// KWin restarts, the script is loaded again; when someone else unloads it, the next check (every
// `checkSeconds`) loads it again.
class KWinScriptFrontApp final : public ShellBusFrontApp, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "me.orvella.FrontApp1")
public:
    struct Options {
        std::string script;  // the shipped script's text
        // Where the program's copy is written: a folder of this user, made 0700 (when missing or
        // open to others); a link or another's folder is refused.
        std::string folder;
        std::string program; // the program's name, part of the plug-in's name
        double checkSeconds = 10.0;
        // The first wait before a failed load is tried again (doubled for each of 5 tries).
        double retrySeconds = 0.25;
    };
    static constexpr const char* objectPath = "/me/orvella/FrontApp";

    // Registers the object on `bus` and loads the script once KWin is on the bus. `log` hears
    // what goes wrong.
    KWinScriptFrontApp(MainLoop& loop, FrontAppIdentityRef identity, QDBusConnection bus,
                       Options options, std::function<void(const std::string&)> log);
    ~KWinScriptFrontApp() override;

    // KWin's name for this program's script.
    const std::string& pluginName() const { return plugin_; }
    // The program's copy of the script.
    const std::string& scriptPath() const { return path_; }

public Q_SLOTS:
    // The script's report; anyone else's call is ignored.
    Q_SCRIPTABLE void Activated(const QString& desktopFileName, const QString& resourceClass,
                                const QString& processID);

private:
    void shellStarted() override;
    void shellStopped() override;
    // A call to KWin's scripting interface.
    QDBusMessage scripting(const QString& method, const QVariantList& arguments = {}) const;
    bool writeScript();
    void removeStaleCopies();
    void load();
    void check();
    void unloadNow(const QString& plugin);

    Options options_;
    std::string plugin_;
    std::string copyName_; // <program>-<pid>.js
    std::string path_;
    int folder_ = -1; // the copies' folder, as checked when the copy was written
    bool loaded_ = false;
    int tries_ = 0;       // loads KWin failed since the last that worked
    bool gaveUp_ = false; // the tries are spent: the next check starts them again
    std::unique_ptr<Watch> checks_;
};

} // namespace kestrix::core
