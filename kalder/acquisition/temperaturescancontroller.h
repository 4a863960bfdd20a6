// Temperature records: rows of thermistor temperatures, read every 200 ms, in passes like the
// time-averaged scan.
#ifndef KALDER_ACQUISITION_TEMPERATURESCANCONTROLLER_H
#define KALDER_ACQUISITION_TEMPERATURESCANCONTROLLER_H

#include "acquisition/scancontroller.h"

class temperatureScanController : public scanController {
    Q_OBJECT

public:
    using scanController::scanController;

    QString typeName() const override;

public slots:
    void startScan() override;
};

#endif  // KALDER_ACQUISITION_TEMPERATURESCANCONTROLLER_H
