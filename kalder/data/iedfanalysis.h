// What a process engineer reads off an ion energy distribution beyond its mean: the peaks of
// dI/dE (energy, height, full width at half maximum) and, for a bimodal distribution, the
// separation of the two peaks; and how uniform a value is across the sensors of a disc.
#ifndef KALDER_DATA_IEDFANALYSIS_H
#define KALDER_DATA_IEDFANALYSIS_H

#include <QVector>
#include <limits>
#include <vector>

class ivTrace;
class tarvoDataSet;
class tarvoScan;

struct iedfPeak {
    double energy = std::numeric_limits<double>::quiet_NaN();  // eV
    double height = std::numeric_limits<double>::quiet_NaN();  // A/eV
    // Full width at half maximum (eV); when the curve does not fall to half height on one side
    // (the sweep ends, or the other peak's flank holds it up), twice the other side's half
    // width; NaN when it falls on neither side.
    double fwhm = std::numeric_limits<double>::quiet_NaN();
};

struct iedfPeaks {
    // At most the two most prominent peaks, in ascending energy.
    std::vector<iedfPeak> peaks;
    // Energy of the second peak less that of the first; NaN unless there are two.
    double separation = std::numeric_limits<double>::quiet_NaN();
};

// The peaks of a distribution sampled at n points (x ascending or descending; points that are
// not finite are left out). The curve is smoothed first (Savitzky-Golay, a window narrow
// against the peaks found), so noise makes no peaks; a maximum counts when it stands out of the
// curve by a tenth of its highest value and by three times the noise. Energy and height come
// from a Gaussian through the highest point and its neighbours, the half-maximum crossings from
// a cubic through the four points around each.
iedfPeaks findIedfPeaks(const double* x, const double* y, int n);

// The peaks of the dI/dE row `channel` of a trace against its energy axis, inside the crop;
// `energyOffset` is subtracted from the peak energies (a prescan's offset). None for a channel
// the trace does not have.
iedfPeaks findIedfPeaks(const ivTrace& trace, int channel, double energyOffset = 0.0);

// The peaks of a channel of a scan's average, on the energy axis the trace plot shows (shifted
// by the channel's prescan offset once the prescan has been analysed).
iedfPeaks scanIedfPeaks(const tarvoScan& scan, int channel);

// The peaks of a channel of the data set's current scan average, on the energy axis the trace
// plot shows (shifted by the channel's prescan offset once the prescan has been analysed). The
// caller holds the data set's lock.
iedfPeaks currentIedfPeaks(const tarvoDataSet& set, int channel);

// Spread of one value across the sensors of a disc.
struct uniformity {
    int sensors = 0;
    double mean = std::numeric_limits<double>::quiet_NaN();
    // Sample standard deviation (n - 1 in the denominator); NaN for fewer than two sensors.
    double standardDeviation = std::numeric_limits<double>::quiet_NaN();
    // (max - min) / (2 * mean), as a fraction.
    double nonUniformity = std::numeric_limits<double>::quiet_NaN();
};

// Over the values whose `active` entry is true (entries beyond `active` count as active);
// values that are not finite are left out.
uniformity uniformityOf(const QVector<double>& values, const QVector<bool>& active);

struct discUniformity {
    uniformity energy;  // average energy, eV
    uniformity flux;    // ion flux, A/m2
};

// Average energy and ion flux of the current scan's average over the sensors enabled for the
// measurement. The caller holds the data set's lock.
discUniformity currentDiscUniformity(const tarvoDataSet& set);

#endif  // KALDER_DATA_IEDFANALYSIS_H
