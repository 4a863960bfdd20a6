// The carrier disc seen from above: a marker per sensor labelled with its value, behind them a
// colour map interpolated between the sensors, and a colour bar. Shows the ion flux, the average
// energy or the temperature of every sensor of the data set.
#ifndef KALDER_PLOTS_MULTISENSORSPECTROGRAMDISPLAY_H
#define KALDER_PLOTS_MULTISENSORSPECTROGRAMDISPLAY_H

#include <qwt_interval.h>
#include <qwt_plot.h>

#include <QList>
#include <QPointF>
#include <QString>

class QwtLinearColorMap;
class QwtPlotMarker;
class QwtPlotRescaler;
class QwtPlotShapeItem;
class QwtPlotSpectrogram;
class SpectrogramData;
class tarvoDataSet;
struct discUniformity;

// One sensor of the disc with its three markers: the sensor itself with its name, and a box
// above (energy) and below (flux or temperature) carrying the values.
class sensorNode {
public:
    static constexpr double SYMBOL_SIZE = 60.0;
    static constexpr double LABEL_OFFSET = 0.15;

    sensorNode(int channel, const QPointF& position, tarvoDataSet* dataSet, QwtPlot* plot);
    ~sensorNode();
    sensorNode(const sensorNode&) = delete;
    sensorNode& operator=(const sensorNode&) = delete;

    // Reads the channel's values from the data set (locked by the caller) and relabels.
    void refresh(int dataType);
    // Value the map shows for a data type: 0 flux, 1 energy, 2 temperature.
    double value(int dataType) const;
    void setInfoHidden(bool hidden, bool temperature);

    QPointF position() const { return pos; }
    QString sensorLabel() const;
    QString energyLabel() const;
    QString fluxLabel() const;

    int kind = 1;
    int channel;
    tarvoDataSet* dataSet;
    QwtPlotMarker* sensorMarker;
    QwtPlotMarker* energyMarker;
    QwtPlotMarker* fluxMarker;
    double flux = 0.0;
    double energy = 0.0;
    double exactEnergy = 0.0;  // before truncation to a whole number
    double temperature = 0.0;
    bool active = true;
    int arIndex = 0;

private:
    QPointF pos;
};

class MultiSensorSpectrogramDisplay : public QwtPlot {
    Q_OBJECT

public:
    enum dataTypeId { IonFlux = 0, Energy = 1, Temperature = 2 };

    explicit MultiSensorSpectrogramDisplay(QWidget* parent = nullptr);
    ~MultiSensorSpectrogramDisplay() override;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return width; }

    // Which value the map shows (dataTypeId); recomputes.
    void setDataType(int type);
    int dataType() const { return type; }

    // What the view holds, for the data view and the tests.
    const QList<sensorNode*>& nodes() const { return sensorNodes; }
    int layoutIndex() const { return layout; }
    SpectrogramData* rasterData() const { return data; }
    QwtInterval zInterval() const;
    QList<double> contourLevels() const;
    QString colourBarTitle() const;
    bool interpolation() const { return interpolate; }
    bool contour() const { return contourLines; }
    int selectedAR() const { return arIndex; }

    // Average energy and ion flux across the active sensors the map shows (none for
    // temperature data).
    discUniformity statistics() const;

    // The sensor within 0.2 disc units of a point, -1 when there is none.
    int sensorAt(const QPointF& discPoint) const;
    // Switches a sensor on or off in the map, recomputes and reports it.
    void toggleSensor(int index);
    // Writes the plot into a file (pdf, svg, ps, png or bmp) on the page the widget's shape
    // gives; false when nothing could be written.
    bool renderToFile(const QString& path);
    // Page size in millimetres for a widget of this width and height.
    static QSizeF pageSize(double width, double height);

signals:
    void dataSensorSelected(int index);
    void switchView();
    // The sensors' values or active flags changed.
    void valuesUpdated();

public slots:
    void resetDataSource(tarvoDataSet* ds);
    void toggleSensorInfo(bool hide);
    void renderToFile();
    void toggleInterpolation(bool on);
    void toggleContour(bool on);
    void updateData();
    void toggleTempAbsScale(bool on);
    void selectAR(int index);
    void setFixedScale(bool use, double max, double min);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void clearNodes();
    void pushSensorsToMap();
    QPointF toDisc(const QPoint& canvasPos) const;
    static QwtLinearColorMap* makeColorMap();

    tarvoDataSet* dataSet = nullptr;
    QList<sensorNode*> sensorNodes;
    int layout = -1;
    QwtPlotSpectrogram* spectrogram;
    SpectrogramData* data;  // owned by the spectrogram
    QwtPlotShapeItem* disc;
    QwtPlotShapeItem* cable;
    QwtPlotMarker* cableMarker;
    QwtPlotRescaler* rescaler;
    int type = Energy;
    bool interpolate = false;
    bool contourLines = false;
    bool absTempScale = false;
    bool fixedScale = false;
    double fixedMin = 0.0;
    double fixedMax = 2000.0;
    int arIndex = 0;
    bool infoHidden = false;
    QString screenshotPath;
};

#endif  // KALDER_PLOTS_MULTISENSORSPECTROGRAMDISPLAY_H
