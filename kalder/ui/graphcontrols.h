// The graphical controls, a tool window beside the main window: crop of every trace, one
// scale for all trace plots, and a fixed colour scale for the contour map.
#ifndef KALDER_UI_GRAPHCONTROLS_H
#define KALDER_UI_GRAPHCONTROLS_H

#include <QDialog>
#include <memory>

namespace Ui {
class graphControls;
}

class graphControls : public QDialog {
    Q_OBJECT

public:
    explicit graphControls(QWidget* parent = nullptr);
    ~graphControls() override;

signals:
    void setCrop(int start, int end);
    void setIonCorrectionFactor(double* factors, int count);
    void useGlobalScale(bool on);
    void useFixedContourScale(bool on, double maximum, double minimum);

public slots:
    void cropValueUpdated();
    void updateFixedScaleContour();

private:
    std::unique_ptr<Ui::graphControls> ui;
};

#endif  // KALDER_UI_GRAPHCONTROLS_H
