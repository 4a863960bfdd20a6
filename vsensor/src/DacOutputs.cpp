#include "DacOutputs.h"

namespace vsensor::detail {
namespace {

// The voltage of a code (or, for a step, of a code difference when `offset` is false). A DAC
// without a slope puts out nothing.
double volts(const double cal[2], double code, bool offset = true) {
    if (cal[1] == 0)
        return 0;
    return (code - (offset ? cal[0] : 0)) / cal[1];
}

}  // namespace

DacCalibration dacCalibration(const UnitProfile& profile) {
    DacCalibration d;
    for (int k = 0; k < 4; ++k) {
        d.cal[k][0] = profile.cal_dac[k][0];
        d.cal[k][1] = profile.cal_dac[k][1];
    }
    d.fixedSupply = (profile.deviceOptions & 0x02) == 0;
    return d;
}

void setOutputVoltages(const DacCalibration& dac, BoardState& state) {
    const BoardRegisters& r = state.registers;
    const uint16_t idle[3] = {r.v_a_def, r.v_b_def, r.v_c_def};
    const uint16_t start[3] = {r.v_a_start, r.v_b_start, r.v_c_start};
    const int32_t inc[3] = {r.v_a_inc, r.v_b_inc, r.v_c_inc};
    for (int k = 0; k < 3; ++k) {
        state.idleVolts[k] = volts(dac.cal[k], idle[k]);
        state.startVolts[k] = volts(dac.cal[k], start[k]);
        state.stepVolts[k] = volts(dac.cal[k], inc[k], false);
    }
    if (dac.fixedSupply) {
        // One side of the supply is selected at a time; with neither (or both) it is off. The
        // supply does not step.
        const bool on = r.aux_sw1 != r.aux_sw2;
        const double* cal = r.aux_sw1 ? dac.cal[3] : dac.cal[2];
        state.idleVolts[2] = on ? volts(cal, r.v_c_def) : 0;
        state.startVolts[2] = on ? volts(cal, r.v_c_start) : 0;
        state.stepVolts[2] = 0;
    }
}

}  // namespace vsensor::detail
