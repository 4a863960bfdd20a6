// Voltage limits of the instrument's three outputs and the line-edit checks built from them:
// validators whose precision follows the DAC gain, and clamping of typed values.
#ifndef KALDER_UI_OUTPUTRANGES_H
#define KALDER_UI_OUTPUTRANGES_H

#include <array>

class QDoubleValidator;
class QLineEdit;
class QObject;
class TolmarCntrl;

struct outputRange {
    double low = -1000.0;
    double high = 1000.0;
    double gain = 1.0;  // DAC codes per volt
};

struct outputRanges {
    std::array<outputRange, 3> output;
    // The ranges and gains of outputs 0, 1 and 2 from the instrument's record.
    static outputRanges of(const TolmarCntrl& cntrl);
};

// Decimals that the DAC resolves: floor(|log10(1/gain)|) when 1/gain is below 1, else 0.
int decimalsForGain(double gain);
// A validator for the range with the precision of its DAC, in standard notation.
QDoubleValidator* rangeValidator(const outputRange& range, QObject* parent);
// Replaces a value above the range by its high limit and one below by its low limit, written
// with three decimals. Text that is not a number is left alone. True when it changed the text.
bool clampToRange(QLineEdit* edit, const outputRange& range);

#endif  // KALDER_UI_OUTPUTRANGES_H
