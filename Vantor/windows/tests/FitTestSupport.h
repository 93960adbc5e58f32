#pragma once

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QLabel>
#include <QStringList>
#include <QWidget>

namespace testsupport {

// What of a window's visible content is cut off: a widget that reaches out of its parent (out
// of a scroll area's viewport only where that area cannot scroll), or one smaller than it needs
// to show itself whole (narrower than its smallest size, or shorter than its text needs at its
// width). Each entry names the widget and says what is cut.
inline QStringList cutOff(const QWidget* window) {
    QStringList found;
    auto name = [](const QWidget* w) {
        QString text = QString::fromLatin1(w->metaObject()->className());
        if (!w->objectName().isEmpty()) text += " " + w->objectName();
        if (const auto* label = qobject_cast<const QLabel*>(w)) text += " \"" + label->text() + "\"";
        if (const auto* button = qobject_cast<const QAbstractButton*>(w))
            text += " \"" + button->text() + "\"";
        return text;
    };
    for (const QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->isWindow()) continue;
        const QWidget* parent = w->parentWidget();
        const QRect inside = parent->rect();
        const QRect at = w->geometry();
        bool scrollsDown = false, scrollsAcross = false;
        if (const auto* area = qobject_cast<const QAbstractScrollArea*>(parent->parentWidget());
            area && area->viewport() == parent) {
            scrollsDown = area->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff;
            scrollsAcross = area->horizontalScrollBarPolicy() != Qt::ScrollBarAlwaysOff;
        }
        if (!scrollsAcross && (at.left() < inside.left() || at.right() > inside.right()))
            found << name(w) + QStringLiteral(": x %1 to %2 in %3").arg(at.left()).arg(at.right()).arg(inside.width());
        if (!scrollsDown && (at.top() < inside.top() || at.bottom() > inside.bottom()))
            found << name(w) + QStringLiteral(": y %1 to %2 in %3").arg(at.top()).arg(at.bottom()).arg(inside.height());
        // Scroll bars and the parts of compound widgets size themselves.
        if (w->inherits("QScrollBar") || w->inherits("QAbstractScrollArea") ||
            w->inherits("QTabBar") || w->inherits("QToolButton"))
            continue;
        // A widget whose height follows its width (wrapped text) needs that height at its width.
        const QSize least = w->minimumSizeHint();
        if (least.isValid() && (w->width() < least.width() ||
                                (!w->hasHeightForWidth() && w->height() < least.height())))
            found << name(w) + QStringLiteral(": %1 x %2 smaller than %3 x %4")
                                   .arg(w->width()).arg(w->height()).arg(least.width()).arg(least.height());
        if (w->hasHeightForWidth() && w->height() < w->heightForWidth(w->width()))
            found << name(w) + QStringLiteral(": %1 high, its text needs %2")
                                   .arg(w->height()).arg(w->heightForWidth(w->width()));
    }
    return found;
}

} // namespace testsupport
