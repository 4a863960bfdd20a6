#include "ui/outputranges.h"

#include <QDoubleValidator>
#include <QLineEdit>
#include <cmath>

#include "tolmar2/TolmarCntrl.h"

outputRanges outputRanges::of(const TolmarCntrl& cntrl) {
    outputRanges r;
    for (int k = 0; k < 3; ++k) {
        r.output[k].low = cntrl.vRange[k][0];
        r.output[k].high = cntrl.vRange[k][1];
        r.output[k].gain = cntrl.cal_dac[k][1];
    }
    return r;
}

int decimalsForGain(double gain) {
    if (gain == 0.0) {
        return 0;
    }
    const double step = 1.0 / gain;
    if (!(std::fabs(step) < 1.0)) {
        return 0;
    }
    return static_cast<int>(std::floor(std::fabs(std::log10(std::fabs(step)))));
}

QDoubleValidator* rangeValidator(const outputRange& range, QObject* parent) {
    auto* validator =
        new QDoubleValidator(range.low, range.high, decimalsForGain(range.gain), parent);
    validator->setNotation(QDoubleValidator::StandardNotation);
    return validator;
}

bool clampToRange(QLineEdit* edit, const outputRange& range) {
    bool ok = false;
    const double value = edit->text().toDouble(&ok);
    if (!ok) {
        return false;
    }
    double limit;
    if (value > range.high) {
        limit = range.high;
    } else if (value < range.low) {
        limit = range.low;
    } else {
        return false;
    }
    edit->setText(QString::number(limit, 'f', 3));
    return true;
}
