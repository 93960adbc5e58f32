#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>

class QLabel;
class QPushButton;

namespace vantor {

class CanvasModel;

// The About window's content: the app icon over a tilted, fading copy of the preview canvas,
// the name and tagline, version, build and copyright, the web page, and the buttons that lead to
// the release notes and to the settings window ("Settings…" is the default; Return presses it;
// Escape closes the window).
class AboutView final : public QWidget {
    Q_OBJECT

public:
    // What the About window says of this build; an empty version or build shows as "–".
    struct Info {
        QString version;
        QString build;
        QString author;
        QUrl website;
        // This build's values.
        static Info current();
    };

    // The window's content size and title.
    static constexpr int width = 420;
    static constexpr int height = 510;
    static QString title();

    AboutView(std::function<void()> onReleaseNotes, std::function<void()> onSettings,
              Info info = Info::current(), QWidget* parent = nullptr);
    ~AboutView() override;

    // "Version 1.0.0 (1)", with "–" for a missing value.
    static QString versionLine(const Info& info);

    // The About window's own set-up, for its window controller: a fixed size, a close button
    // and no minimize or maximize.
    static void configure(QWidget& window);

    CanvasModel& backdrop() const { return *backdrop_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // The window moves when its background is dragged.
    void mousePressEvent(QMouseEvent* event) override;

private:
    std::function<void()> onReleaseNotes_;
    std::function<void()> onSettings_;
    std::unique_ptr<CanvasModel> backdrop_;
    QPushButton* settings_ = nullptr;
};

} // namespace vantor
