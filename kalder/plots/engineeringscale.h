// Tick labels in engineering notation (200n, 1.5µ, 3k) for axes whose values span many decades
// below one, such as collector currents in amperes: the title keeps the unit, the labels carry
// the prefix.
#ifndef KALDER_PLOTS_ENGINEERINGSCALE_H
#define KALDER_PLOTS_ENGINEERINGSCALE_H

#include <qwt_scale_draw.h>

#include <QString>

class QwtPlot;

class engineeringScaleDraw : public QwtScaleDraw {
public:
    QwtText label(double value) const override;

    // value as a mantissa of up to three significant digits and an SI prefix (p to T).
    static QString format(double value);
    // Gives the axis of plot engineering tick labels.
    static void apply(QwtPlot* plot, int axis);
};

#endif  // KALDER_PLOTS_ENGINEERINGSCALE_H
