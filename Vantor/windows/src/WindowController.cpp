#include "VantorWindows/WindowController.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

namespace vantor {

// The top-level widget: reports an accepted close to its controller.
class WindowController::Window : public QWidget {
public:
    explicit Window(WindowController& owner) : QWidget(nullptr, Qt::Window), owner_(owner) {}

protected:
    void closeEvent(QCloseEvent* event) override {
        QWidget::closeEvent(event);
        if (event->isAccepted() && owner_.onClose) owner_.onClose(*this);
    }

private:
    WindowController& owner_;
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
    window->show();
    window->raise();
    window->activateWindow();
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
