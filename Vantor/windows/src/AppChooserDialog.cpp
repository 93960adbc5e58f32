#include "VantorWindows/AppChooserDialog.h"

#include "VantorWindows/TextStyle.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>

namespace vantor {

namespace {

constexpr int iconEdge = 24;
constexpr int idRole = Qt::UserRole + 1;

// Every icon takes the whole icon square, so that small icons do not pull their names to the
// left; a smaller picture sits in its middle.
class SquareIcons final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (option->features & QStyleOptionViewItem::HasDecoration)
            option->decorationSize = QSize(iconEdge, iconEdge);
    }
};

} // namespace

AppChooserDialog::AppChooserDialog(const QString& message, const std::vector<ListedApp>& apps,
                                   QWidget* parent)
    : QDialog(parent)
    , filter_(new QLineEdit(this))
    , list_(new QListView(this))
    , apps_(new QStandardItemModel(this))
    , shown_(new QSortFilterProxyModel(this)) {
    setWindowTitle(tr("Add Apps"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(message, this);
    label->setObjectName("message");
    label->setWordWrap(true);
    layout->addWidget(label);

    filter_->setObjectName("filter");
    filter_->setPlaceholderText(tr("Search"));
    filter_->setClearButtonEnabled(true);
    layout->addWidget(filter_);

    // Without an icon theme even the generic icon is empty; the rows still line up.
    const QIcon fallback = style()->standardIcon(QStyle::SP_FileIcon);
    for (const auto& app : apps) {
        auto* item = new QStandardItem(app.icon.isNull() ? fallback : app.icon, app.name);
        item->setEditable(false);
        item->setToolTip(
            style::plainToolTip(app.name + "\n" + QString::fromStdString(app.bundleID)));
        item->setData(QString::fromStdString(app.bundleID), idRole);
        apps_->appendRow(item);
    }
    shown_->setSourceModel(apps_);
    shown_->setFilterCaseSensitivity(Qt::CaseInsensitive);

    list_->setObjectName("apps");
    list_->setModel(shown_);
    list_->setItemDelegate(new SquareIcons(list_));
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setIconSize(QSize(iconEdge, iconEdge));
    list_->setUniformItemSizes(true);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setTextElideMode(Qt::ElideRight);
    layout->addWidget(list_, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    auto* add = buttons->addButton(tr("&Add"), QDialogButtonBox::AcceptRole);
    add->setObjectName("add");
    add->setDefault(true);
    add->setEnabled(false);
    // The desktop's own text for Cancel may come without a mnemonic.
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancel");
    buttons->button(QDialogButtonBox::Cancel)->setText(tr("&Cancel"));
    auto enableAdd = [this, add] { add->setEnabled(list_->selectionModel()->hasSelection()); };
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, add, enableAdd);
    // Rows the search hides are no longer chosen.
    connect(filter_, &QLineEdit::textChanged, this, [this, enableAdd](const QString& text) {
        shown_->setFilterFixedString(text);
        enableAdd();
    });
    connect(list_, &QListView::doubleClicked, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    filter_->installEventFilter(this);
    filter_->setFocus();
    resize(420, 480);
}

bool AppChooserDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched != filter_ || event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    const auto* key = static_cast<const QKeyEvent*>(event);
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier || shown_->rowCount() == 0)
        return false;
    switch (key->key()) {
    case Qt::Key_Down: {
        const QModelIndex current = list_->currentIndex();
        list_->setFocus(Qt::TabFocusReason);
        if (!current.isValid())
            list_->selectionModel()->setCurrentIndex(shown_->index(0, 0),
                                                     QItemSelectionModel::ClearAndSelect);
        return true;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (shown_->rowCount() != 1) return false;
        list_->selectionModel()->select(shown_->index(0, 0), QItemSelectionModel::ClearAndSelect);
        accept();
        return true;
    default:
        return false;
    }
}

std::vector<std::string> AppChooserDialog::chosenApps() const {
    QModelIndexList selected = list_->selectionModel()->selectedIndexes();
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<std::string> chosen;
    for (const QModelIndex& index : selected)
        chosen.push_back(index.data(idRole).toString().toStdString());
    return chosen;
}

DialogAppChooser::DialogAppChooser(std::function<QWidget*()> parent,
                                   std::optional<std::string> ownBundleID)
    : parent_(std::move(parent))
    , ownBundleID_(std::move(ownBundleID)) {}

std::optional<std::vector<std::string>> DialogAppChooser::chooseApps(const QString& message) {
    std::vector<ListedApp> apps = ListedApp::installed();
    if (ownBundleID_)
        apps.erase(std::remove_if(apps.begin(), apps.end(),
                                  [&](const ListedApp& app) { return app.bundleID == *ownBundleID_; }),
                   apps.end());
    AppChooserDialog dialog(message, apps, parent_ ? parent_() : nullptr);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.chosenApps();
}

} // namespace vantor
