#include "quickscan.h"

scanParameters quickScanParameters() {
    scanParameters p;
    p.aspectRatioFamily = false;
    p.tracesPerScan = 3;
    p.biasStart = 0.0;
    p.biasEnd = 58.0;
    p.biasStep = 2.0;
    p.collector = -50.0;
    p.supGrid = -50.0;
    p.secElSup = -50.0;
    p.ivAcc = 16;
    p.kalderIvAcc = 16;
    p.firstStepDelay = 1000;
    return p;
}
