#include "derivatives.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace derivatives {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool isTurning(const double* x, int n) {
    const double mid = x[n / 2];
    return (mid > x[0] && mid > x[n - 1]) || (mid < x[0] && mid < x[n - 1]);
}

const double* xRow(const double* in, int n, int nRows, int voltageRow) {
    const int row = (voltageRow >= 0 && voltageRow < nRows) ? voltageRow : nRows - 1;
    return in + static_cast<long>(row) * n;
}

// A NaN in the first output row would poison the sums of the flux and energy; the other rows
// keep them so that the plots leave gaps.
void clearFirstRowNaN(double* out, int n) {
    for (int j = 0; j < n; ++j) {
        if (std::isnan(out[j])) {
            out[j] = 0.0;
        }
    }
}

bool fail(double* out, int n, int rows) {
    std::fill(out, out + static_cast<long>(n) * rows, 0.0);
    return false;
}

// Central difference with `half` points on each side of j.
double centralAt(const double* y, const double* x, int j, int half) {
    double dy = y[j + half];
    double dx = x[j + half];
    for (int k = half - 1; k >= 1; --k) {
        dy += y[j + k];
        dx += x[j + k];
    }
    for (int k = 1; k <= half; ++k) {
        dy -= y[j - k];
        dx -= x[j - k];
    }
    return dy / dx;
}

bool central(const double* in, double* out, int n, int nRows, int voltageRow, int half) {
    const int rows = outputRows(nRows);
    if (n <= 0 || nRows <= 0) {
        return false;
    }
    const double* x = xRow(in, n, nRows, voltageRow);
    const bool turning = isTurning(x, n);
    if (n < (turning ? 2 : 1) * (2 * half + 1)) {
        return fail(out, n, rows);
    }
    for (int r = 0; r < rows; ++r) {
        const double* y = in + static_cast<long>(r) * n;
        double* o = out + static_cast<long>(r) * n;
        std::fill(o, o + n, kNaN);
        if (turning) {
            const int turn = n / 2;
            for (int j = half; j < turn - half; ++j) {
                o[j] = centralAt(y, x, j, half);
            }
            for (int j = turn + half; j < n - half; ++j) {
                o[j] = centralAt(y, x, j, half);
            }
        } else {
            for (int j = half; j < n - half; ++j) {
                o[j] = centralAt(y, x, j, half);
            }
        }
    }
    clearFirstRowNaN(out, n);
    return true;
}

}  // namespace

int outputRows(int nRows) {
    if (nRows == 2) {
        return 1;
    }
    return std::max(0, nRows - 3);
}

Routine routineFor(int method) {
    switch (method) {
        case 0:
        case 1:
            return forwardDifference;
        case 2:
            return centralDifference1;
        case 3:
            return centralDifference2;
        case 4:
            return centralDifference3;
        default:
            return centralDifference4;
    }
}

bool forwardDifference(const double* in, double* out, int n, int nRows, int, int voltageRow) {
    const int rows = outputRows(nRows);
    if (n <= 0 || nRows <= 0) {
        return false;
    }
    const double* x = xRow(in, n, nRows, voltageRow);
    const bool turning = isTurning(x, n);
    if (n < (turning ? 4 : 2)) {
        return fail(out, n, rows);
    }
    for (int r = 0; r < rows; ++r) {
        const double* y = in + static_cast<long>(r) * n;
        double* o = out + static_cast<long>(r) * n;
        for (int j = 0; j + 1 < n; ++j) {
            o[j] = (y[j + 1] - y[j]) / (x[j + 1] - x[j]);
        }
        o[n - 1] = o[n - 2];
        if (turning) {
            o[n / 2] = o[n / 2 - 1];
        }
    }
    clearFirstRowNaN(out, n);
    return true;
}

bool centralDifference1(const double* in, double* out, int n, int nRows, int, int voltageRow) {
    return central(in, out, n, nRows, voltageRow, 1);
}

bool centralDifference2(const double* in, double* out, int n, int nRows, int, int voltageRow) {
    return central(in, out, n, nRows, voltageRow, 2);
}

bool centralDifference3(const double* in, double* out, int n, int nRows, int, int voltageRow) {
    return central(in, out, n, nRows, voltageRow, 3);
}

bool centralDifference4(const double* in, double* out, int n, int nRows, int, int voltageRow) {
    return central(in, out, n, nRows, voltageRow, 4);
}

}  // namespace derivatives
