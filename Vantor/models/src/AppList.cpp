#include "VantorModels/AppList.h"

#include "VantorModels/SettingsModel.h"

#include <QTextDocument>
#include <unordered_map>
#include <unordered_set>

namespace vantor {

using scroll::DevicePolicy::AppChoice;

AppList::AppList(SettingsModel& model, QObject* parent)
    : QAbstractListModel(parent)
    , model_(model) {}

int AppList::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

QVariant AppList::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const ListedApp& app = rows_[std::size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return app.name;
    case Qt::AccessibleTextRole:
        // What a screen reader says of the row, whose one control is the app's switch.
        return tr("Use the SpaceMouse in %1").arg(app.name);
    case Qt::DecorationRole:
        return app.icon;
    case Qt::ToolTipRole:
        // Tooltips take text that looks like markup as markup: the id is shown as it is.
        return Qt::convertFromPlainText(QString::fromStdString(app.bundleID));
    case Qt::CheckStateRole:
        return model_.settings().deviceChoice(app.bundleID) == AppChoice::on ? Qt::Checked
                                                                               : Qt::Unchecked;
    case CaptionRole:
    case Qt::AccessibleDescriptionRole:
        return caption(app.bundleID);
    case BundleIDRole:
        return QString::fromStdString(app.bundleID);
    default:
        return {};
    }
}

bool AppList::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole ||
        !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    // Copied: the edit may take the row away.
    const std::string app = rows_[std::size_t(index.row())].bundleID;
    model_.isOn(app).set(value.value<Qt::CheckState>() == Qt::Checked);
    return true;
}

Qt::ItemFlags AppList::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
           Qt::ItemNeverHasChildren;
}

int AppList::rowOf(const std::string& bundleID) const {
    for (std::size_t row = 0; row < rows_.size(); ++row)
        if (rows_[row].bundleID == bundleID) return int(row);
    return -1;
}

QString AppList::caption(const std::string& bundleID) const {
    const auto& settings = model_.settings();
    if (settings.deviceChoice(bundleID) != AppChoice::on) return tr("Keeps the SpaceMouse");
    if (settings.hasOwnSettings(bundleID)) return tr("Own settings");
    return {};
}

void AppList::refresh() {
    std::vector<ListedApp> next = model_.listedApps();

    // A row stays when its app is still listed under the same name.
    std::unordered_map<std::string, const ListedApp*> nextByID;
    nextByID.reserve(next.size());
    for (const ListedApp& app : next)
        nextByID.emplace(app.bundleID, &app);
    auto stays = [&](const ListedApp& app) {
        auto found = nextByID.find(app.bundleID);
        return found != nextByID.end() && found->second->name == app.name;
    };
    // The rows that go, a run at a time from the end, so that the row numbers before a run hold.
    for (std::size_t end = rows_.size(); end > 0;) {
        if (stays(rows_[end - 1])) {
            --end;
            continue;
        }
        std::size_t begin = end - 1;
        while (begin > 0 && !stays(rows_[begin - 1]))
            --begin;
        beginRemoveRows({}, int(begin), int(end - 1));
        rows_.erase(rows_.begin() + std::ptrdiff_t(begin), rows_.begin() + std::ptrdiff_t(end));
        endRemoveRows();
        end = begin;
    }

    // The rows left are in the new order unless names changed places: the new apps come in
    // between them, a run at a time.
    std::unordered_set<std::string> kept;
    kept.reserve(rows_.size());
    for (const ListedApp& app : rows_)
        kept.insert(app.bundleID);
    std::size_t row = 0;
    for (std::size_t i = 0; i < next.size();) {
        if (row < rows_.size() && rows_[row].bundleID == next[i].bundleID) {
            ++row;
            ++i;
            continue;
        }
        if (kept.count(next[i].bundleID)) {
            beginResetModel();
            rows_ = std::move(next);
            endResetModel();
            return;
        }
        std::size_t runEnd = i + 1;
        while (runEnd < next.size() && !kept.count(next[runEnd].bundleID))
            ++runEnd;
        const std::size_t count = runEnd - i;
        beginInsertRows({}, int(row), int(row + count - 1));
        rows_.insert(rows_.begin() + std::ptrdiff_t(row), next.begin() + std::ptrdiff_t(i),
                     next.begin() + std::ptrdiff_t(runEnd));
        endInsertRows();
        row += count;
        i = runEnd;
    }

    // Switches, captions and icons looked up afresh.
    rows_ = std::move(next);
    if (!rows_.empty())
        Q_EMIT dataChanged(index(0), index(int(rows_.size()) - 1),
                           {Qt::DecorationRole, Qt::CheckStateRole, CaptionRole,
                            Qt::AccessibleDescriptionRole});
}

} // namespace vantor
