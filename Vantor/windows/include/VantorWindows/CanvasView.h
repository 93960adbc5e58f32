#pragma once

#include "VantorModels/CanvasModel.h"

#include <QSizeF>
#include <QWidget>

namespace vantor {

// Draws a CanvasModel: an endless checkerboard of 32-unit tiles in the palette's text colour at
// 14 % opacity on its base colour, turned, scaled and centred as the model says. Repaints when
// the model changes.
class CanvasView final : public QWidget {
    Q_OBJECT

public:
    static constexpr double tileEdge = 32.0;
    static constexpr double tileOpacity = 0.14;

    explicit CanvasView(CanvasModel& model, QWidget* parent = nullptr);

    CanvasModel& model() const { return model_; }

    // The columns and rows of the tiles drawn for a view of this size (inclusive bounds): the
    // tiles under the view's circumscribed circle.
    struct TileBounds {
        long long firstColumn, lastColumn, firstRow, lastRow;
        friend bool operator==(const TileBounds&, const TileBounds&) = default;
    };
    static TileBounds tileBounds(CanvasPoint center, double scale, QSizeF size);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CanvasModel& model_;
};

} // namespace vantor
