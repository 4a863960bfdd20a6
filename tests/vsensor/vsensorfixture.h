// Common set-up for the virtual sensor tests: a power-on emulation with no environment
// overrides and module "QUSB-0" open.
#ifndef TESTS_VSENSOR_VSENSORFIXTURE_H
#define TESTS_VSENSOR_VSENSORFIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "quickusb/QuickUsbApi.h"
#include "vsensor/VirtualSensor.h"

class VsensorTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Bus helpers on the open module: a write of raw bytes (address bytes included) and a read
    // of up to n bytes (the bytes actually returned).
    bool busWrite(const std::vector<uint8_t>& bytes, QWORD device = vsensor::kI2cDevice);
    std::vector<uint8_t> busRead(size_t n, QWORD device = vsensor::kI2cDevice, bool* ok = nullptr);
    static QULONG lastError();

    QHANDLE handle = 0;
};

// Clears every TOLMAR_VSENSOR_* variable and resets the emulation.
void resetWithCleanEnvironment();

#endif  // TESTS_VSENSOR_VSENSORFIXTURE_H
