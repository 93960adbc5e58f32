#include "UpdateTestSupport.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <gtest/gtest.h>

using namespace vantor;

namespace {

struct Harness : updatetest::PromptHarness {
    std::vector<std::string> driver;
    std::vector<QUrl> opened;

    Harness() {
        updates->userDriver.onShowsWindow = [this] { driver.push_back("shows"); };
        updates->userDriver.onSessionEnded = [this] { driver.push_back("ended"); };
    }

    UpdateWindow& found(const AppcastItem& item, bool userStarted = true) {
        Q_EMIT updates->updateFound(item, userStarted);
        UpdateWindow* window = prompt->window();
        window->openUrl = [this](const QUrl& url) {
            opened.push_back(url);
            return true;
        };
        return *window;
    }
};

AppcastItem item(const QString& version, qint64 build) {
    AppcastItem item;
    item.shortVersion = version;
    item.build = build;
    item.download = QUrl("https://orvella.me/vantor/vantor-" + version + ".tar.gz");
    item.description = "<p>Faster <b>zoom</b>.</p>";
    return item;
}

QString summary(const UpdateWindow& window) {
    return window.findChild<QLabel*>("updateSummary")->text();
}

} // namespace

TEST(UpdateWindowTest, ShowsTheOfferedAndRunningVersion) {
    Harness h;
    EXPECT_EQ(summary(h.found(item("1.1.0", 2))), "Vantor 1.1.0 is available. You have 1.0.0.");
    EXPECT_EQ(summary(h.found(item("1.0.0", 3))), "Vantor 1.0.0 (3) is available. You have 1.0.0 (1).");
    EXPECT_EQ(summary(h.found(item("", 4))), "Vantor 4 is available. You have 1.0.0.");
    EXPECT_EQ(h.prompt->window()->findChild<QTextBrowser*>("updateNotes")->toPlainText(), "Faster zoom.");
    EXPECT_EQ(h.driver, std::vector<std::string>{"shows"}); // one window, shown once
}

TEST(UpdateWindowTest, DownloadOpensTheItemsAddressAndEndsTheSession) {
    Harness h;
    UpdateWindow& window = h.found(item("1.1.0", 2));
    window.findChild<QPushButton*>("updateDownload")->click();
    EXPECT_EQ(h.opened, std::vector<QUrl>{QUrl("https://orvella.me/vantor/vantor-1.1.0.tar.gz")});
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(h.driver, (std::vector<std::string>{"shows", "ended"}));

    h.found(item("1.2.0", 3)).findChild<QPushButton*>("updateLater")->click();
    EXPECT_EQ(h.opened.size(), 1u);
    EXPECT_EQ(h.driver, (std::vector<std::string>{"shows", "ended", "shows", "ended"}));
}

TEST(UpdateWindowTest, AnAddressThatIsNotAWebPageIsNeverOpened) {
    Harness h;
    AppcastItem bad = item("1.1.0", 2);
    bad.download = QUrl("file:///etc/passwd");
    h.found(bad).findChild<QPushButton*>("updateDownload")->click();
    EXPECT_TRUE(h.opened.empty());
}

TEST(UpdateWindowTest, UserStartedChecksSayWhenNothingIsNewOrTheCheckFailed) {
    Harness h;
    Q_EMIT h.updates->upToDate();
    ASSERT_TRUE(h.prompt->message());
    EXPECT_EQ(h.prompt->message()->objectName(), "updateUpToDate");
    EXPECT_EQ(h.prompt->message()->informativeText(), "Vantor 1.0.0 is the newest version available.");
    h.prompt->message()->button(QMessageBox::Ok)->click();
    EXPECT_EQ(h.driver, std::vector<std::string>{"ended"});

    Q_EMIT h.updates->checkFailed("The update server answered 404 Not Found.");
    ASSERT_TRUE(h.prompt->message());
    EXPECT_EQ(h.prompt->message()->text(), "Vantor could not check for updates.");
    EXPECT_EQ(h.prompt->message()->informativeText(), "The update server answered 404 Not Found.");
}
