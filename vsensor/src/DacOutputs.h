// The board's three outputs: the voltages their DAC codes produce through the unit's own
// calibration. Outputs A and B are 12-bit DACs; output C is a 16-bit DAC or, on units without a
// scanned collector, a fixed high-voltage supply with a positive and a negative side.
#ifndef VSENSOR_DACOUTPUTS_H
#define VSENSOR_DACOUTPUTS_H

#include "vsensor/VirtualSensor.h"

namespace vsensor::detail {

struct DacCalibration {
    double cal[4][2] = {};     // per DAC: code = cal[1] * volts + cal[0]
    bool fixedSupply = false;  // output C is the fixed supply: DAC 2 negative, DAC 3 positive
};

DacCalibration dacCalibration(const UnitProfile& profile);

// Fills the idle, first-step and per-step voltages of `state` from its registers.
void setOutputVoltages(const DacCalibration& dac, BoardState& state);

}  // namespace vsensor::detail

#endif  // VSENSOR_DACOUTPUTS_H
