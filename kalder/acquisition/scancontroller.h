// A scan controller runs one acquisition in a thread of its own: it programs the scan into the
// instrument, reads the data block by block, appends it to the data set and reports progress,
// the electrode voltage and the end of the run through signals. scanController itself runs
// time-averaged IV scans and is the base of the other three controllers.
//
// The owner keeps every other thread off the instrument for the whole run; stopScan() is the
// one call made from another thread, and it touches only the atomic flags and abortAll().
#ifndef KALDER_ACQUISITION_SCANCONTROLLER_H
#define KALDER_ACQUISITION_SCANCONTROLLER_H

#include <QObject>
#include <QString>
#include <atomic>

#include "acquisition/electrodeoutputs.h"
#include "acquisition/pacing.h"
#include "acquisition/scansettings.h"

class TolmarCntrl;
class tarvoDataSet;
struct exportChoices;

class scanController : public QObject {
    Q_OBJECT

public:
    // Takes a copy of the settings now, in the creating thread.
    scanController(tarvoDataSet* dataSet, TolmarCntrl* cntrl, scanSettings* wizard,
                   QObject* parent = nullptr);
    ~scanController() override;

    virtual QString typeName() const;

    bool isRunning() const { return running.load(); }
    tarvoDataSet* data() const { return dataSet; }

    // Save and CSV export of the data set at the end of a run. The directory of path is
    // created when missing; on failure error names what went wrong and the path.
    bool saveDataSet(const QString& path, QString* error = nullptr);
    bool exportDataSet(const QString& path, const exportChoices& choices, QString* error = nullptr);
    // The same for the HDF5 export.
    bool exportHdf5(const QString& path, QString* error = nullptr);

    // The pass under way is the last of a run of multiple scans (from any thread).
    void lastPass() { moreScans = false; }

public slots:
    virtual void stopScan();
    virtual void startScan();

signals:
    void scanEnded();
    void scanProgress(int percent);
    void scanCounter(int count);
    void ARCounter(double aspectRatio);
    void sensorDisconnected(int code);
    void evUpdate(double ev, double minEv, bool timeResolved);
    void estimatedDelay(double seconds);
    void scanDuration(double seconds);

protected:
    // Nearest integer of part / whole in percent, at most 100 (100 when whole is not positive).
    static int percentOf(double part, double whole);
    // Mean of the electrode-voltage row of a block of nRows rows of nPoints values: the row
    // before the swept voltage, which is always the last. NaN when the block has no such row
    // (fewer than four rows: a two-row block is a current and the swept voltage).
    static double electrodeVoltageOf(const double* block, unsigned nPoints, int nRows);
    // Whether the unit's probe rows come in the alternate order.
    bool alternateRows() const;
    // Waits in 100 ms steps until the pass has lasted the interval or a stop is requested.
    void waitForInterval(const pacing::stopwatch& pass) const;
    // Programs every channel enable of the settings (all: every channel on).
    int applyChannelEnables(bool all);

    std::atomic<bool> running{false};  // the current pass keeps collecting
    tarvoDataSet* dataSet;
    TolmarCntrl* cntrl;
    scanSettings* wizard;
    const scanParameters settings;
    std::atomic<bool> moreScans{false};      // further passes follow
    std::atomic<bool> stopRequested{false};  // set by stopScan(), from another thread
};

#endif  // KALDER_ACQUISITION_SCANCONTROLLER_H
