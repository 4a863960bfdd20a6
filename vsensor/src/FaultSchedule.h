// Scheduled faults of the emulated bus. Not thread-safe by itself; the emulation's lock guards it.
#ifndef VSENSOR_FAULTSCHEDULE_H
#define VSENSOR_FAULTSCHEDULE_H

#include <optional>
#include <string>
#include <vector>

#include "vsensor/VirtualSensor.h"

namespace vsensor::detail {

class FaultSchedule {
public:
    void schedule(Fault fault, int nth, int repeat);
    void clear() { pending_.clear(); }
    // Parses "<kind>@<nth>[x<repeat>],..." and schedules every entry; on a syntax error
    // schedules nothing and returns false.
    bool parse(const std::string& text);

    // Counts one I2C transfer of the given direction and returns the fault that hits it, if
    // any. A read failure wins over a short read when both are due.
    std::optional<Fault> onI2cTransfer(bool write);
    // Counts one event of the kind a non-I2C fault counts (data write, data read, FPGA chunk,
    // read-back, call reaching the module) and tells whether that fault hits it.
    bool onEvent(Fault fault);

private:
    void dropSpent();

    struct Pending {
        Fault fault;
        int skip;    // transfers still to let through
        int repeat;  // transfers to hit after that
    };
    std::vector<Pending> pending_;
};

}  // namespace vsensor::detail

#endif  // VSENSOR_FAULTSCHEDULE_H
