// The windows as the keyboard drives them: keys sent through the window, as the desktop sends
// them, to whatever has the focus.
#include "KeysTestSupport.h"
#include "MainViewHarness.h"
#include "VantorWindows/AboutView.h"
#include "VantorWindows/AppChooserDialog.h"
#include "VantorWindows/ReleaseNotesView.h"
#include "VantorWindows/WindowController.h"

#include <QComboBox>
#include <QListView>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace vantor {
namespace {

using testing::Harness;

// The controls of a window that take the focus and can be seen.
std::vector<QWidget*> focusableControls(QWidget* window) {
    std::vector<QWidget*> controls;
    for (QWidget* widget : window->findChildren<QWidget*>())
        if (widget->isVisible() && widget->isEnabled() && !widget->focusProxy() &&
            (widget->focusPolicy() & Qt::TabFocus))
            controls.push_back(widget);
    return controls;
}

TEST(Keyboard, escapeClosesTheReleaseNotesWhereverTheFocusIs) {
    windowTestApp();
    WindowController controller("Release Notes", QSize(520, 600),
                                [] { return ReleaseNotesView::load(); });
    controller.show();
    QWidget* window = controller.window();
    ASSERT_TRUE(testsupport::activate(window));
    std::vector<QWidget*> targets = focusableControls(window);
    ASSERT_FALSE(targets.empty()) << "the notes have links and a scroll area to focus";
    targets.insert(targets.begin(), nullptr); // nothing focused, as the window opens
    for (QWidget* target : targets) {
        SCOPED_TRACE(target ? target->metaObject()->className() : "no focus");
        controller.show();
        ASSERT_TRUE(testsupport::activate(window));
        if (target) target->setFocus(Qt::TabFocusReason);
        QTest::keyClick(window->windowHandle(), Qt::Key_Escape);
        EXPECT_FALSE(window->isVisible());
    }
}

TEST(Keyboard, ctrlTabAndCtrlPageKeysSwitchTabsFromEveryControl) {
    struct Key {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int step;
    };
    const Key keys[] = {
        {Qt::Key_Tab, Qt::ControlModifier, 1},
        {Qt::Key_PageDown, Qt::ControlModifier, 1},
        {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, -1},
        {Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier, -1},
        {Qt::Key_PageUp, Qt::ControlModifier, -1},
    };
    const int count = int(MainTab::allCases().size());
    // Right after the window opens, before anything was focused by hand.
    for (const Key& key : keys) {
        Harness h(scroll::ScrollSettings{});
        h.model->setHasPermission(false);
        h.view->show();
        ASSERT_TRUE(testsupport::activate(h.view.get()));
        QTest::keyClick(h.view->windowHandle(), key.key, key.modifiers);
        EXPECT_EQ(int(MainTab::Value(h.model->tab())), (count + key.step) % count)
            << "a window just opened, key " << key.key;
    }
    // From every control of every tab, the combo boxes among them.
    Harness h;
    h.model->setHasPermission(false);
    h.model->setSelectedApp("org.example.Maps");
    h.model->setSettings([] {
        scroll::ScrollSettings s;
        s.allowedApps = {"org.example.Maps"};
        return s;
    }());
    h.view->show();
    ASSERT_TRUE(testsupport::activate(h.view.get()));
    auto* tabs = h.find<QTabWidget>("tabs");
    int combos = 0;
    for (int tab = 0; tab < count; ++tab) {
        tabs->setCurrentIndex(tab);
        const std::vector<QWidget*> controls = focusableControls(h.view.get());
        for (QWidget* control : controls) {
            combos += qobject_cast<QComboBox*>(control) != nullptr;
            for (const Key& key : keys) {
                tabs->setCurrentIndex(tab);
                control->setFocus(Qt::TabFocusReason);
                ASSERT_EQ(QApplication::focusWidget(), control)
                    << control->metaObject()->className() << " " << control->objectName().toStdString();
                QTest::keyClick(h.view->windowHandle(), key.key, key.modifiers);
                EXPECT_EQ(tabs->currentIndex(), (tab + key.step + count) % count)
                    << control->metaObject()->className() << " " << control->objectName().toStdString()
                    << " on tab " << tab << ", key " << key.key;
            }
        }
    }
    EXPECT_GE(combos, 6 + 2 + 2) << "the pickers of the Movements and Defaults tabs and of the app";
    EXPECT_EQ(h.changes, 0) << "the keys change no setting on their way";
}

TEST(Keyboard, addAppsDownGoesToTheListAndReturnAddsTheOneMatch) {
    windowTestApp();
    const std::vector<ListedApp> apps{ListedApp("org.atlas", "Atlas", QIcon(), true),
                                      ListedApp("org.maps", "Maps", QIcon(), true),
                                      ListedApp("org.notes", "Notes", QIcon(), true)};
    struct Case {
        const char* typed;
        Qt::Key key;
        bool accepted;
        std::vector<std::string> chosen;
        bool listFocused;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"map", Qt::Key_Return, true, {"org.maps"}, false},
             {"NOT", Qt::Key_Enter, true, {"org.notes"}, false},
             {"a", Qt::Key_Return, false, {}, false},   // three match: nothing is added
             {"zzz", Qt::Key_Return, false, {}, false}, // none matches
             {"", Qt::Key_Down, false, {"org.atlas"}, true},
             {"t", Qt::Key_Down, false, {"org.atlas"}, true},
             {"zzz", Qt::Key_Down, false, {}, false},
         }) {
        SCOPED_TRACE(std::string(c.typed) + " " + std::to_string(c.key));
        AppChooserDialog dialog("Choose.", apps);
        dialog.show();
        ASSERT_TRUE(testsupport::activate(&dialog));
        auto* filter = dialog.findChild<QWidget*>("filter");
        ASSERT_EQ(QApplication::focusWidget(), filter);
        for (const char* letter = c.typed; *letter; ++letter)
            QTest::keyClick(dialog.windowHandle(), *letter);
        QTest::keyClick(dialog.windowHandle(), c.key);
        EXPECT_EQ(dialog.result() == QDialog::Accepted, c.accepted);
        EXPECT_EQ(dialog.isVisible(), !c.accepted);
        EXPECT_EQ(dialog.chosenApps(), c.chosen);
        EXPECT_EQ(QApplication::focusWidget() == dialog.findChild<QListView*>("apps"),
                  c.listFocused);
    }
}

