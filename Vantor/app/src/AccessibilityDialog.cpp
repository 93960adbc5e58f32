#include "VantorShell/AccessibilityDialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

namespace vantor::AccessibilityDialog {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("AccessibilityDialog", text);
}

} // namespace

QStringList ruleFolders() {
    return {QStringLiteral("/etc/udev/rules.d"), QStringLiteral("/usr/lib/udev/rules.d"),
            QStringLiteral("/usr/local/lib/udev/rules.d"), QStringLiteral("/lib/udev/rules.d")};
}

QString installedRule(const QStringList& folders) {
    for (const QString& folder : folders) {
        QString path = QDir(folder).filePath(QString::fromLatin1(ruleName));
        if (QFileInfo(path).isFile()) return path;
    }
    return {};
}

QString commands(const QString& installed) {
    QStringList lines;
    if (installed.isEmpty())
        lines << QStringLiteral("sudo install -m 644 packaging/udev/%1 /etc/udev/rules.d/")
                     .arg(QString::fromLatin1(ruleName));
    lines << QStringLiteral("sudo modprobe uinput")
          << QStringLiteral("sudo udevadm control --reload")
          << QStringLiteral("sudo udevadm trigger");
    return lines.join(QLatin1Char('\n'));
}

QMessageBox* make(QWidget* parent) {
    QString installed = installedRule();
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("accessibilityDialog"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Information);
    box->setWindowTitle(tr("Allow Accessibility"));
    box->setText(tr("Vantor scrolls and zooms through a virtual input device, so it needs write "
                    "access to /dev/uinput."));
    QString where =
        installed.isEmpty()
            ? tr("The udev rule that comes with Vantor gives it to the user at the seat. From "
                 "Vantor's source folder, install the rule, load the module and apply the rule:")
            : tr("The udev rule that gives it to the user at the seat is installed (%1). Load "
                 "the module and apply the rule:")
                  .arg(installed.toHtmlEscaped());
    box->setInformativeText(
        QStringLiteral("<p>%1</p><pre>%2</pre><p>%3</p>")
            .arg(where, commands(installed).toHtmlEscaped(),
                 tr("Vantor notices the access by itself, without a new start.")));
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->setStandardButtons(QMessageBox::Close);
    return box;
}

} // namespace vantor::AccessibilityDialog
