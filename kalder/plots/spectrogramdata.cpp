#include "plots/spectrogramdata.h"

#include <cmath>

SpectrogramData::SpectrogramData() {
    setInterval(Qt::XAxis, QwtInterval(-1.5, 1.5));
    setInterval(Qt::YAxis, QwtInterval(-1.5, 1.5));
    setInterval(Qt::ZAxis, QwtInterval(0.0, 20.0));
}

double SpectrogramData::value(double x, double y) const {
    if (x * x + y * y > DISC_RADIUS_SQUARED) {
        return lowerBound();
    }
    double weightSum = 0.0;
    double weightedSum = 0.0;
    for (const sensor& s : sensors) {
        const double d = std::hypot(x - s.position.x(), y - s.position.y());
        const double v = std::isfinite(s.value) ? s.value : 0.0;
        if (d < SENSOR_RADIUS) {
            return s.active ? v : INACTIVE_VALUE;
        }
        if (s.active && d < REACH) {
            const double w = std::pow(1.0 / d, 8);
            weightSum += w;
            weightedSum += w * v;
        }
    }
    // Without a sensor in reach (all of them switched off, say) there is nothing to weigh:
    // the point shows the bottom of the scale rather than an undefined value.
    if (!interpolate || weightSum == 0.0) {
        return lowerBound();
    }
    return weightedSum / weightSum;
}
