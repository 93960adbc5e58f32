#include "AppTestSupport.h"
#include "VantorShell/AccessibilityDialog.h"

#include <QMessageBox>

namespace vantor::testing {
namespace {

TEST_F(AppTest, accessibilityDialogGivesTheCommandsForTheUdevRule) {
    QString etc = QString::fromStdString(folder.path + "/etc");
    QString lib = QString::fromStdString(folder.path + "/lib");
    EXPECT_EQ(AccessibilityDialog::installedRule({etc, lib}), QString());
    folder.write("lib/70-vantor.rules", "# rule\n");
    EXPECT_EQ(AccessibilityDialog::installedRule({etc, lib}), lib + "/70-vantor.rules");

    EXPECT_EQ(AccessibilityDialog::commands(QString(), false),
              "sudo install -m 644 packaging/udev/70-vantor.rules /etc/udev/rules.d/\n"
              "sudo modprobe uinput\nsudo udevadm control --reload\nsudo udevadm trigger");

    std::unique_ptr<QMessageBox> box(AccessibilityDialog::make());
    EXPECT_EQ(box->windowTitle(), "Allow Device Access");
    EXPECT_TRUE(box->text().contains("/dev/uinput"));
}

TEST_F(AppTest, accessibilityDialogTellsAPackageUserWhatRenewsTheAccess) {
    const QString packaged = "/usr/lib/udev/rules.d/70-vantor.rules";
    struct Case {
        const char* name;
        QString installed;
        bool uinput;
        QStringList says, saysNot;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"source build",
              QString(),
              false,
              {"source folder", "sudo install -m 644 packaging/udev/70-vantor.rules",
               "udevadm trigger"},
              {"is installed", "log out"}},
             {"package",
              packaged,
              true,
              {"is installed (" + packaged + ")", "plug it in again", "log out and log in again"},
              {"packaging/udev", "source folder", "sudo", "udevadm"}},
             {"package, module not loaded",
              packaged,
              false,
              {"is installed", "sudo modprobe uinput", "plug it in again"},
              {"packaging/udev", "udevadm"}},
         }) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<QMessageBox> box(AccessibilityDialog::make(nullptr, c.installed, c.uinput));
        const QString text = box->informativeText();
        for (const QString& part : c.says)
            EXPECT_TRUE(text.contains(part)) << part.toStdString() << "\n" << text.toStdString();
        for (const QString& part : c.saysNot)
            EXPECT_FALSE(text.contains(part)) << part.toStdString() << "\n" << text.toStdString();
    }
}

} // namespace
} // namespace vantor::testing
