#pragma once

#include "VantorModels/AppChooser.h"
#include "VantorModels/ListedApp.h"

#include <QDialog>
#include <functional>
#include <vector>

class QListWidget;

namespace vantor {

// The list of installed applications (name and icon, several selectable) with a message above
// it and Cancel / Add buttons.
class AppChooserDialog final : public QDialog {
    Q_OBJECT

public:
    AppChooserDialog(const QString& message, const std::vector<ListedApp>& apps,
                     QWidget* parent = nullptr);
    // The ids of the selected rows, in list order.
    std::vector<std::string> chosenApps() const;

private:
    QListWidget* list_;
    std::vector<std::string> ids_;
};

// The AppChooser of the windows: shows an AppChooserDialog over `parent` with the installed
// applications (ListedApp::installed()) and waits for the user.
class DialogAppChooser final : public AppChooser {
public:
    // `parent` returns the window to centre on; may return nothing.
    explicit DialogAppChooser(std::function<QWidget*()> parent = {});
    std::optional<std::vector<std::string>> chooseApps(const QString& message) override;

private:
    std::function<QWidget*()> parent_;
};

} // namespace vantor
