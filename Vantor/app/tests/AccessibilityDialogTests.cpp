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

    EXPECT_EQ(AccessibilityDialog::commands(QString()),
              "sudo install -m 644 packaging/udev/70-vantor.rules /etc/udev/rules.d/\n"
              "sudo modprobe uinput\nsudo udevadm control --reload\nsudo udevadm trigger");
    EXPECT_FALSE(AccessibilityDialog::commands(lib + "/70-vantor.rules").contains("install"));

    std::unique_ptr<QMessageBox> box(AccessibilityDialog::make());
    EXPECT_TRUE(box->text().contains("/dev/uinput"));
    EXPECT_TRUE(box->informativeText().contains("udevadm trigger"));
}

} // namespace
} // namespace vantor::testing
