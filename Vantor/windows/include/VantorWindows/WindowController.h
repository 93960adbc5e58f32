#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>

class QWidget;

namespace vantor {

// What the app delegate and the window-shot mode need of a window's owner, whatever it hosts.
class ShownWindow {
public:
    virtual ~ShownWindow() = default;
    // The window; null until it is made.
    virtual QWidget* window() const = 0;
    // The window, made first if it does not exist yet. It is not shown.
    virtual QWidget* loadWindow() = 0;
    // Makes the window if needed, shows it, raises it and gives it the focus.
    virtual void show() = 0;
};

// Owns one window hosting one content widget. The window is made on first use: titled, with
// the content filling it at the given size, centred on its screen. Showing it keeps it, frame
// and all, on its screen's available area: a window taller or wider than that is shrunk (below
// its minimum if need be; the content scrolls) and centred there, first with the frame the
// window had or a common one assumed, and again once the window manager has framed it, should
// the real frame not fit. Closing only hides it; the
// next show() brings back the same window with its content, size and place.
class WindowController : public ShownWindow {
public:
    using Content = std::function<QWidget*()>;
    using Configure = std::function<void(QWidget& window)>;

    // `content` builds the root widget, once, when the window is made (the window takes it);
    // `configure`, when given, adjusts the new window after its size is set and before it is
    // centred.
    WindowController(QString title, QSize size, Content content, Configure configure = {});
    ~WindowController() override;
    WindowController(const WindowController&) = delete;
    WindowController& operator=(const WindowController&) = delete;

    QWidget* window() const override;
    QWidget* loadWindow() override;
    void show() override;

    // The content widget; null until the window is made.
    QWidget* content() const { return content_; }

    // Where a window at `current` (without its frame) goes to lie wholly, frame included, on
    // `available`: where it is when it does already, else shrunk to fit and centred there.
    static QRect placement(QRect current, QRect available, QMargins frame);
    // The frame assumed around a window whose frame the window manager has not told yet: the
    // title bar of the common desktops and a thin border.
    static constexpr QMargins assumedFrame{4, 40, 4, 4};

    // Called with the window when it is about to close.
    std::function<void(QWidget& window)> onClose;

private:
    class Window;
    QWidget* makeWindow();
    // Moves and shrinks the window onto its screen's available area, see placement().
    void fitToScreen(QWidget& window);
    // Once the window has a frame, after it was shown: fits it again with that frame.
    void fitToFrame(QWidget& window);

    QString title_;
    QSize size_;
    Content build_;
    Configure configure_;
    std::unique_ptr<QWidget> window_;
    QWidget* content_ = nullptr;
    // Shown, and not yet fitted with the frame the window manager gave it.
    bool awaitsFrame_ = false;
};

} // namespace vantor
