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
// Its keys work in every Vantor window; its menu titles have Alt mnemonics. Items without a
// handler of the app go, as on the desktop, to the focused widget (editing; enabled only for
// what that widget can do) or the active window (Close, Minimize, Maximize). There are no
// "Services", "Hide Vantor", "Hide Others", "Show All", "Bring All to Front" and "Enter Full
// Screen" items: Linux desktops have no services menu, no hiding of an app's windows and no
// app-wide raise (the window manager and the task bar do that), and a settings window gains
// nothing from full screen.
class MainMenu {
public:
    struct Handlers {
        std::function<void()> openAbout;
        std::function<void()> checkForUpdates; // the item exists only when this is set
        std::function<void()> openMainWindow;
        std::function<void()> quit;
        std::function<void()> openReleaseNotes;
        std::function<void()> openWebsite;
    };

    // What the focused widget can do of the Edit menu's commands.
    struct EditAbilities {
        bool undo = false, redo = false, cut = false, copy = false, paste = false,
             remove = false, selectAll = false;
        bool operator==(const EditAbilities&) const = default;
    };
    static EditAbilities editAbilities(const QWidget* focus);
    // Enables the Edit items for what `focus` can do (none without a focused widget).
    void updateEditItems(const QWidget* focus);

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
    Handlers handlers_;
    QPointer<QMenuBar> bar_;
    // The context of the connections that reach this object: they end with it, while the bar
    // may live on in the main window.
    std::unique_ptr<QObject> watch_;
    QList<QAction*> keyed_;
};

} // namespace vantor
