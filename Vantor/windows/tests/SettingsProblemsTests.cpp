// The Settings tab says why the stored settings are not in use and why the SpaceMouse is not
// available, each only while there is something to say.
#include "MainViewHarness.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <functional>
#include <gtest/gtest.h>

namespace vantor::testing {
namespace {

TEST(MainView, settingsTabSaysWhyTheSettingsFileOrTheSpaceMouseIsNotInUse) {
    Harness h;
    const QString file = "/home/u/.config/me.orvella.Vantor.json is not valid JSON (line 3, "
                         "column 7); its settings are ignored, and a copy of it is kept in "
                         "/home/u/.config/me.orvella.Vantor.json.bad";
    const QString device = "Kestrix could not be reached: the broker folder /k belongs to user 0, "
                           "so Kestrix does not start; give it back with \"sudo chown -R u: /k\"";
    struct Row {
        const char* label;
        std::function<void(const std::optional<QString>&)> set;
        QString text;
    };
    const Row rows[] = {
        {"settingsFileProblem", [&](const auto& t) { h.model->setSettingsFileProblem(t); }, file},
        {"deviceProblem", [&](const auto& t) { h.model->setDeviceProblem(t); }, device},
    };
    h.view->show(); // a section counts as shown only when the window is
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        auto* label = h.find<QLabel>(row.label);
        EXPECT_FALSE(label->isVisibleTo(h.view.get()));
        row.set(row.text);
        h.model->setTab(MainTab::settings);
        EXPECT_TRUE(label->isVisibleTo(h.view.get()));
        EXPECT_EQ(label->text(), row.text);
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
        EXPECT_TRUE(label->wordWrap());
        row.set(std::nullopt);
        EXPECT_FALSE(label->isVisibleTo(h.view.get()));
    }
    // Both at once, as a picture to look at when asked for.
    if (const QString folder = qEnvironmentVariable("VANTOR_WINDOW_PICTURES"); !folder.isEmpty()) {
        for (const Row& row : rows)
            row.set(row.text);
        h.model->setDeviceName("SpaceMouse not available");
        QDir().mkpath(folder);
        QApplication::processEvents(); // the layout takes the longer texts
        EXPECT_TRUE(h.view->grab().save(QDir(folder).filePath("main-settings-problems.png")));
    }
}

} // namespace
} // namespace vantor::testing
