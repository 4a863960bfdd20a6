// Aspect-ratio scans: a reference sweep of the bias grid, then for every aspect ratio a series
// of two-step sweeps 2 V wide along the bias range, with the third electrode placed from the
// reference current scaled down by the square of the aspect ratio.
#ifndef KALDER_ACQUISITION_KALDERSCANCONTROLLER_H
#define KALDER_ACQUISITION_KALDERSCANCONTROLLER_H

#include "acquisition/scancontroller.h"

class ivTrace;

class kalderScanController : public scanController {
    Q_OBJECT

public:
    using scanController::scanController;

    QString typeName() const override;

    // Smallest scaled reference current (microamperes) at which a point is measured.
    static constexpr double MIN_SCALED_CURRENT = 0.1;
    // Width in volts of the sweep measured at each bias voltage.
    static constexpr double POINT_SWEEP_WIDTH = 2.0;

public slots:
    void startScan() override;

private:
    // One sweep: start, read, stop. 1 on success, 0 when a read failed, -1 when the start or
    // the stop failed (the sensor is gone).
    int sweep(const electrodeVoltages& start, const electrodeVoltages& end, double step,
              double*& data, unsigned& nPoints, int& nChannels);
    // The reference current at point i (its last point beyond its end), in microamperes.
    double referenceCurrent(int i) const;
    void measureRatio(double key, double aspectRatio, bool& lost);

    ivTrace* reference = nullptr;
    double key = 0.0;
};

#endif  // KALDER_ACQUISITION_KALDERSCANCONTROLLER_H
