#include "VantorWindows/AppChooserDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace vantor {

namespace {

constexpr int iconEdge = 24;

// The icon centred on a square of the list's icon size, so that small icons do not pull their
// names to the left.
QIcon framed(const QIcon& icon) {
    QIcon square;
    for (int scale : {1, 2}) {
        QPixmap pixmap(iconEdge * scale, iconEdge * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        icon.paint(&painter, QRect(0, 0, iconEdge, iconEdge));
        painter.end();
        square.addPixmap(pixmap);
    }
    return square;
}

} // namespace

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
    list_->setIconSize(QSize(iconEdge, iconEdge));
    list_->setUniformItemSizes(true);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setTextElideMode(Qt::ElideRight);
    // Without an icon theme even the generic icon is empty; the rows still line up.
    QIcon fallback = style()->standardIcon(QStyle::SP_FileIcon);
    for (const auto& app : apps) {
        auto* item =
            new QListWidgetItem(framed(app.icon.isNull() ? fallback : app.icon), app.name, list_);
        item->setToolTip(app.name + "\n" + QString::fromStdString(app.bundleID));
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
