#pragma once

#include "VantorModels/AppChooser.h"
#include "VantorModels/ListedApp.h"

#include <QDialog>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QLineEdit;
class QListView;
class QSortFilterProxyModel;
class QStandardItemModel;

namespace vantor {

// The list of installed applications ("apps": name and icon, several selectable) with a message
// above it, a search field ("filter") that narrows the list to the names holding what is typed,
// and Cancel / Add buttons. In the search field Down goes to the list (its first row chosen when
// none is current), and Return adds the app when the search leaves exactly one.
class AppChooserDialog final : public QDialog {
    Q_OBJECT

public:
    AppChooserDialog(const QString& message, const std::vector<ListedApp>& apps,
                     QWidget* parent = nullptr);
    // The ids of the selected rows the list shows, in list order.
    std::vector<std::string> chosenApps() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* filter_;
    QListView* list_;
    QStandardItemModel* apps_;
    QSortFilterProxyModel* shown_;
};

// The AppChooser of the windows: shows an AppChooserDialog over `parent` with the installed
// applications (ListedApp::installed()) other than Vantor itself, and waits for the user.
class DialogAppChooser final : public AppChooser {
public:
    // `parent` returns the window to centre on; may return nothing. `ownBundleID` is Vantor's
    // own id, never offered.
    explicit DialogAppChooser(std::function<QWidget*()> parent = {},
                              std::optional<std::string> ownBundleID = std::nullopt);
    std::optional<std::vector<std::string>> chooseApps(const QString& message) override;

private:
    std::function<QWidget*()> parent_;
    std::optional<std::string> ownBundleID_;
};

} // namespace vantor
