// Pictures of the release-notes view and the update window, for looking at: written only when
// VANTOR_WINDOW_PICTURES names a folder (run once more with QT_SCALE_FACTOR=2 for 2x).
#include "UpdateTestSupport.h"
#include "VantorWindows/ReleaseNotesView.h"

#include <QDir>
#include <QMessageBox>
#include <QStyle>
#include <QStyleFactory>
#include <gtest/gtest.h>

using namespace vantor;

namespace {

QPalette darkPalette() {
    QPalette p;
    const std::pair<QPalette::ColorRole, QRgb> colors[] = {
        {QPalette::Window, 0x2b2b2d},     {QPalette::WindowText, 0xe8e8ea},      {QPalette::Base, 0x1e1e20},
        {QPalette::Text, 0xe8e8ea},       {QPalette::Button, 0x3a3a3c},          {QPalette::ButtonText, 0xe8e8ea},
        {QPalette::Highlight, 0x2f6fd0},  {QPalette::PlaceholderText, 0x98989d}, {QPalette::Link, 0x6cb4ff},
        {QPalette::AlternateBase, 0x2b2b2d}};
    for (auto [role, rgb] : colors) p.setColor(role, QColor(rgb));
    return p;
}

void save(QWidget& widget, const QString& folder, const QString& name) {
    widget.show();
    QCoreApplication::processEvents();
    const QString file = QStringLiteral("%1-%2x.png").arg(name).arg(widget.devicePixelRatioF());
    EXPECT_TRUE(widget.grab().save(QDir(folder).filePath(file))) << file.toStdString();
    widget.hide();
}

} // namespace

TEST(UpdatePicturesTest, WritesPicturesWhenAsked) {
    const QString folder = qEnvironmentVariable("VANTOR_WINDOW_PICTURES");
    if (folder.isEmpty()) GTEST_SKIP() << "set VANTOR_WINDOW_PICTURES to a folder to get the pictures";
    updatetest::PromptHarness h;
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QDir().mkpath(folder);

    AppcastItem item;
    item.shortVersion = "1.1.0";
    item.build = 2;
    item.download = QUrl("https://orvella.me/vantor/vantor-1.1.0.tar.gz");
    item.descriptionFormat = "markdown";
    item.description = "## 1.1.0\n\n### Added\n- Zoom follows the cap more closely.\n- A *long* glide preset.\n\n"
                       "### Fixed\n- The tray menu shows the app in front after a desktop switch.";

    for (const auto& [name, palette] : {std::pair{QString("light"), QApplication::style()->standardPalette()},
                                        std::pair{QString("dark"), darkPalette()}}) {
        QApplication::setPalette(palette);
        std::unique_ptr<ReleaseNotesView> notes(ReleaseNotesView::load());
        notes->resize(520, 600);
        save(*notes, folder, "release-notes-" + name);
        ReleaseNotesView empty(std::nullopt);
        empty.resize(520, 600);
        save(empty, folder, "release-notes-empty-" + name);
        Q_EMIT h.updates->updateFound(item, true);
        save(*h.prompt->window(), folder, "update-window-" + name);
        h.prompt->window()->close();
        Q_EMIT h.updates->checkFailed("The update server did not answer within 30 seconds.");
        save(*h.prompt->message(), folder, "update-failed-" + name);
        Q_EMIT h.updates->upToDate();
        save(*h.prompt->message(), folder, "update-up-to-date-" + name);
    }
}
