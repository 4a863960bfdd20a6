// The values behind the disc's colour map: each sensor's value on and near the sensor,
// inverse-distance weighting between the sensors, the lowest value of the colour scale outside
// the disc.
#ifndef KALDER_PLOTS_SPECTROGRAMDATA_H
#define KALDER_PLOTS_SPECTROGRAMDATA_H

#include <qwt_raster_data.h>

#include <QPointF>
#include <QVector>

class SpectrogramData : public QwtRasterData {
public:
    // What the map knows of one sensor. Values that are not finite count as 0.
    struct sensor {
        QPointF position;
        double value = 0.0;
        bool active = true;
    };

    // Value of a point lying on an inactive sensor: below every colour scale.
    static constexpr double INACTIVE_VALUE = -1000000.0;
    // x² + y² beyond this lies outside the disc.
    static constexpr double DISC_RADIUS_SQUARED = 1.84;
    // Closer than this to a sensor, a point takes the sensor's own value.
    static constexpr double SENSOR_RADIUS = 0.1;
    // Sensors farther than this from a point do not weigh in.
    static constexpr double REACH = 1.5;

    SpectrogramData();

    // Called from the spectrogram's render threads; the sensors and flags are changed only
    // between renders, from the GUI thread.
    double value(double x, double y) const override;

    void setSensors(const QVector<sensor>& list) { sensors = list; }
    const QVector<sensor>& sensorList() const { return sensors; }
    void setInterpolation(bool on) { interpolate = on; }
    bool interpolation() const { return interpolate; }

private:
    double lowerBound() const { return interval(Qt::ZAxis).minValue(); }

    QVector<sensor> sensors;
    bool interpolate = false;
};

#endif  // KALDER_PLOTS_SPECTROGRAMDATA_H
