#include "plots/engineeringscale.h"

#include <qwt_plot.h>
#include <qwt_text.h>

#include <algorithm>
#include <cmath>

QString engineeringScaleDraw::format(double value) {
    if (!std::isfinite(value)) {
        return QString::number(value);
    }
    // Ticks computed as sums of steps land a hair beside zero.
    if (std::fabs(value) < 1e-15) {
        return QStringLiteral("0");
    }
    static const char* const PREFIXES[] = {"p", "n", "\u00b5", "m", "", "k", "M", "G", "T"};
    constexpr int UNIT = 4;  // index of the empty prefix
    int exponent = int(std::floor(std::log10(std::fabs(value)) / 3.0));
    exponent = std::max(-UNIT, std::min(exponent, 8 - UNIT));
    double mantissa = value / std::pow(1000.0, exponent);
    // Rounding to three digits can carry into the next prefix (999.96n is 1µ).
    if (std::fabs(QString::number(mantissa, 'g', 3).toDouble()) >= 1000.0 && exponent < 8 - UNIT) {
        ++exponent;
        mantissa /= 1000.0;
    }
    return QString::number(mantissa, 'g', 3) + QString::fromUtf8(PREFIXES[exponent + UNIT]);
}

QwtText engineeringScaleDraw::label(double value) const {
    return QwtText(format(value));
}

void engineeringScaleDraw::apply(QwtPlot* plot, int axis) {
    plot->setAxisScaleDraw(axis, new engineeringScaleDraw);
}
