#pragma once

#include "VantorModels/CanvasModel.h"
#include "VantorModels/LoginItem.h"
#include "VantorModels/SettingsModel.h"
#include "VantorModels/Updates.h"
#include "VantorWindows/MainView.h"
#include "WindowTestApp.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPalette>

#include <memory>
#include <optional>

namespace vantor::testing {

// A login item whose status the test sets; registering enables it unless told to fail.
class FakeLoginItem final : public LoginItem {
public:
    LoginItemStatus current = LoginItemStatus::notRegistered;
    int registrations = 0;
    LoginItemStatus status() const override { return current; }
    std::optional<std::string> registerItem() override {
        ++registrations;
        current = LoginItemStatus::enabled;
        return std::nullopt;
    }
    std::optional<std::string> unregisterItem() override {
        current = LoginItemStatus::notRegistered;
        return std::nullopt;
    }
};

// The main view over a model, updates without an updater and a canvas, with the apps of the
// test known by name and the model's edits counted.
struct Harness {
    explicit Harness(scroll::ScrollSettings settings = {}) {
        windowTestApp();
        model = std::make_unique<SettingsModel>(std::move(settings), loginItem);
        model->onChange = [this](const scroll::ScrollSettings&) { ++changes; };
        for (const char* id : {"org.example.Maps", "org.example.Notes"})
            model->apps.emplace(id, ListedApp(id, QString(id).section('.', -1), QIcon(), true));
        view = std::make_unique<MainView>(*model, updates, canvas);
        view->resize(MainView::idealSize);
    }

    template <class W> W* find(const QString& name) const {
        auto* widget = view->findChild<W*>(name);
        if (!widget)
            throw std::runtime_error("no control " + name.toStdString());
        return widget;
    }

    std::shared_ptr<FakeLoginItem> loginItem = std::make_shared<FakeLoginItem>();
    std::unique_ptr<SettingsModel> model;
    Updates updates{UpdatesSystem{}};
    CanvasModel canvas;
    std::unique_ptr<MainView> view;
    int changes = 0;
};

// A left click on the widget, in its middle unless told where.
inline void click(QWidget* widget, std::optional<QPoint> where = std::nullopt) {
    const QPointF at = where ? QPointF(*where) : QRectF(widget->rect()).center();
    const QPointF global = widget->mapToGlobal(at);
    for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, global, Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                          Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }
}

inline QPalette darkPalette() {
    QPalette p;
    const QColor window(40, 40, 42), base(30, 30, 32), text(235, 235, 240);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(58, 58, 60));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, QColor(10, 132, 255));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(152, 152, 157));
    p.setColor(QPalette::Light, QColor(70, 70, 72));
    p.setColor(QPalette::Midlight, QColor(60, 60, 62));
    p.setColor(QPalette::Mid, QColor(50, 50, 52));
    p.setColor(QPalette::Dark, QColor(20, 20, 22));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(110, 110, 115));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(110, 110, 115));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(110, 110, 115));
    return p;
}

} // namespace vantor::testing
