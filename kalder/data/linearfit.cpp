#include "linearfit.h"

void LinearFit::add(double x, double y) {
    if (n == 0) {
        x0 = x;
        y0 = y;
    } else {
        const double dx = x - x0;
        const double dy = y - y0;
        sx += dx;
        sy += dy;
        sxx += dx * dx;
        syy += dy * dy;
        sxy += dx * dy;
    }
    ++n;
    valid = false;
}

void LinearFit::update() const {
    if (valid || n == 0) {
        return;
    }
    if (n == 1) {
        slope_ = 0.0;
        intercept_ = y0;
        r2_ = 0.0;
    } else {
        const double dn = n;
        const double num = dn * sxy - sx * sy;
        const double dxx = dn * sxx - sx * sx;
        const double dyy = dn * syy - sy * sy;
        slope_ = num / dxx;
        intercept_ = (sy / dn + y0) - slope_ * (sx / dn + x0);
        const double den = dxx * dyy;
        r2_ = den == 0.0 ? 0.0 : num * num / den;
    }
    valid = true;
}

double LinearFit::slope() const {
    update();
    return slope_;
}

double LinearFit::intercept() const {
    update();
    return intercept_;
}

double LinearFit::rSquared() const {
    update();
    return r2_;
}
