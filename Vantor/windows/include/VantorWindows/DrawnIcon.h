#pragma once

#include <QIcon>
#include <QImage>
#include <QSize>
#include <functional>

namespace vantor {

// An icon drawn when a size of it is first asked for, at that size in device pixels, and kept:
// nothing is drawn before the icon shows, and only the sizes it shows at. It lists no sizes of its
// own, as a scalable icon does, so that Qt asks for the ones it needs. Copies share the drawings.
QIcon drawnIcon(std::function<QImage(QSize pixels)> draw);

} // namespace vantor
