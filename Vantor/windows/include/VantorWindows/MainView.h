#pragma once

#include <QWidget>

class QLabel;
class QTabWidget;

namespace vantor {

class CanvasModel;
class SettingsModel;
class Updates;

class AppsTab;
class CanvasBox;
class DefaultsTab;
class DirectionsTab;
class MovementsTab;
class SettingsTab;

// The content of the main (settings) window: the permission banner while Vantor may not post
// events, the preview canvas with its caption and reset button, and the five tabs. It keeps no
// state of its own: every control reads and writes the model, and everything follows the
// model's and the updates' change signals. Ctrl+Tab and Ctrl+Page Down (Ctrl+Shift+Tab and
// Ctrl+Page Up) open the next (previous) tab from anywhere in the window.
class MainView : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize idealSize{560, 820};
    // Narrow enough for a third of a 1366-pixel screen, as a tiling desktop gives it: below
    // its minimum a window is cut off there, not shrunk. Rows that do not fit wrap.
    static constexpr QSize minimumSize{440, 640};

    MainView(SettingsModel& model, Updates& updates, CanvasModel& canvas,
             QWidget* parent = nullptr);
    ~MainView() override;

    QSize sizeHint() const override { return idealSize; }
    QTabWidget* tabs() const { return tabs_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void colourBanner();
    void addTabKeys();

    SettingsModel& model_;
    QWidget* banner_;
    QLabel* bannerMessage_ = nullptr;
    CanvasBox* canvasBox_;
    QTabWidget* tabs_;
    DefaultsTab* defaults_;
    MovementsTab* movements_;
    DirectionsTab* directions_;
    AppsTab* apps_;
    SettingsTab* settings_;
};

} // namespace vantor
