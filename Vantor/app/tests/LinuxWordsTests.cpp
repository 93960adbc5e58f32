// What Vantor's texts promise a Linux user: zoom as Ctrl + wheel, no rotate reaching an app, no
// trackpad and no menu bar, and per app only the settings that exist per app.
#include "AppTestSupport.h"
#include "VantorShell/AccessibilityDialog.h"
#include "VantorShell/CommandLine.h"
#include "VantorWindows/WindowController.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

namespace vantor::testing {
namespace {

QString sourceFile(const char* path) {
    QFile file(QStringLiteral(VANTOR_SOURCE_DIR "/") + QString::fromLatin1(path));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path;
    return QString::fromUtf8(file.readAll());
}

// The text between <tag> and </tag>, white space made single blanks.
QString element(const QString& xml, const QString& tag) {
    QRegularExpression pattern("<" + tag + ">(.*)</" + tag + ">",
                               QRegularExpression::DotMatchesEverythingOption);
    QString text = pattern.match(xml).captured(1);
    return text.remove(QRegularExpression("<[^>]*>")).simplified();
}

QString labelText(QWidget* window, const char* name) {
    auto* label = window->findChild<QLabel*>(QString::fromLatin1(name));
    return label ? label->text() : QString();
}

TEST_F(AppTest, textsSayWhatLinuxDoesWithZoomAndRotate) {
    AppDelegate& app = make();
    QWidget* main = app.mainWindow().loadWindow();
    QWidget* about = app.aboutWindow().loadWindow();
    QString footers;
    for (QLabel* label : main->findChildren<QLabel*>())
        footers += label->text() + "\n";
    const QString desktop = sourceFile("packaging/me.orvella.Vantor.desktop");
    const QString metainfo = sourceFile("packaging/me.orvella.Vantor.metainfo.xml");
    const QString comment =
        QRegularExpression("^Comment=(.*)$", QRegularExpression::MultilineOption)
            .match(desktop)
            .captured(1);
    const QString help = CommandLine::parse({"vantor", "--help"}).output;

    struct Case {
        const char* where;
        QString text;
        bool explainsZoom; // says how zoom reaches apps
    };
    for (const Case& c : std::initializer_list<Case>{
             {"the window's notes", footers, true},
             {"the About tagline", labelText(about, "aboutTagline"), false},
             {"--help", help, true},
             {"the desktop entry's Comment", comment, false},
             {"the metainfo summary", element(metainfo, "summary"), false},
             {"the metainfo description", element(metainfo, "description"), true},
         }) {
        SCOPED_TRACE(c.where);
        ASSERT_FALSE(c.text.isEmpty());
        for (const char* word : {"trackpad", "pinch", "menu bar", "rotates", "Dock"})
            EXPECT_FALSE(c.text.contains(QLatin1String(word), Qt::CaseInsensitive)) << word;
        EXPECT_EQ(c.text.contains(QLatin1String("Ctrl + wheel")), c.explainsZoom)
            << c.text.toStdString();
    }
    EXPECT_TRUE(footers.contains("tray menu"));
    EXPECT_TRUE(footers.contains("rotate has no counterpart on Linux"));
    for (const QString& promise : {labelText(about, "aboutTagline"), comment,
                                   element(metainfo, "summary"), element(metainfo, "description")})
        EXPECT_FALSE(promise.contains("rotate", Qt::CaseInsensitive)) << promise.toStdString();

    // An app's own settings are speed, response, momentum and what may run at the same time;
    // directions and movements are the same for every app.
    const QString perApp = element(metainfo, "description").section("each app can have", 1);
    ASSERT_FALSE(perApp.isEmpty());
    for (const char* own : {"speed", "response", "momentum", "at the same time"})
        EXPECT_TRUE(perApp.section('.', 0, 0).contains(QLatin1String(own))) << own;
    for (const char* shared : {"direction", "movement"})
        EXPECT_FALSE(perApp.section('.', 0, 0).contains(QLatin1String(shared))) << shared;
}

// The texts that name how Vantor gets its grants and the app in front name what Linux has.
TEST_F(AppTest, textsNameTheLinuxWaysOfTheAppInFrontAndTheDeviceAccess) {
    const QString notes = sourceFile("Vantor/windows/resources/ReleaseNotes.md");
    const QString requirements = notes.section("### Requirements", 1);
    ASSERT_FALSE(requirements.isEmpty());
    for (const char* desktop : {"X11", "wlroots", "KDE Plasma", "GNOME Shell", "XWayland"})
        EXPECT_TRUE(requirements.contains(QLatin1String(desktop))) << desktop;
    EXPECT_FALSE(requirements.contains("An X11 session")) << "X11 is one way among several";

    AppDelegate& app = make();
    QWidget* main = app.mainWindow().loadWindow();
    auto* allow = main->findChild<QPushButton*>("allowAccessibility");
    ASSERT_TRUE(allow);
    std::unique_ptr<QMessageBox> dialog(AccessibilityDialog::make(nullptr, QString(), false));
    for (const QString& text : {allow->text(), dialog->windowTitle()}) {
        EXPECT_TRUE(text.startsWith("Allow Device Access")) << text.toStdString();
        EXPECT_FALSE(text.contains("Accessibility")) << text.toStdString();
    }
}

// The release notes in the app and the README name the GNOME Shell releases that the Shell
// extension's metadata lists, the first to the last.
TEST(LinuxWords, theTextsNameTheShellReleasesTheExtensionLists) {
    QFile metadata(QStringLiteral(
        FRONT_APP_SHARE "/gnome-shell/extensions/" FRONT_APP_EXTENSION_UUID "/metadata.json"));
    ASSERT_TRUE(metadata.open(QIODevice::ReadOnly));
    const QJsonArray releases =
        QJsonDocument::fromJson(metadata.readAll()).object().value("shell-version").toArray();
    ASSERT_FALSE(releases.isEmpty());
    const QString range =
        "GNOME Shell " + releases.first().toString() + " to " + releases.last().toString();
    QFile notes(QStringLiteral(":/ReleaseNotes.md"));
    ASSERT_TRUE(notes.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(notes.readAll()).contains(range)) << range.toStdString();
    EXPECT_TRUE(sourceFile("README.md").simplified().contains(range)) << range.toStdString();
}

} // namespace
} // namespace vantor::testing
