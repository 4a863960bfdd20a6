// The plasma seen by the virtual sensor's probes: ion energy distributions per sensor, the
// collector current behind the retarding grid, and the thermistors.
#include <cmath>

#include "vsensor/VirtualSensor.h"

namespace vsensor {

double sensorRadius(int sensor, int sensors) {
    // The 13-sensor carrier discs: a row of five through the centre (the third sensor sits in
    // the middle) and a ring of eight at the edge, so the map of a scan shows the profile.
    static const double disc13[13] = {0.8333 / 1.2, 0.4167 / 1.2, 0.0, 0.4167 / 1.2, 0.8333 / 1.2,
                                      1.0,          1.0,          1.0, 1.0,          1.0,
                                      1.0,          1.0,          1.0};
    if (sensors == 13 && sensor >= 0 && sensor < 13) {
        return disc13[sensor];
    }
    return sensors > 1 ? static_cast<double>(sensor) / (sensors - 1) : 0.0;
}

double collectorCurrent(const PlasmaModel& model, int sensor, int sensors, double retardingVolts,
                        double syncPhase) {
    const double r2 = std::pow(sensorRadius(sensor, sensors), 2);
    const double flux = model.flux * (1 - model.edgeFluxDrop * r2);
    const double energyScale = 1 - model.edgeEnergyDrop * r2;
    // Share of the ions of each peak whose energy exceeds the retarding energy (singly charged
    // ions: the retarding energy in eV equals the voltage).
    auto above = [&](const IonPeak& p) {
        const double width = std::max(p.width, 1e-9);
        return p.weight * 0.5 *
               std::erfc((retardingVolts - p.energy * energyScale) / (width * std::sqrt(2.0)));
    };
    const double on = above(model.peaks[0]) + above(model.peaks[1]);
    const double off = model.pulseOffFlux * above(model.peaks[0]);
    // The collector's amplifier reads the arriving ion current as negative, so the current
    // rises towards zero as the retarding voltage turns ions away and dI/dE (the energy
    // distribution) and the ion flux come out positive.
    if (syncPhase < 0)
        return -flux * (model.pulseDuty * on + (1 - model.pulseDuty) * off);
    return -flux * (syncPhase < model.pulseDuty ? on : off);
}

double thermistorResistance(const PlasmaModel& model, const UnitProfile& profile, int k) {
    const double* coef = profile.tempCoef[k];
    const double kelvin = model.thermistors[k] + 273.15;
    return coef[2] + coef[1] * std::exp(coef[0] * (1 / kelvin - 1 / 298.15));
}

}  // namespace vsensor
