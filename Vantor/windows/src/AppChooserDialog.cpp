#include "VantorWindows/AppChooserDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace vantor {

AppChooserDialog::AppChooserDialog(const QString& message, const std::vector<ListedApp>& apps,
                                   QWidget* parent)
    : QDialog(parent)
    , list_(new QListWidget(this)) {
    setWindowTitle(tr("Add Apps"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(message, this);
    label->setObjectName("message");
    label->setWordWrap(true);
    layout->addWidget(label);

    list_->setObjectName("apps");
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setIconSize(QSize(24, 24));
    list_->setUniformItemSizes(true);
    for (const auto& app : apps) {
        auto* item = new QListWidgetItem(app.icon, app.name, list_);
        item->setToolTip(QString::fromStdString(app.bundleID));
        ids_.push_back(app.bundleID);
    }
    layout->addWidget(list_, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    auto* add = buttons->addButton(tr("Add"), QDialogButtonBox::AcceptRole);
    add->setObjectName("add");
    add->setDefault(true);
    add->setEnabled(false);
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancel");
    connect(list_, &QListWidget::itemSelectionChanged, add,
            [this, add] { add->setEnabled(!list_->selectedItems().isEmpty()); });
    connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(420, 480);
}

std::vector<std::string> AppChooserDialog::chosenApps() const {
    std::vector<std::string> chosen;
    for (int row = 0; row < list_->count(); ++row)
        if (list_->item(row)->isSelected()) chosen.push_back(ids_[static_cast<std::size_t>(row)]);
    return chosen;
}

DialogAppChooser::DialogAppChooser(std::function<QWidget*()> parent)
    : parent_(std::move(parent)) {}

std::optional<std::vector<std::string>> DialogAppChooser::chooseApps(const QString& message) {
    AppChooserDialog dialog(message, ListedApp::installed(), parent_ ? parent_() : nullptr);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.chosenApps();
}

} // namespace vantor
