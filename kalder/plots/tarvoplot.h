// The main trace plot: for the selected channels, the collector current against ion energy
// (IV, left axis) and its derivative dI/dE (the ion energy distribution, right axis), read from
// the data set shown.
//
// Curves are kept between redraws and only refilled, so a live scan with many channels does
// not rebuild plot items on every update. Each curve holds its own copy of the samples, taken
// under the data set's lock: painting happens later, outside the lock, while the acquisition
// thread may be changing the traces.
#ifndef KALDER_UI_TARVOPLOT_H
#define KALDER_UI_TARVOPLOT_H

#include <qwt_plot.h>

#include <QList>
#include <QPen>
#include <QRectF>
#include <QString>
#include <QVector>

class QLabel;
class QwtPlotCurve;
class QwtPlotMarker;
class QwtPlotGrid;
class QwtPlotLegendItem;
class QwtPlotZoomer;
class ivTrace;
class tarvoDataSet;
class tarvoScan;

class tarvoPlot : public QwtPlot {
    Q_OBJECT

public:
    // Display modes.
    enum Mode { AverageTrace = 0, AllTraces = 1, LatestTrace = 2 };
    // Energy-axis modes.
    enum AxisMode { SampleIndex = 0, MeasuredEnergy = 1, EvenEnergy = 2 };

    explicit tarvoPlot(QWidget* parent = nullptr);
    ~tarvoPlot() override;

    // Shows `dataSet` (not owned): clears the channel selection, follows the main scan and
    // redraws.
    void setDataSet(tarvoDataSet* dataSet);
    tarvoDataSet* dataSet() const { return data; }

    QList<int> channels() const { return selected; }
    int mode() const { return displayMode; }
    int scan() const { return currentScan; }
    int energyAxisMode() const { return axisMode; }
    bool resampledAxis() const { return resampled; }
    bool legendVisible() const { return legendShown; }
    bool globalScale() const { return useGlobalScale; }
    bool showsIV() const { return showIV; }
    bool showsIEDF() const { return showIEDF; }
    bool showsPrescan() const { return prescanView; }
    // Curves attached by the last redraw, in drawing order.
    int attachedCurveCount() const { return attachedCurves; }
    QList<QwtPlotCurve*> shownCurves() const;
    QwtPlotLegendItem* legendItem() const { return legend; }
    QwtPlotZoomer* primaryZoomer() const { return zoomer; }
    QString screenshotPath() const { return screenshot; }

    // Markers on the dI/dE curves at their IEDF peaks (one per peak of every listed curve).
    bool showsPeakMarkers() const { return showPeaks; }
    const QList<QwtPlotMarker*>& peakMarkerList() const { return peakMarkers; }
    // The values of the first selected channel's curves at the point nearest to energy x (in
    // the bottom axis' units): energy, current and dI/dE (those the curves have). Empty without
    // a curve.
    QString readOutAt(double x) const;
    QString readOutText() const;

    // Renders the plot at 320 x 200 mm and 85 dpi; the format follows the extension.
    bool renderTo(const QString& fileName);

public slots:
    void setCurrentChannel(QList<int> channels);
    void setCurrentMode(int mode);
    void updateDisplay();
    void setCurrentScan(int scan);
    void toggleGlobalScale(bool on);
    void renderToFile();
    void toggleIEDF(bool on);
    void toggleIV(bool on);
    void switchLegend();
    void CheckZoom(QRectF rect);
    void CheckZoomSecond(QRectF rect);
    void toggleSimpleMode();
    void toggleCheatingMode();
    void showPreScan(bool on);
    void togglePeakMarkers(bool on);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Marks the IEDF peaks of a dI/dE curve of n points drawn against x.
    void markPeaks(const double* x, const double* dIdE, int n, int channel);
    void clearPeakMarkers();
    // The scan the plot shows: the chosen one, else the data set's current scan. Under lock.
    tarvoScan* shownScan() const;
    // The next curve of the pool (made when the pool is exhausted).
    QwtPlotCurve* nextCurve();
    // Fills and attaches one IV / dI/dE pair of `trace` for `channel`. `energy` replaces the
    // trace's own energy axis when given (the average shifted by the prescan offset).
    void addPair(const ivTrace& trace, int channel, const double* energy, bool listed);
    void showPrescanTraces();
    void toggleAxisMode(int alternative);
    // Detaches the pool's curves from `used` on.
    void detachUnused();
    void applyGlobalScales();
    void followDataWhenUnzoomed();

    tarvoDataSet* data = nullptr;
    QwtPlotZoomer* zoomer;
    QwtPlotZoomer* secondZoomer;
    QwtPlotGrid* grid;
    QwtPlotLegendItem* legend;
    QList<QwtPlotCurve*> curves;
    int used = 0;
    int attachedCurves = 0;
    bool useGlobalScale = false;
    bool showIV = true;
    bool showIEDF = true;
    QList<int> selected;
    int displayMode = AverageTrace;
    int currentScan = -1;
    QPen ivPen;
    QPen dIdEPen;
    int axisMode = MeasuredEnergy;
    bool resampled = false;
    QVector<double> indexVector;
    QVector<double> resampledX;
    QVector<double> shiftedX;
    bool prescanView = false;
    bool legendShown = true;
    QString screenshot;
    bool showPeaks = true;
    QList<QwtPlotMarker*> peakMarkers;
    // Copies of the first selected channel's listed curves, for the read-out under the mouse.
    QVector<QPointF> readOutIV;
    QVector<QPointF> readOutDIdE;
    int readOutChannel = -1;
    QLabel* readOut;
};

#endif  // KALDER_UI_TARVOPLOT_H
