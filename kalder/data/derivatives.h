// dI/dE routines. Each works on a row-major block of nRows rows of n points: the x values are
// the last row, the y rows are rows 0 .. nRows-4 (row 0 alone when nRows is 2). The output has
// one row of n values per y row. An up-and-down sweep ("turning": the middle x is above or
// below both ends) is differentiated on each side of the turn separately.
#ifndef KALDER_DATA_DERIVATIVES_H
#define KALDER_DATA_DERIVATIVES_H

namespace derivatives {

// Returns false (and zeroes the output) when the sweep is too short for the method.
// curveCount is the number of curves in the block (always 1); voltageRow selects the x row,
// -1 meaning the last row.
using Routine = bool (*)(const double* in, double* out, int n, int nRows, int curveCount,
                         int voltageRow);

// Number of y rows a block of nRows rows produces.
int outputRows(int nRows);

// The routine for a method number: 0 and 1 forward difference, 2, 3, 4 the central forms with
// 1, 2, 3 points per side, anything else the four-points-per-side form.
Routine routineFor(int method);

bool forwardDifference(const double* in, double* out, int n, int nRows, int curveCount,
                       int voltageRow);
bool centralDifference1(const double* in, double* out, int n, int nRows, int curveCount,
                        int voltageRow);
bool centralDifference2(const double* in, double* out, int n, int nRows, int curveCount,
                        int voltageRow);
bool centralDifference3(const double* in, double* out, int n, int nRows, int curveCount,
                        int voltageRow);
bool centralDifference4(const double* in, double* out, int n, int nRows, int curveCount,
                        int voltageRow);

}  // namespace derivatives

#endif  // KALDER_DATA_DERIVATIVES_H
