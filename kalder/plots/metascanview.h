// The history of a series of scans: one value per scan (average energy or ion flux, or the
// temperatures of a recording) against time, one curve per selected channel. Clicking near a
// scan selects it.
#ifndef KALDER_PLOTS_METASCANVIEW_H
#define KALDER_PLOTS_METASCANVIEW_H

#include <qwt_plot.h>

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QVector>

class QwtPlotCurve;
class QwtPlotMarker;
class QwtPlotPicker;
class QwtPlotZoomer;
class tarvoDataSet;

class metaScanView : public QwtPlot {
    Q_OBJECT

public:
    enum valueId { AverageEnergy = 0, IonFlux = 1 };
    // A click farther than this (in time units) from every scan selects nothing.
    static constexpr double SELECT_LIMIT = 100000.0;

    explicit metaScanView(QWidget* parent = nullptr);
    ~metaScanView() override;

    void setDataSet(tarvoDataSet* ds);
    const QList<QwtPlotCurve*>& curves() const { return curveList; }
    QList<int> channels() const { return selectedChannels; }
    int value() const { return selector; }
    bool lastScanSelected() const { return lastSelected; }
    QwtPlotMarker* marker() const { return scanMarker; }
    QwtPlotPicker* picker() const { return pick; }
    QwtPlotZoomer* plotZoomer() const { return zoomer; }
    bool legendShown() const { return legendOn; }

signals:
    void scanSelected(int index);

public slots:
    void updateData();
    void selectChan(const QList<int>& channels);
    void selectValue(int value);
    void pointSelected(const QPointF& point);
    void CheckZoom(const QRectF& rect);
    void switchLegend();

private:
    // Times of the scans (or temperature records) of the series, oldest first.
    QVector<double> scanTimes() const;
    bool holdsSeries() const;
    void clearCurves();
    void setTitles();

    tarvoDataSet* dataSet = nullptr;
    QList<int> selectedChannels;
    int selector = AverageEnergy;
    QList<QwtPlotCurve*> curveList;
    QwtPlotPicker* pick;
    QwtPlotZoomer* zoomer;
    QwtPlotMarker* scanMarker;
    bool lastSelected = false;
    bool legendOn = true;
};

#endif  // KALDER_PLOTS_METASCANVIEW_H
