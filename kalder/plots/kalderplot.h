// One plot of an aspect-ratio (or angle) scan: a curve per aspect ratio of the selected scan
// for the selected channel, as energy distribution, as current, or the ion flux over the angle.
#ifndef KALDER_PLOTS_KALDERPLOT_H
#define KALDER_PLOTS_KALDERPLOT_H

#include <qwt_plot.h>

#include <QList>
#include <QRectF>
#include <QString>
#include <QVariant>

class QwtPlotCurve;
class QwtPlotZoomer;
class QwtLegend;
class tarvoDataSet;
class kalderAspectRatioScan;

class kalderPlot : public QwtPlot {
    Q_OBJECT

public:
    // Mode 3 shows the ion flux over the angle; 1 and 2 the distributions; the others the
    // current.
    static constexpr int FLUX_OVER_ANGLE = 3;

    explicit kalderPlot(QWidget* parent = nullptr);
    ~kalderPlot() override;

    void setDataSet(tarvoDataSet* ds);
    const QList<QwtPlotCurve*>& curves() const { return curveList; }
    int currentMode() const { return mode; }
    bool simpleMode() const { return simple; }
    // Writes the plot on a 720 × 480 mm page; false when nothing could be written.
    bool renderToFile(const QString& path);

public slots:
    void setCurrentChannel(int nChan);
    void setCurrentScan(int nScan);
    void setCurrentMode(int mode);
    void renderToFile();
    void updateDisplay();
    void toggleSimpleMode();
    void legendChecked(const QVariant& itemInfo, bool on, int index);
    void CheckZoom(const QRectF& rect);

private:
    QwtPlotCurve* curveAt(int index);
    void styleCurve(QwtPlotCurve* curve, int index) const;
    static QString angleTitle(int index);

    tarvoDataSet* dataSet = nullptr;
    QList<QwtPlotCurve*> curveList;
    QwtPlotZoomer* zoomer;
    QwtLegend* legend;
    int channel = 0;
    int scanIndex = -1;
    int mode = 0;
    bool simple = false;
    QString screenshotPath;
};

#endif  // KALDER_PLOTS_KALDERPLOT_H
