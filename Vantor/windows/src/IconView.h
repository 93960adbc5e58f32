#pragma once

#include <QColor>
#include <QIcon>
#include <QWidget>

#include <functional>
#include <optional>

namespace vantor {

// An icon drawn at the screen's resolution, optionally in one colour (taken from the palette
// when it is drawn, so that it follows light and dark palettes).
class IconView : public QWidget {
    Q_OBJECT

public:
    using Tint = std::function<QColor(const QPalette&)>;

    IconView(QIcon icon, QSize size, Tint tint = {}, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QIcon icon_;
    Tint tint_;
};

// The red of warnings, readable on the palette's window colour.
QColor warningRed(const QPalette& palette);

} // namespace vantor
