#pragma once

#include <QString>
#include <QWidget>

class QFormLayout;
class QGroupBox;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace vantor {

// One section of a form: an optional header, a framed box holding the rows, and an optional
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
