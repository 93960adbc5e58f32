#include "UpdateTestSupport.h"

#include <QImage>
#include <QLabel>
#include <QTemporaryDir>
#include <QTextDocument>
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

namespace {

// A picture on disk that feed text names: were it ever loaded, what shows it grows past its
// 1,000 pixels.
struct LocalPicture {
    QTemporaryDir folder;
    QString path = folder.filePath("big.png");
    LocalPicture() {
        QImage image(1000, 1000, QImage::Format_RGB32);
        image.fill(Qt::red);
        image.save(path);
    }
    QString img() const { return "<img src=\"" + path + "\">"; }
};

} // namespace

TEST(UpdateWindowTest, NotesOfEveryFormatNeverLoadWhatTheyName) {
    LocalPicture picture;
    ASSERT_FALSE(QImage(picture.path).isNull());
    struct Case {
        const char* format;
        QString notes;
    } cases[] = {
        {"html", "<p>Faster</p>" + picture.img()},
        {"html", "<img src=\"file://" + picture.path + "\">"},
        {"html", "<link rel=\"stylesheet\" href=\"" + picture.path + "\">" + picture.img()},
        {"markdown", "Faster ![shot](" + picture.path + ")"},
        {"markdown", "Faster " + picture.img()},
    };
    Harness h;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.notes.toStdString());
        AppcastItem offered = item("1.1.0", 2);
        offered.description = c.notes;
        offered.descriptionFormat = c.format;
        QTextDocument* notes =
            h.found(offered).findChild<QTextBrowser*>("updateNotes")->document();
        notes->setTextWidth(400);
        EXPECT_LT(notes->size().height(), 1000);
        for (const QUrl& url : {QUrl::fromLocalFile(picture.path), QUrl(picture.path)})
            EXPECT_FALSE(notes->resource(QTextDocument::ImageResource, url).isValid());
    }
}

TEST(UpdateWindowTest, VersionsAndReasonPhrasesAreShownAsPlainText) {
    LocalPicture picture;
    Harness h;
    const QString version = picture.img() + "<a href=\"file:///etc/passwd\">1.1</a> & co";
    QLabel* label = h.found(item(version, 2)).findChild<QLabel*>("updateSummary");
    EXPECT_EQ(label->text(), "Vantor " + version + " is available. You have 1.0.0.");
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_LT(label->sizeHint().height(), 1000);

    const QString reason = "The update server answered 500 " + picture.img() +
                           "<a href=\"file:///etc/passwd\">Error</a>.";
    Q_EMIT h.updates->checkFailed(reason);
    ASSERT_TRUE(h.prompt->message());
    EXPECT_EQ(h.prompt->message()->informativeText(), reason);
    int informative = 0;
    for (QLabel* shown : h.prompt->message()->findChildren<QLabel*>()) {
        if (!shown->text().contains("answered")) continue;
        ++informative;
        EXPECT_EQ(shown->textFormat(), Qt::PlainText);
        EXPECT_FALSE(shown->openExternalLinks());
        EXPECT_LT(shown->sizeHint().height(), 1000);
    }
    EXPECT_EQ(informative, 1);
}

TEST(UpdateWindowTest, OnlyWebLinksInTheNotesAreOpened) {
    Harness h;
    AppcastItem offered = item("1.1.0", 2);
    UpdateWindow& window = h.found(offered);
    auto* notes = window.findChild<QTextBrowser*>("updateNotes");
    for (const char* link : {"file:///etc/passwd", "https://orvella.me/vantor/", "smb://host/x",
                             "/etc/passwd", "HTTP://orvella.me/notes", "javascript:alert(1)"})
        Q_EMIT notes->anchorClicked(QUrl(link));
    EXPECT_EQ(h.opened, (std::vector<QUrl>{QUrl("https://orvella.me/vantor/"),
                                           QUrl("HTTP://orvella.me/notes")}));
}
