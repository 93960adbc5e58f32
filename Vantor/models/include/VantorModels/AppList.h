#pragma once

#include "VantorModels/ListedApp.h"

#include <QAbstractListModel>
#include <string>
#include <vector>

namespace vantor {

class SettingsModel;

// The rows of the Apps tab as an item model: one row per entry of SettingsModel::listedApps,
// in that order. The name is plain text (Qt::DisplayRole), the check state is the app's switch
// (writing it switches the app on or off through the model's edit path), and the caption says
// "Keeps the SpaceMouse" or "Own settings". Assistive technology reads a row as its switch:
// "Use the SpaceMouse in <name>" (Qt::AccessibleTextRole), checked or not, with the caption as
// its description (Qt::AccessibleDescriptionRole).
//
// The list is empty until the first refresh(), which brings the rows in step with the settings
// (and is called again after every change of them): apps that left the list take only their own
// rows with them and new apps come in at their places, so a change of one app costs one row,
// not the whole list.
class AppList final : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role {
        // The app's desktop-file id (std::string as QString).
        BundleIDRole = Qt::UserRole + 1,
        // "Keeps the SpaceMouse", "Own settings" or empty.
        CaptionRole,
    };

    explicit AppList(SettingsModel& model, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void refresh();

    const ListedApp& app(int row) const { return rows_[std::size_t(row)]; }
    // The row of an app, or -1 when it is not listed.
    int rowOf(const std::string& bundleID) const;

private:
    QString caption(const std::string& bundleID) const;

    SettingsModel& model_;
    std::vector<ListedApp> rows_;
};

} // namespace vantor
