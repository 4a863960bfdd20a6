#include "virtuallink.h"

#include <stdlib.h>

#include <chrono>

#include "Platform.h"
#include "UsbLink.h"
#include "vsensor/VirtualSensor.h"

namespace {

void noSleep(unsigned) {}

}  // namespace

bool useVirtualLink(const char* firmwareDir) {
    setenv("TOLMAR_FIRMWARE_DIR", firmwareDir, 1);
    setenv("TOLMAR_LINK", "virtual", 1);
    if (!tolmar2::link::reselect()) {
        return false;
    }
    tolmar2::platform::setSleepFunction(&noSleep);
    tolmar2::link::setI2cPause(std::chrono::milliseconds(0));
    vsensor::reset();
    vsensor::setStreamSpeed(0);
    return true;
}

void releaseVirtualLink() {
    vsensor::reset();
    tolmar2::platform::setSleepFunction(nullptr);
    unsetenv("TOLMAR_LINK");
    tolmar2::link::reselect();
}
