#include "acquisition/electrodeoutputs.h"

#include "tolmar2/TolmarCntrl.h"

int biasOutputOf(const TolmarCntrl& unit) {
    return unit.nAdcChannels == 2 && unit.vcScannable ? 2 : 0;
}

std::array<double, 3> outputVoltagesOf(const TolmarCntrl& unit, const electrodeVoltages& v) {
    if (biasOutputOf(unit) == 2) {
        return {v[2], v[1], v[0]};
    }
    return v;
}

int programBiasSweep(TolmarCntrl& unit, const electrodeVoltages& start,
                     const electrodeVoltages& end, double step) {
    std::array<double, 3> vs = outputVoltagesOf(unit, start);
    std::array<double, 3> ve = outputVoltagesOf(unit, end);
    int lead = biasOutputOf(unit);
    return unit.setScanVoltages(vs.data(), ve.data(), lead, step);
}

bool applyIdleVoltages(TolmarCntrl& unit, const electrodeVoltages& idle) {
    std::array<double, 3> v = outputVoltagesOf(unit, idle);
    return unit.setDefVoltages(v.data());
}
