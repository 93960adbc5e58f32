#include "VantorShell/MainMenu.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMetaMethod>
#include <QMetaObject>
#include <QWidget>

namespace vantor {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("MainMenu", text);
}

// The editing command goes to the focused widget when it has a slot of that name.
void toFocusedWidget(const char* slot) {
    QWidget* focus = QApplication::focusWidget();
    if (!focus) return;
    int index = focus->metaObject()->indexOfMethod(
        QMetaObject::normalizedSignature((std::string(slot) + "()").c_str()));
    if (index >= 0) focus->metaObject()->method(index).invoke(focus);
}

// Delete has no common slot: the focused widget gets the key itself.
void deleteInFocusedWidget() {
    QWidget* focus = QApplication::focusWidget();
    if (!focus) return;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(focus, &press);
    QApplication::sendEvent(focus, &release);
}

// The desktop's keys for a standard command, with the key of the design (Command as Ctrl) as well
// where the desktop's keyboard scheme lacks it.
QList<QKeySequence> keys(QKeySequence::StandardKey command, QKeySequence designed = {}) {
    QList<QKeySequence> list = QKeySequence::keyBindings(command);
    if (!designed.isEmpty() && !list.contains(designed)) list.append(designed);
    return list;
}

template <class F> void toActiveWindow(F f) {
    if (QWidget* window = QApplication::activeWindow()) f(*window);
}

} // namespace

MainMenu::MainMenu(Handlers handlers)
    : handlers_(std::move(handlers))
    , bar_(new QMenuBar) {
    bar_->setObjectName(QStringLiteral("mainMenu"));
    auto menu = [this](const QString& title) {
        QMenu* m = bar_->addMenu(title);
        return m;
    };
    auto item = [this](QMenu* m, const char* name, const QString& title, std::function<void()> run,
                       QList<QKeySequence> shortcuts = {}) {
        QAction* a = m->addAction(title);
        a->setObjectName(QString::fromLatin1(name));
        QObject::connect(a, &QAction::triggered, a, [run = std::move(run)] {
            if (run) run();
        });
        if (!shortcuts.isEmpty()) {
            a->setShortcuts(shortcuts);
            a->setShortcutContext(Qt::ApplicationShortcut);
            keyed_.push_back(a);
        }
        return a;
    };

    QMenu* app = menu(QStringLiteral("Vantor"));
    app->setObjectName(QStringLiteral("menu.app"));
    item(app, "menu.about", tr("About Vantor"), handlers_.openAbout);
    if (handlers_.checkForUpdates)
        item(app, "menu.checkForUpdates", tr("Check for Updates…"), handlers_.checkForUpdates);
    app->addSeparator();
    item(app, "menu.settings", tr("Settings…"), handlers_.openMainWindow,
         {QKeySequence(Qt::CTRL | Qt::Key_Comma)});
    app->addSeparator();
    item(app, "menu.hide", tr("Hide Vantor"), [this] { hideAll(); },
         {QKeySequence(Qt::CTRL | Qt::Key_H)});
    item(app, "menu.showAll", tr("Show All"), [this] { showAll(); });
    app->addSeparator();
    item(app, "menu.quit", tr("Quit Vantor"), handlers_.quit,
         keys(QKeySequence::Quit, Qt::CTRL | Qt::Key_Q));

    QMenu* file = menu(tr("File"));
    item(
        file, "menu.close", tr("Close"), [] { toActiveWindow([](QWidget& w) { w.close(); }); },
        keys(QKeySequence::Close, Qt::CTRL | Qt::Key_W));

    QMenu* edit = menu(tr("Edit"));
    item(
        edit, "menu.undo", tr("Undo"), [] { toFocusedWidget("undo"); },
        keys(QKeySequence::Undo, Qt::CTRL | Qt::Key_Z));
    item(
        edit, "menu.redo", tr("Redo"), [] { toFocusedWidget("redo"); },
        keys(QKeySequence::Redo, Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    edit->addSeparator();
    item(
        edit, "menu.cut", tr("Cut"), [] { toFocusedWidget("cut"); },
        keys(QKeySequence::Cut, Qt::CTRL | Qt::Key_X));
    item(
        edit, "menu.copy", tr("Copy"), [] { toFocusedWidget("copy"); },
        keys(QKeySequence::Copy, Qt::CTRL | Qt::Key_C));
    item(
        edit, "menu.paste", tr("Paste"), [] { toFocusedWidget("paste"); },
        keys(QKeySequence::Paste, Qt::CTRL | Qt::Key_V));
    item(edit, "menu.delete", tr("Delete"), deleteInFocusedWidget, keys(QKeySequence::Delete));
    item(
        edit, "menu.selectAll", tr("Select All"), [] { toFocusedWidget("selectAll"); },
        keys(QKeySequence::SelectAll, Qt::CTRL | Qt::Key_A));

    QMenu* view = menu(tr("View"));
    item(
        view, "menu.fullScreen", tr("Enter Full Screen"),
        [] {
            toActiveWindow(
                [](QWidget& w) { w.setWindowState(w.windowState() ^ Qt::WindowFullScreen); });
        },
        keys(QKeySequence::FullScreen, Qt::CTRL | Qt::META | Qt::Key_F));

    QMenu* window = menu(tr("Window"));
    item(window, "menu.minimize", tr("Minimize"),
         [] { toActiveWindow([](QWidget& w) { w.showMinimized(); }); },
         {QKeySequence(Qt::CTRL | Qt::Key_M)});
    item(window, "menu.zoom", tr("Zoom"), [] {
        toActiveWindow([](QWidget& w) { w.setWindowState(w.windowState() ^ Qt::WindowMaximized); });
    });
    window->addSeparator();
    item(window, "menu.bringAllToFront", tr("Bring All to Front"), [this] { bringAllToFront(); });

    QMenu* help = menu(tr("Help"));
    item(help, "menu.releaseNotes", tr("Release Notes"), handlers_.openReleaseNotes);
    item(help, "menu.website", tr("Vantor Website"), handlers_.openWebsite);
}

MainMenu::~MainMenu() {
    if (bar_ && !bar_->parent()) delete bar_;
}

void MainMenu::addKeysTo(QWidget* window) const {
    if (window && window != bar_->window()) window->addActions(keyed_);
}

QAction* MainMenu::action(const QString& name) const {
    return bar_ ? bar_->findChild<QAction*>(name) : nullptr;
}

void MainMenu::hideAll() {
    for (QWidget* window : handlers_.windows())
        if (window->isVisible()) {
            hidden_.push_back(window);
            window->hide();
        }
}

void MainMenu::showAll() {
    for (const QPointer<QWidget>& window : std::exchange(hidden_, {}))
        if (window) window->show();
}

void MainMenu::bringAllToFront() {
    QWidget* active = QApplication::activeWindow();
    for (QWidget* window : handlers_.windows())
        if (window->isVisible()) window->raise();
    if (active) {
        active->raise();
        active->activateWindow();
    }
}

} // namespace vantor
