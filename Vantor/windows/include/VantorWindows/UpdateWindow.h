#pragma once

#include "VantorModels/Appcast.h"

#include <QPointer>
#include <QWidget>
#include <functional>

class QLabel;
class QMessageBox;
class QPushButton;
class QTextBrowser;

namespace vantor {

class Updates;

// The window that offers a found update: the version offered and the one running, the item's
// release notes, "Download" (opens the item's address in the browser) and "Later".
class UpdateWindow final : public QWidget {
    Q_OBJECT
public:
    explicit UpdateWindow(QWidget* parent = nullptr);

    // Shows `item`'s details against the running version ("1.0.0") and build ("1").
    void setItem(const AppcastItem& item, const QString& runningVersion, const QString& runningBuild);
    const AppcastItem& item() const { return item_; }

    // Opens an address in the browser; QDesktopServices::openUrl unless replaced (tests do).
    std::function<bool(const QUrl&)> openUrl;

    QSize sizeHint() const override { return {560, 440}; }

Q_SIGNALS:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void openSafely(const QUrl& url);

    AppcastItem item_;
    QLabel* summary_;
    QLabel* notesTitle_;
    QTextBrowser* notes_;
    QLabel* notesLink_;
};

// Shows what the update checks of `updates` find: the update window for a newer build (without
// taking focus when an automatic check found it), and for a check the user started, a message
// when nothing is newer or the check failed. Tells the Updates user driver when the window shows
// and when a session (window or message) ends.
class UpdatePrompt final : public QObject {
    Q_OBJECT
public:
    explicit UpdatePrompt(Updates& updates, QObject* parent = nullptr);
    ~UpdatePrompt() override;

    // Absent until the first update is found; kept (hidden) after it closes.
    UpdateWindow* window() const { return window_; }
    // The "up to date" or failure message while it is open.
    QMessageBox* message() const;

private:
    void showUpdate(const AppcastItem& item, bool userStarted);
    void showMessage(bool failed, const QString& text, const QString& detail);

    Updates& updates_;
    UpdateWindow* window_ = nullptr;
    QPointer<QMessageBox> message_;
};

} // namespace vantor
