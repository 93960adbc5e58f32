#include "FormPage.h"

#include "VantorWindows/TextStyle.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QPushButton>
#include <QVBoxLayout>

namespace vantor {

ElidingLabel::ElidingLabel(const QString& text, QWidget* parent)
    : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);
}

QSize ElidingLabel::minimumSizeHint() const {
    return {0, QLabel::minimumSizeHint().height()};
}

void ElidingLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect space = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, space.width());
    style()->drawItemText(&painter, space, int(alignment()) | Qt::TextSingleLine, palette(),
                          isEnabled(), shown, foregroundRole());
}

FormSection::FormSection(const QString& header, QWidget* parent)
    : QWidget(parent)
    , column_(new QVBoxLayout(this))
    , header_(new ElidingLabel(header, this))
    , box_(new QGroupBox(this))
    , form_(new QFormLayout(box_)) {
    column_->setContentsMargins(0, 0, 0, 0);
    column_->setSpacing(spacing);
    header_->setFont(style::headline());
    header_->setContentsMargins(4, 0, 4, 0);
    header_->setVisible(!header.isEmpty());
    column_->addWidget(header_);
    column_->addWidget(box_);
    form_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    // A field too wide for its row goes under its label.
    form_->setRowWrapPolicy(QFormLayout::WrapLongRows);
    form_->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    form_->setFormAlignment(Qt::AlignLeft | Qt::AlignTop);
    form_->setHorizontalSpacing(12);
    form_->setVerticalSpacing(8);
    form_->setContentsMargins(12, 10, 12, 10);
}

QLabel* FormSection::addFooter(const QString& text) {
    auto* label = style::note(text, this);
    label->setContentsMargins(4, 0, 4, 0);
    column_->addWidget(label);
    return label;
}

void FormSection::addFooterButton(QPushButton* button) { column_->addWidget(trailing(button)); }

QWidget* FormSection::trailing(QPushButton* button) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch(1);
    layout->addWidget(button);
    return row;
}

FormPage::FormPage(QWidget* parent)
    : QWidget(parent)
    , column_(new QVBoxLayout(this)) {
    column_->setContentsMargins(0, 0, 0, 0);
    column_->setSpacing(sectionSpacing);
}

FormSection* FormPage::addSection(const QString& header) {
    auto* section = new FormSection(header, this);
    column_->addWidget(section);
    return section;
}

void FormPage::finish() { column_->addStretch(1); }

} // namespace vantor
