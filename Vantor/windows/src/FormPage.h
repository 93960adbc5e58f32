#pragma once

#include <QLabel>
#include <QString>
#include <QWidget>

class QFormLayout;
class QGroupBox;
class QPushButton;
class QVBoxLayout;

namespace vantor {

// A one-line label that gives way: narrower than its text, it ends the text in an ellipsis
// instead of widening the form. Its text is plain, never markup.
class ElidingLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidingLabel(const QString& text = {}, QWidget* parent = nullptr);
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// One section of a form: an optional header (an ElidingLabel), a framed box holding the rows, and an optional
// footer under the box (a note or a button at the trailing edge).
class FormSection : public QWidget {
    Q_OBJECT

public:
    static constexpr int spacing = 6;

    explicit FormSection(const QString& header = {}, QWidget* parent = nullptr);

    QLabel* header() const { return header_; }
    QGroupBox* box() const { return box_; }
    QFormLayout* form() const { return form_; }
    QLabel* addFooter(const QString& text);
    void addFooterButton(QPushButton* button);

    // A form row holding only a button at the trailing edge.
    static QWidget* trailing(QPushButton* button);

private:
    QVBoxLayout* column_;
    QLabel* header_;
    QGroupBox* box_;
    QFormLayout* form_;
};

// The content of one tab: sections stacked from the top.
class FormPage : public QWidget {
    Q_OBJECT

public:
    static constexpr int sectionSpacing = 18;

    explicit FormPage(QWidget* parent = nullptr);

    FormSection* addSection(const QString& header = {});
    // Keeps the sections at the top; called after the last section.
    void finish();

private:
    QVBoxLayout* column_;
};

} // namespace vantor
