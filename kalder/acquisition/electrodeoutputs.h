// Which of the unit's three outputs (A, B, C) drives which electrode. One rule serves the scan
// controllers, the step check before a scan and the idle voltages, so an output carries the
// same electrode's voltage between scans as during them.
#ifndef KALDER_ACQUISITION_ELECTRODEOUTPUTS_H
#define KALDER_ACQUISITION_ELECTRODEOUTPUTS_H

#include <array>

class TolmarCntrl;

// Voltages in the order the program keeps them: bias grid, collector, third electrode
// (secondary-electron suppression; in aspect-ratio sweeps the electrode placed above the bias).
using electrodeVoltages = std::array<double, 3>;

// The output that drives the bias grid: C (2) on two-value units whose output C is a scanned
// DAC, the one unit kind whose read-out takes the swept voltage from output C's codes; A (0) on
// every other unit, multi-channel units among them, whose energy axis comes from the monitors.
int biasOutputOf(const TolmarCntrl& unit);

// The voltages of outputs A, B and C: the collector on B; the bias grid on biasOutputOf(unit)
// and the third electrode on the other of A and C.
std::array<double, 3> outputVoltagesOf(const TolmarCntrl& unit, const electrodeVoltages& v);

// Programs a sweep of the bias grid from start[0] to end[0] in steps of `step` volts, with the
// collector and the third electrode going from start[1..2] to end[1..2], each on its output.
// Returns the unit's step count (0 when it refuses the sweep).
int programBiasSweep(TolmarCntrl& unit, const electrodeVoltages& start,
                     const electrodeVoltages& end, double step);

// Sends the voltages the electrodes hold between scans to their outputs.
bool applyIdleVoltages(TolmarCntrl& unit, const electrodeVoltages& idle);

#endif  // KALDER_ACQUISITION_ELECTRODEOUTPUTS_H
