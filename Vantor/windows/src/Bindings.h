#pragma once

#include "VantorModels/SettingsModel.h"

#include <QComboBox>
#include <QString>

#include <functional>
#include <utility>
#include <vector>

class QAbstractButton;
class QLabel;
class QWidget;

namespace vantor {

class SpeedSlider;

// The controls of one form and how each follows its model. A control writes only when the user
// changes it, then shows what the model holds afterwards; `refresh` brings every control back
// to the model without writing anything.
class Bindings {
public:
    void check(QAbstractButton* box, Binding<bool> link);
    void slider(SpeedSlider* slider, Binding<double> link);
    // A picker whose options are `values`, titled by `titles` (read again on every refresh, so
    // titles that name the current default follow it).
    template <class T>
    void picker(QComboBox* combo, std::vector<T> values, std::function<QStringList()> titles,
                Binding<T> link);
    void text(QLabel* label, std::function<QString()> get);
    void visible(QWidget* widget, std::function<bool()> get);
    void enabled(QWidget* widget, std::function<bool()> get);
    // Anything else that follows the model.
    void follow(std::function<void()> refresher);

    void refresh() const;

private:
    static void fillPicker(QComboBox* combo, const QStringList& titles, int index);
    static void onPick(QComboBox* combo, std::function<void(int)> picked);

    std::vector<std::function<void()>> refreshers_;
};

template <class T>
void Bindings::picker(QComboBox* combo, std::vector<T> values,
                      std::function<QStringList()> titles, Binding<T> link) {
    auto show = [combo, values, titles, get = link.get] {
        const T current = get();
        int index = -1;
        for (std::size_t i = 0; i < values.size(); ++i)
            if (values[i] == current)
                index = int(i);
        fillPicker(combo, titles(), index);
    };
    onPick(combo, [values, link, show](int index) {
        if (index < 0 || std::size_t(index) >= values.size())
            return;
        link.set(values[std::size_t(index)]);
        show();
    });
    follow(show);
}

} // namespace vantor
