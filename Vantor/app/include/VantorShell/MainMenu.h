#pragma once

#include <QList>
#include <QMenuBar>
#include <QPointer>
#include <functional>
#include <memory>

class QAction;
class QMenuBar;
class QWidget;

namespace vantor {

// The application's main menu, built once at launch and shown as the main window's menu bar.
// Its keys work in every Vantor window. Items without a handler of the app go, as on the
// desktop, to the focused widget (editing), the active window (Close, Minimize, Zoom, Full
// Screen) or all of Vantor's windows (Hide, Show All, Bring All to Front). There are no
// "Services" and "Hide Others" items: Linux desktops have neither.
class MainMenu {
public:
    struct Handlers {
        std::function<void()> openAbout;
        std::function<void()> checkForUpdates; // the item exists only when this is set
        std::function<void()> openMainWindow;
        std::function<void()> quit;
        std::function<void()> openReleaseNotes;
        std::function<void()> openWebsite;
        // Vantor's windows that exist.
        std::function<QList<QWidget*>()> windows;
    };

    explicit MainMenu(Handlers handlers);
    ~MainMenu();
    MainMenu(const MainMenu&) = delete;
    MainMenu& operator=(const MainMenu&) = delete;

    // The menu bar; its owner is the main window once that takes it.
    QMenuBar* bar() const { return bar_; }
    // Gives a window the menu's keys (every window needs them, as they work app-wide).
    void addKeysTo(QWidget* window) const;
    // The item with this object name ("menu.quit", "menu.close", ...), for tests.
    QAction* action(const QString& name) const;

private:
    void hideAll();
    void showAll();
    void bringAllToFront();

    Handlers handlers_;
    QPointer<QMenuBar> bar_;
    QList<QPointer<QWidget>> hidden_; // windows "Hide Vantor" hid
    QList<QAction*> keyed_;
};

} // namespace vantor
