#include "VantorShell/MainMenu.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QTextEdit>
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

// A label has no copy slot: its selected text goes to the clipboard here.
void copyFromFocusedWidget() {
    if (const auto* label = qobject_cast<const QLabel*>(QApplication::focusWidget())) {
        if (label->hasSelectedText()) QGuiApplication::clipboard()->setText(label->selectedText());
        return;
    }
    toFocusedWidget("copy");
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

// The desktop's keys for a standard command, with the Ctrl key of the command (Ctrl where a Mac
// has Command) as well where the desktop's keyboard scheme lacks it.
QList<QKeySequence> keys(QKeySequence::StandardKey command, QKeySequence ctrlKey = {}) {
    QList<QKeySequence> list = QKeySequence::keyBindings(command);
    if (!ctrlKey.isEmpty() && !list.contains(ctrlKey)) list.append(ctrlKey);
    return list;
}

template <class F> void toActiveWindow(F f) {
    if (QWidget* window = QApplication::activeWindow()) f(*window);
}

} // namespace

MainMenu::MainMenu(Handlers handlers)
    : handlers_(std::move(handlers))
    , bar_(new QMenuBar)
    , watch_(std::make_unique<QObject>()) {
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

    // Titles carry Alt mnemonics, as desktop menu bars have.
    QMenu* app = menu(QStringLiteral("&Vantor"));
    app->setObjectName(QStringLiteral("menu.app"));
    item(app, "menu.about", tr("About Vantor"), handlers_.openAbout);
    if (handlers_.checkForUpdates)
        item(app, "menu.checkForUpdates", tr("Check for Updates…"), handlers_.checkForUpdates);
    app->addSeparator();
    item(app, "menu.settings", tr("Settings…"), handlers_.openMainWindow,
         {QKeySequence(Qt::CTRL | Qt::Key_Comma)});
    app->addSeparator();
    item(app, "menu.quit", tr("Quit Vantor"), handlers_.quit,
         keys(QKeySequence::Quit, Qt::CTRL | Qt::Key_Q));

    QMenu* file = menu(tr("&File"));
    item(
        file, "menu.close", tr("Close"), [] { toActiveWindow([](QWidget& w) { w.close(); }); },
        keys(QKeySequence::Close, Qt::CTRL | Qt::Key_W));

    QMenu* edit = menu(tr("&Edit"));
    edit->setObjectName(QStringLiteral("menu.edit"));
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
        edit, "menu.copy", tr("Copy"), copyFromFocusedWidget,
        keys(QKeySequence::Copy, Qt::CTRL | Qt::Key_C));
    item(
        edit, "menu.paste", tr("Paste"), [] { toFocusedWidget("paste"); },
        keys(QKeySequence::Paste, Qt::CTRL | Qt::Key_V));
    item(edit, "menu.delete", tr("Delete"), deleteInFocusedWidget, keys(QKeySequence::Delete));
    item(
        edit, "menu.selectAll", tr("Select All"), [] { toFocusedWidget("selectAll"); },
        keys(QKeySequence::SelectAll, Qt::CTRL | Qt::Key_A));

    // Edit items are enabled for what the focused widget can do, checked as the menu opens and
    // whenever the focus moves (so that their keys pass to a widget that cannot).
    QObject::connect(edit, &QMenu::aboutToShow, watch_.get(),
                     [this] { updateEditItems(QApplication::focusWidget()); });
    QObject::connect(qApp, &QApplication::focusChanged, watch_.get(),
                     [this](QWidget*, QWidget* now) { updateEditItems(now); });
    updateEditItems(nullptr);

    QMenu* window = menu(tr("&Window"));
    item(window, "menu.minimize", tr("Minimize"),
         [] { toActiveWindow([](QWidget& w) { w.showMinimized(); }); },
         {QKeySequence(Qt::CTRL | Qt::Key_M)});
    item(window, "menu.zoom", tr("Maximize"), [] {
        toActiveWindow([](QWidget& w) { w.setWindowState(w.windowState() ^ Qt::WindowMaximized); });
    });

    QMenu* help = menu(tr("&Help"));
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

MainMenu::EditAbilities MainMenu::editAbilities(const QWidget* focus) {
    EditAbilities can;
    if (!focus) return can;
    const bool clipboardText =
        QGuiApplication::clipboard() && !QGuiApplication::clipboard()->text().isEmpty();
    if (const auto* combo = qobject_cast<const QComboBox*>(focus)) focus = combo->lineEdit();
    if (const auto* line = qobject_cast<const QLineEdit*>(focus)) {
        const bool editable = !line->isReadOnly();
        const bool shown = line->echoMode() == QLineEdit::Normal; // no copying a password
        can.undo = editable && line->isUndoAvailable();
        can.redo = editable && line->isRedoAvailable();
        can.cut = editable && shown && line->hasSelectedText();
        can.copy = shown && line->hasSelectedText();
        can.paste = editable && clipboardText;
        can.remove = editable && line->hasSelectedText();
        can.selectAll = !line->text().isEmpty();
        return can;
    }
    const QTextDocument* document = nullptr;
    bool editable = false, selected = false;
    if (const auto* text = qobject_cast<const QTextEdit*>(focus)) {
        document = text->document();
        editable = !text->isReadOnly();
        selected = text->textCursor().hasSelection();
    } else if (const auto* plain = qobject_cast<const QPlainTextEdit*>(focus)) {
        document = plain->document();
        editable = !plain->isReadOnly();
        selected = plain->textCursor().hasSelection();
    }
    if (document) {
        can.undo = editable && document->isUndoAvailable();
        can.redo = editable && document->isRedoAvailable();
        can.cut = editable && selected;
        can.copy = selected;
        can.paste = editable && clipboardText;
        can.remove = editable && selected;
        can.selectAll = !document->isEmpty();
        return can;
    }
    // Selectable text of a label: copied, nothing else.
    if (const auto* label = qobject_cast<const QLabel*>(focus))
        can.copy = label->hasSelectedText();
    return can;
}

void MainMenu::updateEditItems(const QWidget* focus) {
    const EditAbilities can = editAbilities(focus);
    const std::pair<const char*, bool> items[] = {
        {"menu.undo", can.undo},   {"menu.redo", can.redo},     {"menu.cut", can.cut},
        {"menu.copy", can.copy},   {"menu.paste", can.paste},   {"menu.delete", can.remove},
        {"menu.selectAll", can.selectAll},
    };
    for (const auto& [name, enabled] : items)
        if (QAction* a = action(QString::fromLatin1(name))) a->setEnabled(enabled);
}

} // namespace vantor
