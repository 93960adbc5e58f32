#include "CanvasBox.h"

#include "PaintBands.h"
#include "VantorWindows/TextStyle.h"

#include <QGridLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <cmath>

namespace vantor {

CaptionChip::CaptionChip(QWidget* parent)
    : QLabel(parent) {
    setFont(style::callout());
    // The caption names apps as their desktop entries do: never markup.
    setTextFormat(Qt::PlainText);
    setContentsMargins(8, 4, 8, 4);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CaptionChip::paintEvent(QPaintEvent*) {
    // The chip lies over the canvas and is painted again with every frame of it: it is drawn
    // once for its text, size and colours and copied after that.
    const qreal ratio = devicePixelRatioF();
    const QColor window = palette().color(QPalette::Window);
    const QColor ink = palette().color(QPalette::WindowText);
    if (drawn_.size() != size() * ratio || drawn_.devicePixelRatio() != ratio ||
        drawnText_ != text() || drawnWindow_ != window.rgba() || drawnInk_ != ink.rgba() ||
        drawnFont_ != font()) {
        drawn_ = QPixmap(size() * ratio);
        drawn_.setDevicePixelRatio(ratio);
        drawn_.fill(Qt::transparent);
        drawnText_ = text();
        drawnWindow_ = window.rgba();
        drawnInk_ = ink.rgba();
        drawnFont_ = font();
        QPainter painter(&drawn_);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = window;
        fill.setAlphaF(0.82f);
        const QRectF box = QRectF(rect());
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(box, box.height() / 2, box.height() / 2);
        // A name too long for the box ends in an ellipsis rather than running under the button.
        const QRect space = contentsRect();
        painter.setFont(font());
        painter.setPen(ink);
        painter.drawText(space, Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(text(), Qt::ElideRight, space.width()));
    }
    QPainter(this).drawPixmap(0, 0, drawn_);
}

// Covers the canvas outside its rounded outline with the window colour and strokes the outline
// just inside the edge; it lies over the canvas and lets the mouse through. It is drawn once for
// its size and colours; a repaint of the canvas beneath copies back only the corners and edges.
class CanvasBox::Frame : public QWidget {
public:
    explicit Frame(QWidget* parent)
        : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        // Outside the ring the frame is clear: the canvas there is painted without it.
        setMask(ring());
    }

    void paintEvent(QPaintEvent* event) override {
        const QPixmap& picture = overlay();
        const qreal ratio = picture.devicePixelRatio();
        QPainter painter(this);
        for (const QRect& part : event->region() & ring())
            inPaintBands(part, ratio, [&](const QRect& band) {
                painter.drawPixmap(
                    QRectF(band), picture,
                    QRectF(QPointF(band.topLeft()) * ratio, QSizeF(band.size()) * ratio));
            });
    }

private:
    // The corners out to the end of their curve and the one-pixel edges.
    QRegion ring() const {
        const QRect box = rect();
        const int corner = int(std::ceil(radius)) + 1;
        QRegion region = QRegion(box).subtracted(box.adjusted(1, 1, -1, -1));
        for (QPoint at : {box.topLeft(), QPoint(box.right() + 1 - corner, box.top()),
                          QPoint(box.left(), box.bottom() + 1 - corner),
                          QPoint(box.right() + 1 - corner, box.bottom() + 1 - corner)})
            region += QRect(at, QSize(corner, corner));
        return region;
    }

    const QPixmap& overlay() {
        const qreal ratio = devicePixelRatioF();
        const QColor window = palette().color(QPalette::Window);
        QColor separator = palette().color(QPalette::WindowText);
        separator.setAlphaF(0.18f);
        if (overlay_.size() == size() * ratio && overlay_.devicePixelRatio() == ratio &&
            window.rgba() == window_ && separator.rgba() == separator_)
            return overlay_;
        overlay_ = QPixmap(size() * ratio);
        overlay_.setDevicePixelRatio(ratio);
        overlay_.fill(Qt::transparent);
        window_ = window.rgba();
        separator_ = separator.rgba();
        QPainter painter(&overlay_);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF box = QRectF(rect());
        QPainterPath outside;
        outside.addRect(box);
        QPainterPath inside;
        inside.addRoundedRect(box, radius, radius);
        painter.fillPath(outside.subtracted(inside), window);
        painter.setPen(QPen(separator, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);
        return overlay_;
    }

    QPixmap overlay_;
    QRgb window_ = 0, separator_ = 0;
};

CanvasBox::CanvasBox(QWidget* canvas, QWidget* parent)
    : QWidget(parent)
    , caption_(new CaptionChip(this))
    , reset_(new QPushButton(this)) {
    setFixedHeight(height);
    setMinimumWidth(2 * inset + 80);
    caption_->setObjectName("canvasCaption");
    reset_->setObjectName("resetCanvas");
    reset_->setIcon(style::symbol("object-rotate-left", QStyle::SP_BrowserReload));
    reset_->setToolTip(tr("Back to the start"));
    reset_->setAccessibleName(tr("Reset the canvas"));
    reset_->setFocusPolicy(Qt::TabFocus);

    auto* layers = new QGridLayout(this);
    layers->setContentsMargins(0, 0, 0, 0);
    canvas->setParent(this);
    layers->addWidget(canvas, 0, 0);
    layers->addWidget(new Frame(this), 0, 0);
    auto* corner = new QGridLayout;
    corner->setContentsMargins(inset, inset, inset, inset);
    corner->addWidget(caption_, 0, 0, Qt::AlignLeft | Qt::AlignTop);
    corner->addWidget(reset_, 0, 1, Qt::AlignRight | Qt::AlignTop);
    corner->setColumnStretch(0, 1);
    corner->setRowStretch(1, 1);
    layers->addLayout(corner, 0, 0);
    caption_->raise();
    reset_->raise();
}

void CanvasBox::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    caption_->setMaximumWidth(qMax(0, width() - 3 * inset - reset_->sizeHint().width()));
}

} // namespace vantor
