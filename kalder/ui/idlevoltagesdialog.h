// The electrode voltages the instrument holds between scans, kept in the settings group
// "IdleVoltagesDialog" and clamped into the instrument's output ranges.
#ifndef KALDER_UI_IDLEVOLTAGESDIALOG_H
#define KALDER_UI_IDLEVOLTAGESDIALOG_H

#include <QDialog>
#include <array>
#include <memory>

#include "ui/outputranges.h"

namespace Ui {
class idleVoltagesDialog;
}

class idleVoltagesDialog : public QDialog {
    Q_OBJECT

public:
    explicit idleVoltagesDialog(QWidget* parent = nullptr);
    ~idleVoltagesDialog() override;

    double biasGrid() const;
    double suppressorGrid() const;
    double collector() const;
    double secondaryElectronSuppression() const;
    // The electrodes the instrument drives, in this order: bias grid, collector, secondary
    // electron suppression (applyIdleVoltages in acquisition/electrodeoutputs.h places them).
    std::array<double, 3> instrumentVoltages() const;

    void setRanges(const outputRanges& ranges);
    void readSettings();
    void writeSettings();

public slots:
    void validateIdleVals();
    void accept() override;

private:
    std::unique_ptr<Ui::idleVoltagesDialog> ui;
    outputRanges ranges;
};

#endif  // KALDER_UI_IDLEVOLTAGESDIALOG_H
