#include "VantorWindows/WindowController.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

namespace vantor {

// The top-level widget: reports an accepted close to its controller, and has it fitted to its
// screen again once the window manager has framed it.
class WindowController::Window : public QWidget {
public:
    explicit Window(WindowController& owner) : QWidget(nullptr, Qt::Window), owner_(owner) {}

protected:
    // The window manager frames a shown window before it draws it, and frames are not always
    // told by a move: the frame is looked at again, once the event in hand is done, at each
    // show, move, resize, paint and activation until it is known.
    bool event(QEvent* event) override {
        const bool handled = QWidget::event(event);
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Paint:
        case QEvent::ActivationChange:
            if (owner_.awaitsFrame_ && !frameCheckQueued_) {
                frameCheckQueued_ = true;
                QTimer::singleShot(0, this, [this] {
                    frameCheckQueued_ = false;
                    owner_.fitToFrame(*this);
                });
            }
            break;
        default:
            break;
        }
        return handled;
    }

    void closeEvent(QCloseEvent* event) override {
        QWidget::closeEvent(event);
        if (event->isAccepted() && owner_.onClose) owner_.onClose(*this);
    }

private:
    WindowController& owner_;
    bool frameCheckQueued_ = false;
};

WindowController::WindowController(QString title, QSize size, Content content, Configure configure)
    : title_(std::move(title)), size_(size), build_(std::move(content)),
      configure_(std::move(configure)) {}

WindowController::~WindowController() = default;

QWidget* WindowController::window() const { return window_.get(); }

QWidget* WindowController::loadWindow() {
    if (!window_) window_.reset(makeWindow());
    return window_.get();
}

void WindowController::show() {
    QWidget* window = loadWindow();
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    if (!window->isVisible()) {
        fitToScreen(*window);
        awaitsFrame_ = true;
    }
    window->show();
    window->raise();
    window->activateWindow();
}

QRect WindowController::placement(QRect current, QRect available, QMargins frame) {
    if (available.contains(current.marginsAdded(frame))) return current;
    const QRect room = available.marginsRemoved(frame);
    QRect placed(QPoint(0, 0), current.size().boundedTo(room.size()).expandedTo(QSize(1, 1)));
    placed.moveCenter(room.center());
    return placed;
}

void WindowController::fitToFrame(QWidget& window) {
    if (!awaitsFrame_ || !window.isVisible()) return;
    const QMargins frame =
        window.windowHandle() ? window.windowHandle()->frameMargins() : QMargins();
    if (frame.isNull()) return;
    awaitsFrame_ = false;
    fitToScreen(window);
}

void WindowController::fitToScreen(QWidget& window) {
    QScreen* screen = window.screen();
    if (!screen) return;
    QMargins frame = window.windowHandle() ? window.windowHandle()->frameMargins() : QMargins();
    if (frame.isNull()) frame = assumedFrame;
    const QRect available = screen->availableGeometry();
    const QRect placed = placement(window.geometry(), available, frame);
    if (placed == window.geometry()) return;
    // A minimum that does not fit gives way: the content is laid out smaller and scrolls.
    const QSize excess = (window.minimumSize() - placed.size()).expandedTo(QSize(0, 0));
    if (excess.width() > 0 || excess.height() > 0) {
        if (content_)
            content_->setMinimumSize((content_->minimumSize() - excess).expandedTo(QSize(0, 0)));
        window.setMinimumSize(window.minimumSize().boundedTo(placed.size()));
    }
    window.setGeometry(placed);
}

QWidget* WindowController::makeWindow() {
    auto* window = new Window(*this);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    content_ = build_();
    layout->addWidget(content_);
    window->setWindowTitle(title_);
    // Closing hides the window; the controller keeps it.
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->resize(size_);
    if (configure_) configure_(*window);
    // Lay the content out now: a window that is only loaded (for a window shot, say) is drawn
    // without ever being shown.
    layout->activate();
    if (QScreen* screen = window->screen()) {
        QRect frame(QPoint(0, 0), window->size());
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    return window;
}

} // namespace vantor
