// The view of an aspect-ratio scan: for the selected channel and scan, the prescan trace (IV
// and dI/dE), one energy distribution per aspect ratio, and the ion flux and average energy
// over the aspect ratio.
#ifndef KALDER_PLOTS_KALDERDISPLAYV2_H
#define KALDER_PLOTS_KALDERDISPLAYV2_H

#include <QList>
#include <QPointF>
#include <QVector>
#include <QWidget>

class QwtPlot;
class QwtPlotCurve;
class QwtPlotMarker;
class QwtPlotPicker;
class tarvoDataSet;

class kalderDisplayV2 : public QWidget {
    Q_OBJECT

public:
    explicit kalderDisplayV2(QWidget* parent = nullptr);
    ~kalderDisplayV2() override;

    void setDataSet(tarvoDataSet* ds);

    QwtPlot* prescanPlot() const { return prescan; }
    QwtPlot* aspectRatioPlot() const { return curvesPlot; }
    QwtPlot* summaryPlot() const { return summary; }
    QwtPlotCurve* ivCurve() const { return iv; }
    QwtPlotCurve* dIdVCurve() const { return didv; }
    QwtPlotCurve* energyCurve() const { return energy; }
    QwtPlotCurve* fluxCurve() const { return flux; }
    const QList<QwtPlotCurve*>& aspectRatioCurves() const { return arCurves; }
    int currentMode() const { return mode; }
    // The lines marking the measured aspect ratios on the summary.
    const QList<QwtPlotMarker*>& ratioMarks() const { return ratioMarkers; }

signals:
    // A point picked in the summary plot, in its bottom and left axis units.
    void pointPicked(const QPointF& point);

public slots:
    void updateDisplay();
    void setCurrentChannel(int nChan);
    void setCurrentScan(int nScan);
    void setCurrentMode(int mode);
    void enableIVCurve(bool on);
    void toggleDICurve(bool on);
    void pointSelected(const QPointF& point);

private:
    // Empties the three plots.
    void clear();
    // Marks the summary's aspect ratios and redraws the three plots.
    void markRatios();

    tarvoDataSet* dataSet = nullptr;
    int channel = 0;
    int scanIndex = -1;
    int mode = 0;
    QwtPlot* prescan;
    QwtPlot* curvesPlot;
    QwtPlot* summary;
    QwtPlotCurve* iv;
    QwtPlotCurve* didv;
    QwtPlotCurve* energy;
    QwtPlotCurve* flux;
    QList<QwtPlotCurve*> arCurves;
    QwtPlotPicker* picker;
    QList<QwtPlotMarker*> ratioMarkers;
    // The summary curves draw straight from these, rebuilt at every redraw.
    QVector<double> aspectRatios;
    QVector<double> ionFluxes;
    QVector<double> averageEnergies;
};

#endif  // KALDER_PLOTS_KALDERDISPLAYV2_H
