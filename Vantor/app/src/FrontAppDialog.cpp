#include "VantorShell/FrontAppDialog.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

namespace vantor::FrontAppDialog {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("FrontAppDialog", text);
}

} // namespace

QMessageBox* make(const kestrix::core::FrontAppStatus& status, QWidget* parent) {
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("frontAppDialog"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Information);
    box->setWindowTitle(tr("App in Front"));
    box->setText(tr("Vantor cannot see which app is in front on this desktop, so it gives the "
                    "SpaceMouse to no app."));
    // The reason may quote what the desktop reported: it is shown as text, never as markup. Each
    // of its lines is a paragraph; a line indented by four spaces is a command to type, shown
    // unwrapped so that it reads as it is typed.
    QString html;
    for (const QString& line : QString::fromStdString(status.reason).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("    ")))
            html += QStringLiteral("<p style=\"white-space:pre\">%1</p>")
                        .arg(line.mid(4).toHtmlEscaped());
        else
            html += QStringLiteral("<p>%1</p>").arg(line.toHtmlEscaped());
    }
    box->setInformativeText(html);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (status.action) {
        QPushButton* act =
            box->addButton(QString::fromStdString(status.action->title), QMessageBox::AcceptRole);
        act->setObjectName(QStringLiteral("frontAppAction"));
        QObject::connect(act, &QPushButton::clicked, box, [perform = status.action->perform] {
            if (perform) perform();
        });
    }
    box->addButton(QMessageBox::Close);
    return box;
}

} // namespace vantor::FrontAppDialog
