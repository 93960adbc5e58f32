#pragma once

#include "Bindings.h"
#include "FormPage.h"

#include <QRect>

class QAction;
class QLabel;
class QModelIndex;

namespace vantor {

class AppList;
class AppListView;
class SettingsModel;

// The apps Vantor knows a choice or settings for, and the own settings of the selected app.
//
// The apps are one list view ("appList") over an AppList: each row draws the app's icon and
// name, a caption and the app's switch, so a long list costs only the rows on screen. Clicking
// a row selects it (or deselects it when selected), clicking its switch switches the app, and
// the context menu's "Remove from List" ("remove") removes the app of the row it was opened on
// (the list's current row).
class AppsTab : public FormPage {
    Q_OBJECT

public:
    // Rows shown before the list scrolls by itself.
    static constexpr int visibleRows = 10;

    explicit AppsTab(SettingsModel& model, QWidget* parent = nullptr);
    void refresh();

    AppList* apps() const { return apps_; }
    // Where the switch of a row sits, in the list's viewport.
    QRect switchRect(const QModelIndex& index) const;

private:
    void makeOwnSettings();
    void fitList();
    void showSelection();

    SettingsModel& model_;
    FormSection* list_;
    AppList* apps_;
    AppListView* view_;
    QAction* remove_;
    QLabel* noneYet_;
    FormSection* own_ = nullptr;
    Bindings ownBindings_;
};

} // namespace vantor
