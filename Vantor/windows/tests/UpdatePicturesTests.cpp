// Pictures of the release-notes view and the update window, for looking at: written only when
// VANTOR_WINDOW_PICTURES names a folder (run once with QT_SCALE_FACTOR=2 for the 2x pictures).
#include "KestrixProtocol/UserDefaults.h"
#include "VantorModels/Updates.h"
#include "VantorWindows/ReleaseNotesView.h"
#include "VantorWindows/UpdateWindow.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vantor;

namespace {

QPalette darkPalette() {
    QPalette p;
    const QColor window(0x2b, 0x2b, 0x2d), base(0x1e, 0x1e, 0x20), text(0xe8, 0xe8, 0xea);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3c));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::PlaceholderText, QColor(0x98, 0x98, 0x9d));
    p.setColor(QPalette::Highlight, QColor(0x2f, 0x6f, 0xd0));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x6c, 0xb4, 0xff));
    return p;
}

void save(QWidget& widget, const QString& folder, const QString& name) {
    widget.show();
    QCoreApplication::processEvents();
    const QString scale = QStringLiteral("%1x").arg(widget.devicePixelRatioF());
    EXPECT_TRUE(widget.grab().save(QDir(folder).filePath(name + "-" + scale + ".png"))) << name.toStdString();
    widget.hide();
}

struct NoFetcher final : FeedFetcher {
    void fetch(const QUrl&, Done) override {}
};

} // namespace

TEST(UpdatePicturesTest, WritesPicturesWhenAsked) {
    const QString folder = qEnvironmentVariable("VANTOR_WINDOW_PICTURES");
    if (folder.isEmpty()) GTEST_SKIP() << "set VANTOR_WINDOW_PICTURES to a folder to get the pictures";
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "VantorWindowsTests";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
    }
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    const QPalette light = QApplication::style()->standardPalette();
    QDir().mkpath(folder);

    QTemporaryDir defaultsFolder;
    kestrix::UserDefaults defaults(defaultsFolder.filePath("d.json").toStdString());
    UpdatesSystem system;
    system.defaults = &defaults;
    system.fetcher = std::make_unique<NoFetcher>();
    system.build = BuildInfo{"1.0.0", "1", false};
    Updates updates(std::move(system));
    UpdatePrompt prompt(updates);

    AppcastItem item;
    item.shortVersion = "1.1.0";
    item.build = 2;
    item.download = QUrl("https://orvella.me/vantor/vantor-1.1.0.tar.gz");
    item.descriptionFormat = "markdown";
    item.description = "## 1.1.0\n\n### Added\n- Zoom follows the cap more closely.\n- A *long* glide preset.\n\n"
                       "### Fixed\n- The tray menu shows the app in front after a desktop switch.";

    for (const auto& [paletteName, palette] : {std::pair{QString("light"), light}, std::pair{QString("dark"), darkPalette()}}) {
        QApplication::setPalette(palette);
        std::unique_ptr<ReleaseNotesView> notes(ReleaseNotesView::load());
        notes->resize(520, 600);
        save(*notes, folder, "release-notes-" + paletteName);
        ReleaseNotesView empty(std::nullopt);
        empty.resize(520, 600);
        save(empty, folder, "release-notes-empty-" + paletteName);
        Q_EMIT updates.updateFound(item, true);
        save(*prompt.window(), folder, "update-window-" + paletteName);
        prompt.window()->close();
        Q_EMIT updates.checkFailed("The update server did not answer within 30 seconds.");
        save(*prompt.message(), folder, "update-failed-" + paletteName);
        Q_EMIT updates.upToDate();
        save(*prompt.message(), folder, "update-up-to-date-" + paletteName);
    }
}
