#include "Bindings.h"

#include "SpeedSlider.h"

#include <QAbstractButton>
#include <QLabel>
#include <QSignalBlocker>

namespace vantor {

void Bindings::follow(std::function<void()> refresher) {
    refresher();
    refreshers_.push_back(std::move(refresher));
}

void Bindings::refresh() const {
    for (const auto& refresher : refreshers_)
        refresher();
}

void Bindings::check(QAbstractButton* box, Binding<bool> link) {
    box->setCheckable(true);
    auto show = [box, get = link.get] {
        const QSignalBlocker quiet(box);
        box->setChecked(get());
    };
    QObject::connect(box, &QAbstractButton::toggled, box, [set = link.set, show](bool on) {
        set(on);
        show();
    });
    follow(show);
}

void Bindings::slider(SpeedSlider* slider, Binding<double> link) {
    auto show = [slider, get = link.get] { slider->setPosition(get()); };
    QObject::connect(slider, &SpeedSlider::moved, slider, [set = link.set, show](double position) {
        set(position);
        show();
    });
    follow(show);
}

void Bindings::text(QLabel* label, std::function<QString()> get) {
    follow([label, get = std::move(get)] {
        const QString text = get();
        if (label->text() != text)
            label->setText(text);
    });
}

void Bindings::visible(QWidget* widget, std::function<bool()> get) {
    follow([widget, get = std::move(get)] { widget->setVisible(get()); });
}

void Bindings::enabled(QWidget* widget, std::function<bool()> get) {
    follow([widget, get = std::move(get)] { widget->setEnabled(get()); });
}

void Bindings::fillPicker(QComboBox* combo, const QStringList& titles, int index) {
    const QSignalBlocker quiet(combo);
    for (int i = 0; i < titles.size(); ++i) {
        if (i < combo->count()) {
            if (combo->itemText(i) != titles[i])
                combo->setItemText(i, titles[i]);
        } else {
            combo->addItem(titles[i]);
        }
    }
    while (combo->count() > titles.size())
        combo->removeItem(combo->count() - 1);
    combo->setCurrentIndex(index);
}

void Bindings::onPick(QComboBox* combo, std::function<void(int)> picked) {
    QObject::connect(combo, &QComboBox::currentIndexChanged, combo, std::move(picked));
}

} // namespace vantor
