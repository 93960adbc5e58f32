#include "VantorWindows/DrawnIcon.h"

#include <QApplication>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>
#include <memory>

namespace vantor {

namespace {

class DrawnIconEngine final : public QIconEngine {
public:
    struct Drawings {
        std::function<QImage(QSize)> draw;
        QHash<QPair<QPair<int, int>, int>, QPixmap> kept; // (size, mode) to pixmap
    };

    explicit DrawnIconEngine(std::shared_ptr<Drawings> drawings)
        : drawings_(std::move(drawings)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(rect, pixmap(rect.size() * ratio, mode, state));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        if (size.isEmpty()) return QPixmap();
        // Selected and active icons look as normal ones; only the disabled look differs.
        const int look = mode == QIcon::Disabled ? 1 : 0;
        const auto key = qMakePair(qMakePair(size.width(), size.height()), look);
        auto found = drawings_->kept.constFind(key);
        if (found != drawings_->kept.constEnd()) return *found;
        QPixmap drawn = QPixmap::fromImage(drawings_->draw(size));
        if (look && qApp && QApplication::style()) {
            QStyleOption option;
            option.palette = QApplication::palette();
            drawn = QApplication::style()->generatedIconPixmap(QIcon::Disabled, drawn, &option);
        }
        drawings_->kept.insert(key, drawn);
        return drawn;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return {}; }
    bool isNull() override { return false; }
    QString key() const override { return QStringLiteral("vantor-drawn"); }
    QIconEngine* clone() const override { return new DrawnIconEngine(drawings_); }

private:
    std::shared_ptr<Drawings> drawings_;
};

} // namespace

QIcon drawnIcon(std::function<QImage(QSize pixels)> draw) {
    auto drawings = std::make_shared<DrawnIconEngine::Drawings>();
    drawings->draw = std::move(draw);
    return QIcon(new DrawnIconEngine(std::move(drawings)));
}

} // namespace vantor
