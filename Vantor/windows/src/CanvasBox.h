#pragma once

#include <QFont>
#include <QLabel>
#include <QPixmap>
#include <QWidget>

class QPushButton;

namespace vantor {

// A caption on a capsule of translucent window colour, for text laid over the canvas.
class CaptionChip : public QLabel {
    Q_OBJECT

public:
    explicit CaptionChip(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap drawn_;
    QString drawnText_;
    QRgb drawnWindow_ = 0, drawnInk_ = 0;
    QFont drawnFont_;
};

// The preview canvas in a box with rounded corners and a hairline border, with a caption chip
// in its top-leading corner and a reset button in its top-trailing corner.
class CanvasBox : public QWidget {
    Q_OBJECT

public:
    static constexpr int height = 230;
    static constexpr int inset = 8;
    static constexpr double radius = 8;

    // Takes `canvas` as its bottom layer.
    explicit CanvasBox(QWidget* canvas, QWidget* parent = nullptr);

    CaptionChip* caption() const { return caption_; }
    QPushButton* resetButton() const { return reset_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    class Frame;

    CaptionChip* caption_;
    QPushButton* reset_;
};

} // namespace vantor
