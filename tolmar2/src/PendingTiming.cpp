// Stand-in for the scan timing operations until the scan set-up branch is merged.
#include "tolmar2/TolmarCntrl.h"

bool TolmarCntrl::setScanType(bool doubleEnded, bool synchronized, bool edge) {
    up_down_scan = doubleEnded;
    sync_mode = synchronized;
    sync_edge_r_f = !edge;
    return true;
}

bool TolmarCntrl::setSyncScanParameters(double&, unsigned&, unsigned&, unsigned&, bool avg) {
    trmAvg = avg;
    return true;
}

void TolmarCntrl::estimateScanResources() {
    ScanLimits.samplesExpected = static_cast<uint32_t>(nAdcChannels * iv_steps * iv_samples);
}
