// Time-resolved IV scans: every scan read is a series of time slices after the sync edge; each
// slice becomes a trace whose time stamp is its delay in microseconds.
#ifndef KALDER_ACQUISITION_SYNCSCANCONTROLLER_H
#define KALDER_ACQUISITION_SYNCSCANCONTROLLER_H

#include "acquisition/scancontroller.h"

class syncScanController : public scanController {
    Q_OBJECT

public:
    syncScanController(tarvoDataSet* dataSet, TolmarCntrl* cntrl, scanSettings* wizard,
                       QObject* parent = nullptr);

    QString typeName() const override;

public slots:
    void startScan() override;

private:
    unsigned trStart;
    unsigned trEnd;
    double trRes;
    unsigned syncDelay;
};

#endif  // KALDER_ACQUISITION_SYNCSCANCONTROLLER_H
