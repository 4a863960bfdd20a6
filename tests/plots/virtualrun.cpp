#include "virtualrun.h"

#include <stdlib.h>

#include <chrono>

#include "Platform.h"
#include "UsbLink.h"
#include "acquisition/electrodeoutputs.h"
#include "acquisition/pacing.h"
#include "acquisition/scancontroller.h"
#include "acquisition/scanlauncher.h"
#include "data/tarvodataset.h"
#include "vsensor/VirtualSensor.h"

namespace {

void noSleep(unsigned) {}

// Each look at the clock moves it on by a millisecond, each pause by its length: passes and
// runs end after a fixed number of reads, without waiting.
qint64 virtualNow = 0;

}  // namespace

virtualUnit::virtualUnit(const char* profile) {
    setenv("TOLMAR_FIRMWARE_DIR", FIRMWARE_SOURCE_DIR, 1);
    setenv("TOLMAR_LINK", "virtual", 1);
    tolmar2::link::reselect();
    tolmar2::platform::setSleepFunction(&noSleep);
    tolmar2::link::setI2cPause(std::chrono::milliseconds(0));
    vsensor::reset();
    vsensor::setStreamSpeed(0);
    virtualNow = 0;
    pacing::setClock([] { return ++virtualNow; }, [](int ms) { virtualNow += ms; });
    if (!vsensor::loadProfile(profile)) {
        return;
    }
    cntrl = std::make_unique<TolmarCntrl>();
    isConnected = cntrl->connectTo(false) == 1;
}

virtualUnit::~virtualUnit() {
    cntrl.reset();
    pacing::setClock(nullptr, nullptr);
    vsensor::reset();
    tolmar2::platform::setSleepFunction(nullptr);
    unsetenv("TOLMAR_LINK");
    tolmar2::link::reselect();
}

scanParameters virtualUnit::quickScan() {
    scanParameters p;
    p.aspectRatioFamily = false;
    p.biasStart = -10.0;
    p.biasEnd = 90.0;
    p.biasStep = 2.0;
    p.ivAcc = 16;
    p.kalderIvAcc = 16;
    p.tracesPerScan = 2;
    return p;
}

tarvoDataSet* virtualUnit::run(const scanParameters& parameters) {
    if (!isConnected) {
        return nullptr;
    }
    fixedScanSettings settings(parameters);
    scanLaunch launch = prepareScan(cntrl.get(), &settings, 0.0);
    if (launch.outcome != scanLaunch::Ready) {
        return nullptr;
    }
    writeScanMetadata(launch.dataSet, cntrl.get());
    launch.controller->startScan();
    delete launch.controller;
    return launch.dataSet;
}

tarvoDataSet* virtualUnit::sweepRetardingGrid(int traces) {
    if (!isConnected) {
        return nullptr;
    }
    // The bias grid from -10 V to 90 V (as far as its output reaches), collector at -60 V.
    if (programBiasSweep(*cntrl, {-10.0, -60.0, 0.0}, {90.0, -60.0, 0.0}, 2.0) <= 0 ||
        !cntrl->setAverageHW(16, 16) || !cntrl->startScan()) {
        return nullptr;
    }
    auto* ds =
        new tarvoDataSet(cntrl->getNProbes(), cntrl->getNVchan(), static_cast<int>(cntrl->extWord));
    ds->setTimeUnit(QStringLiteral("sec"));
    writeScanMetadata(ds, cntrl.get());
    for (int k = 0; k < traces; ++k) {
        double* data = nullptr;
        unsigned nScans = 0, nPoints = 0, acqStart = 0, status = 0;
        int nChannels = 0;
        double timeRes = 0.0;
        if (cntrl->getDataFromOneScan(data, nScans, nPoints, nChannels, timeRes, acqStart, status,
                                      true) != 1) {
            break;
        }
        ds->addTrace(data, 0.0, static_cast<int>(nPoints), nChannels, static_cast<int>(status), 1,
                     cntrl->alternateRows);
    }
    cntrl->stopScan();
    return ds;
}
