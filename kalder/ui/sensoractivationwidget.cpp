#include "ui/sensoractivationwidget.h"

#include <QGridLayout>
#include <QToolButton>
#include <algorithm>
#include <cmath>

sensorActivationWidget::sensorActivationWidget(QWidget* parent)
    : QWidget(parent), grid(new QGridLayout(this)) {}

void sensorActivationWidget::configure(int, int nProbes, int, int) {
    qDeleteAll(buttons);
    buttons.clear();
    const int count = std::clamp(nProbes, 0, CHANNELS);
    // A near-square arrangement, like the sensors on a carrier disc.
    const int columns = std::max(1, static_cast<int>(std::ceil(std::sqrt(count))));
    for (int c = 0; c < count; ++c) {
        auto* button = new QToolButton(this);
        button->setObjectName(QStringLiteral("channel%1").arg(c + 1));
        button->setText(QString::number(c + 1));
        button->setCheckable(true);
        button->setChecked(true);
        button->setMinimumSize(36, 36);
        grid->addWidget(button, c / columns, c % columns);
        buttons.append(button);
    }
}

QVector<bool> sensorActivationWidget::enabledChannels() const {
    QVector<bool> enabled(CHANNELS, true);
    for (int c = 0; c < buttons.size(); ++c) {
        enabled[c] = buttons[c]->isChecked();
    }
    return enabled;
}

void sensorActivationWidget::setEnabledChannels(const QVector<bool>& enabled) {
    for (int c = 0; c < buttons.size() && c < enabled.size(); ++c) {
        buttons[c]->setChecked(enabled[c]);
    }
}
