#pragma once

#include "Bindings.h"
#include "FormPage.h"

#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace vantor {

class SettingsModel;
struct ListedApp;

// One app of the Apps tab: icon and name, a caption, and the app's switch. Clicking the row
// selects it (or deselects it when selected); its context menu removes the app from the list.
class AppRow : public QWidget {
    Q_OBJECT

public:
    AppRow(SettingsModel& model, const ListedApp& app, QWidget* parent = nullptr);

    const std::string& bundleID() const { return bundleID_; }
    bool isSelected() const { return selected_; }
    void refresh();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    SettingsModel& model_;
    std::string bundleID_;
    bool selected_ = false;
    QLabel* caption_;
    Bindings bindings_;
};

// The apps Vantor knows a choice or settings for, and the own settings of the selected app.
class AppsTab : public FormPage {
    Q_OBJECT

public:
    explicit AppsTab(SettingsModel& model, QWidget* parent = nullptr);
    void refresh();

    std::vector<AppRow*> rows() const { return rows_; }

private:
    void makeOwnSettings();

    SettingsModel& model_;
    FormSection* list_;
    QVBoxLayout* rowColumn_;
    QLabel* noneYet_;
    std::vector<AppRow*> rows_;
    // Id and name of each row, to see when the list must be made again.
    std::vector<std::pair<std::string, QString>> shown_;
    FormSection* own_ = nullptr;
    Bindings ownBindings_;
};

} // namespace vantor
