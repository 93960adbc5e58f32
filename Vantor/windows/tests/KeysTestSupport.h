#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QMenuBar>
#include <QStringList>
#include <QTabBar>
#include <QTest>
#include <QWidget>
#include <map>

namespace testsupport {

// Shows the window in front with the keyboard focus, as a click on it would; false when it did
// not become active.
inline bool activate(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

// The Alt mnemonic of a text ("&Apps" gives 'A', "Tom && Jerry" none), upper case.
inline QChar mnemonicOf(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != u'&') continue;
        if (text[i + 1] == u'&') {
            ++i;
            continue;
        }
        return text[i + 1].toUpper();
    }
    return {};
}

// Every mnemonic a window offers: its buttons' (by object name), its tab titles' ("tab " and
// the title) and its menu bar's ("menu " and the title).
inline std::map<QString, QChar> mnemonics(QWidget* window) {
    std::map<QString, QChar> keys;
    auto add = [&keys](const QString& name, const QString& text) {
        if (const QChar key = mnemonicOf(text); !key.isNull()) keys[name] = key;
    };
    auto plain = [](QString text) { return text.remove(u'&'); };
    for (auto* button : window->findChildren<QAbstractButton*>())
        add(button->objectName().isEmpty() ? plain(button->text()) : button->objectName(),
            button->text());
    for (auto* bar : window->findChildren<QTabBar*>())
        for (int i = 0; i < bar->count(); ++i)
            add("tab " + plain(bar->tabText(i)), bar->tabText(i));
    for (auto* bar : window->findChildren<QMenuBar*>())
        for (QAction* action : bar->actions())
            add("menu " + plain(action->text()), action->text());
    return keys;
}

// The mnemonics that more than one control of the window has, as "A: addApp, tab Apps".
inline QStringList clashes(const std::map<QString, QChar>& keys) {
    std::map<QChar, QStringList> holders;
    for (const auto& [control, key] : keys)
        holders[key] << control;
    QStringList clashing;
    for (const auto& [key, controls] : holders)
        if (controls.size() > 1) clashing << QString(key) + ": " + controls.join(", ");
    return clashing;
}

} // namespace testsupport
