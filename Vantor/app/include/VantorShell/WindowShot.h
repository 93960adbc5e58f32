#pragma once

#include "VantorShell/CommandLine.h"

#include <QPalette>
#include <QSizeF>
#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace vantor {

// Window-shot mode: Vantor renders one of its windows with demonstration content, writes a PNG
// of that window alone and quits. Chosen by -snapshot PATH and -snapshotWindow NAME; nothing of
// the normal run starts (no tray, no main menu, no broker, no posting, no settings written).
namespace WindowShot {

// The scene to shoot: the window name when both the path and the window were given, else
// absent (the app then starts normally).
std::optional<QString> scene(const LaunchOptions& options);

// "1200 x 800" and "1200 800" give 1200 by 800; "1200x800", "800" and anything that does not
// hold exactly two positive, finite numbers give none (the window keeps its own size).
std::optional<QSizeF> parseSize(const QString& text);

// The palettes of the two appearances.
QPalette lightPalette();
QPalette darkPalette();

// Seconds waited before the shot, and after switching to the dark appearance.
inline constexpr int settleMilliseconds = 2000;
inline constexpr int darkMilliseconds = 1500;

// Runs the mode on the event loop: opens the scene's window with `open` (null: no such scene),
// sizes, centres and shows it, waits, shoots it and then calls `finish` with the exit status
// (0 when the file was written). Lines for the user go to standard output.
void take(const LaunchOptions& options, std::function<QWidget*(const QString& scene)> open,
          std::function<void(int status)> finish);

} // namespace WindowShot

} // namespace vantor
