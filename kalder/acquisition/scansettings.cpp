#include "acquisition/scansettings.h"

scanParameters scanSettings::snapshot() const {
    scanParameters p;
    p.scanType = scanType();
    p.aspectRatioFamily = aspectRatioFamily();
    p.multipleScans = multipleScans();
    p.tracesPerScan = tracesPerScan();
    p.scanLengthMs = scanLengthMs();
    p.intervalMs = intervalMs();
    p.trStart = trStart();
    p.trEnd = trEnd();
    p.trRes = trRes();
    p.biasStart = biasStart();
    p.biasEnd = biasEnd();
    p.biasStep = biasStep();
    p.collector = collector();
    p.supGrid = supGrid();
    p.secElSup = secElSup();
    p.zeroStepDelay = zeroStepDelay();
    p.firstStepDelay = firstStepDelay();
    p.nextStepDelay = nextStepDelay();
    p.ivAcc = ivAcc();
    p.kalderFirstStep = kalderFirstStep();
    p.kalderNextStep = kalderNextStep();
    p.kalderIvAcc = kalderIvAcc();
    p.risingEdge = risingEdge();
    p.syncDelay = syncDelay();
    p.currentRange = currentRange();
    p.collectorDiscriminator = collectorDiscriminator();
    p.highResolutionKalderMode = highResolutionKalderMode();
    p.enabledChannels = enabledChannels();
    p.aspectRatios = aspectRatios();
    return p;
}
