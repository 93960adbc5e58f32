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

QString commands(const QString& installed, bool uinputPresent) {
    QStringList lines;
    if (installed.isEmpty()) {
        // A source build: the rule comes from the source folder.
        lines << QStringLiteral("sudo install -m 644 packaging/udev/%1 /etc/udev/rules.d/")
                     .arg(QString::fromLatin1(ruleName))
              << QStringLiteral("sudo modprobe uinput")
              << QStringLiteral("sudo udevadm control --reload")
              << QStringLiteral("sudo udevadm trigger");
    } else if (!uinputPresent) {
        // The module is loaded at boot from now on; this loads it today.
        lines << QStringLiteral("sudo modprobe uinput");
    }
    return lines.join(QLatin1Char('\n'));
}

QMessageBox* make(QWidget* parent) {
    return make(parent, installedRule(), QFileInfo::exists(QStringLiteral("/dev/uinput")));
}

QMessageBox* make(QWidget* parent, const QString& installed, bool uinputPresent) {
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("accessibilityDialog"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Information);
    box->setWindowTitle(tr("Allow Device Access"));
    box->setText(tr("Vantor scrolls and zooms through a virtual input device, so it needs write "
                    "access to /dev/uinput."));
    QStringList paragraphs;
    const QString shell = commands(installed, uinputPresent);
    if (installed.isEmpty()) {
        paragraphs << tr("The udev rule that comes with Vantor gives it to the user at the seat. "
                         "From Vantor's source folder, install the rule, load the module and "
                         "apply the rule:")
                   << QStringLiteral("<pre>%1</pre>").arg(shell.toHtmlEscaped());
    } else {
        paragraphs << tr("The udev rule that gives it to the user at the seat is installed (%1).")
                          .arg(installed.toHtmlEscaped());
        if (!shell.isEmpty())
            paragraphs << tr("The uinput module is not loaded yet. Load it:")
                       << QStringLiteral("<pre>%1</pre>").arg(shell.toHtmlEscaped());
        paragraphs << tr("Unplug the SpaceMouse and plug it in again. If Vantor still may not post "
                         "events, log out and log in again: the desktop gives the user at the "
                         "seat this access when the session starts.");
    }
    paragraphs << tr("Vantor notices the access by itself, without a new start.");
    QString html;
    for (const QString& paragraph : paragraphs)
        html += paragraph.startsWith(QLatin1String("<pre>")) ? paragraph
                                                              : QStringLiteral("<p>%1</p>").arg(paragraph);
    box->setInformativeText(html);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->setStandardButtons(QMessageBox::Close);
    return box;
}

} // namespace vantor::AccessibilityDialog
