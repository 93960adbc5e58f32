#include "VantorWindows/TextStyle.h"

#include <QApplication>
#include <QLabel>
#include <QTextDocument>

namespace vantor::style {

QFont scaled(const QFont& base, double factor, std::optional<QFont::Weight> weight) {
    QFont font = base;
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else
        font.setPixelSize(qMax(1, qRound(font.pixelSize() * factor)));
    if (weight) font.setWeight(*weight);
    return font;
}

QFont headline() {
    QFont font = QApplication::font();
    font.setBold(true);
    return font;
}

QFont callout() {
    return scaled(QApplication::font(), 0.9);
}

void makeSecondary(QWidget* widget) {
    widget->setForegroundRole(QPalette::PlaceholderText);
}

QLabel* note(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(callout());
    label->setWordWrap(true);
    makeSecondary(label);
    return label;
}

QString plainToolTip(const QString& text) {
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpacePre) : text;
}

QIcon symbol(const char* themeName, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(QString::fromLatin1(themeName),
                            QApplication::style()->standardIcon(fallback));
}

} // namespace vantor::style