TEST(Keyboard, buttonsAndTabTitlesHaveMnemonicsThatDoNotClash) {
    windowTestApp();
    Harness h;
    h.model->setHasPermission(false);
    AboutView about({}, {});
    AppChooserDialog chooser("Choose.", {});
    struct Window {
        const char* name;
        QWidget* root;
        std::vector<std::pair<QString, QChar>> expected; // control (or tab title) and its key
    };
    const Window windows[] = {
        {"settings",
         h.view.get(),
         {{"tab Defaults", 'D'},
          {"tab Movements", 'M'},
          {"tab Directions", 'I'},
          {"tab Apps", 'A'},
          {"tab Settings", 'S'},
          {"restoreDefaults", 'R'},
          {"addApp", 'P'},
          {"useDefaults", 'U'},
          {"openLoginItems", 'O'}}},
        {"about", &about, {{"aboutReleaseNotes", 'R'}, {"aboutSettings", 'S'}}},
        {"add apps", &chooser, {{"add", 'A'}, {"cancel", 'C'}}},
    };
    for (const Window& window : windows) {
        SCOPED_TRACE(window.name);
        const auto keys = testsupport::mnemonics(window.root);
        for (const auto& [control, key] : window.expected) {
            const auto found = keys.find(control);
            ASSERT_NE(found, keys.end()) << control.toStdString();
            EXPECT_EQ(found->second, key) << control.toStdString();
        }
        EXPECT_EQ(testsupport::clashes(keys), QStringList{});
    }
}

} // namespace
} // namespace vantor
