// Running least-squares straight-line fit. Points are accumulated relative to the first point
// so that large offsets (volts around a few hundred, indices in the thousands) do not cost
// precision in the sums.
#ifndef KALDER_DATA_LINEARFIT_H
#define KALDER_DATA_LINEARFIT_H

class LinearFit {
public:
    void add(double x, double y);
    int count() const { return n; }
    double slope() const;
    double intercept() const;
    double rSquared() const;

private:
    void update() const;

    int n = 0;
    double x0 = 0.0;
    double y0 = 0.0;
    double sx = 0.0;
    double sy = 0.0;
    double sxx = 0.0;
    double syy = 0.0;
    double sxy = 0.0;
    mutable double slope_ = 0.0;
    mutable double intercept_ = 0.0;
    mutable double r2_ = 0.0;
    mutable bool valid = false;
};

#endif  // KALDER_DATA_LINEARFIT_H
