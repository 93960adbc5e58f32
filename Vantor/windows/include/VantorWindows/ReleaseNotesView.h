#pragma once

#include "ReleaseNotes/ReleaseNotes.h"

#include <QString>
#include <QWidget>
#include <optional>

namespace vantor {

// The release-notes window's content: every released version with its heading, introduction and
// bulleted sections, in a scrolling column; "No Release Notes" when there is nothing to show.
// Escape closes the window.
class ReleaseNotesView final : public QWidget {
    Q_OBJECT
public:
    // The app's own notes, compiled in as a resource.
    static constexpr const char* resourcePath = ":/ReleaseNotes.md";

    explicit ReleaseNotesView(std::optional<releasenotes::ReleaseNotes> notes, QWidget* parent = nullptr);

    // A view of the notes in `path` (read as UTF-8); without notes when the file cannot be read.
    static ReleaseNotesView* load(QWidget* parent = nullptr, const QString& path = resourcePath);
    static std::optional<releasenotes::ReleaseNotes> readNotes(const QString& path);

    // One paragraph of inline Markdown (emphasis, strong, code, links) as rich text for a label.
    // Block syntax is never interpreted ("# x" and "1. x" stay as written), raw HTML shows as
    // text, and only web and mail links become links.
    static QString inlineHtml(const QString& markdown);

    const std::optional<releasenotes::ReleaseNotes>& notes() const { return notes_; }
    QSize sizeHint() const override { return {520, 600}; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildEmpty();
    void buildNotes(const std::vector<releasenotes::ReleaseNotes::Version>& versions);

    std::optional<releasenotes::ReleaseNotes> notes_;
};

} // namespace vantor
