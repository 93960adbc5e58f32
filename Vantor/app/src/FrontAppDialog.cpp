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
    // The reason may quote what the desktop reported: it is shown as text, never as markup.
    box->setInformativeText(
        QStringLiteral("<p>%1</p>").arg(QString::fromStdString(status.reason).toHtmlEscaped()));
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
