#pragma once

#include <QFont>
#include <QIcon>
#include <QStyle>
#include <optional>

class QLabel;
class QWidget;

namespace vantor::style {

// The windows' text styles, all derived from the application font so that they follow the
// desktop's font and size.
QFont headline(); // section headers: bold
QFont callout();  // explanations and captions: 0.9 times

// `base` scaled by `factor` (in points, or in pixels for a pixel-sized font), with `weight` if
// given: the titles are 1.35 and 1.2 times, semibold.
QFont scaled(const QFont& base, double factor, std::optional<QFont::Weight> weight = {});
// Secondary text: the palette's placeholder colour, in every colour group, so that it follows
// light and dark palettes.
void makeSecondary(QWidget* widget);

// An explanatory line under a form section: callout font, secondary colour, wrapped.
QLabel* note(const QString& text, QWidget* parent = nullptr);

// A tooltip showing `text` as it is written: tooltips take text that looks like markup as
// markup, so such text is turned into markup that shows it.
QString plainToolTip(const QString& text);

// An icon of the desktop's theme, or the style's own picture when the theme lacks it.
QIcon symbol(const char* themeName, QStyle::StandardPixmap fallback);

} // namespace vantor::style
