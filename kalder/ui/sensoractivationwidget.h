// One check button per current channel of the connected unit, numbered from 1, laid out in
// rows; the scan measures the channels whose buttons are checked.
#ifndef KALDER_UI_SENSORACTIVATIONWIDGET_H
#define KALDER_UI_SENSORACTIVATIONWIDGET_H

#include <QList>
#include <QVector>
#include <QWidget>

class QGridLayout;
class QToolButton;

class sensorActivationWidget : public QWidget {
    Q_OBJECT

public:
    static constexpr int CHANNELS = 24;

    explicit sensorActivationWidget(QWidget* parent = nullptr);

    // Builds the buttons for the unit: nProbes current channels (all checked). The ADC value
    // count, voltage channel count and sensor code only decide the arrangement.
    void configure(int nAdcChannels, int nProbes, int nVchan, int sensorCode);
    // 24 flags: the buttons' states, true for channels without a button.
    QVector<bool> enabledChannels() const;
    void setEnabledChannels(const QVector<bool>& enabled);
    int channelCount() const { return buttons.size(); }

private:
    QGridLayout* grid;
    QList<QToolButton*> buttons;
};

#endif  // KALDER_UI_SENSORACTIVATIONWIDGET_H
