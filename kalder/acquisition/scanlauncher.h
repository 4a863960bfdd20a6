// What every scan start has in common, for the program and the command line alike: the
// instrument is programmed for the scan the settings describe (step count, current range,
// settling delays, hardware averaging, scan type), and the data set and the controller for the
// scan type are made. The caller holds the device lock and runs the controller in a thread.
#ifndef KALDER_ACQUISITION_SCANLAUNCHER_H
#define KALDER_ACQUISITION_SCANLAUNCHER_H

#include <QString>

class TolmarCntrl;
class scanController;
class scanSettings;
struct scanParameters;
class tarvoDataSet;

struct scanLaunch {
    enum Outcome { Ready, TooManySteps, Rejected };
    Outcome outcome = Rejected;
    int steps = 0;
    tarvoDataSet* dataSet = nullptr;       // Ready: new, owned by the caller
    scanController* controller = nullptr;  // Ready: new, owned by the caller
};

// Builds the scan; electrodeVoltage is the last measured one (NaN when none).
scanLaunch prepareScan(TolmarCntrl* cntrl, scanSettings* settings, double electrodeVoltage);

// Puts the instrument's per-probe constants, the channel counts, the date and where the data
// came from (software version, sensor serial, firmware, calibration date, link backend) into
// the data set's settings map.
void writeScanMetadata(tarvoDataSet* dataSet, TolmarCntrl* cntrl);

// The scan's parameters into the data set's settings map under the keys, units and text form
// of the program's scan settings dialog, for a scan whose settings did not come from it.
void writeScanParameters(tarvoDataSet* dataSet, const scanParameters& p);

// The automatic save and export names: directory/prefix_type_timestamp.suffix.
QString autosaveName(const QString& directory, const QString& prefix, const QString& typeName,
                     const QString& timestamp, const QString& suffix);

#endif  // KALDER_ACQUISITION_SCANLAUNCHER_H
