// Common set-up for the virtual sensor tests: a power-on emulation with no environment
// overrides and module "QUSB-0" open, and the QuickUSB calls the tests make with bytes by hand.
#ifndef TESTS_VSENSOR_VSENSORFIXTURE_H
#define TESTS_VSENSOR_VSENSORFIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "quickusb/QuickUsbApi.h"
#include "vsensor/VirtualSensor.h"

using Bytes = std::vector<uint8_t>;

// A 64-byte register block from hex bytes; "@n" moves to byte n. "@3 80" is read-back mode.
Bytes block(const char* text);

// The bytes of a stand-in firmware image in tolmar2/firmware (none when it is missing).
Bytes standIn(const char* name);

// Clears every TOLMAR_VSENSOR_* variable and resets the emulation.
void resetWithCleanEnvironment();

class VsensorTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override { resetWithCleanEnvironment(); }

    // I2C: a write of raw bytes (address bytes included), a read of up to n bytes (none when
    // the read fails).
    bool busWrite(Bytes b) {
        return QuickUsbWriteI2C(handle, vsensor::kI2cDevice, b.data(), QWORD(b.size())) != 0;
    }
    Bytes busRead(size_t n);
    // The FPGA: a bit stream in chunks of the given size (the last one shorter), whether it
    // runs, a register block, and a read-back of up to `ask` bytes.
    bool configure(const Bytes& stream, size_t chunk = 64);
    bool configure(const char* image) { return configure(standIn(image)); }
    bool configured() {
        QWORD flag = 7;
        EXPECT_NE(QuickUsbIsFpgaConfigured(handle, &flag), 0);
        return flag != 0;
    }
    bool writeBlock(Bytes b) { return QuickUsbWriteData(handle, b.data(), b.size()) != 0; }
    Bytes readBack(QULONG ask = 64);
    static QULONG lastError() {
        QULONG e = 0;
        EXPECT_NE(QuickUsbGetLastError(&e), 0);
        return e;
    }

    QHANDLE handle = 0;
};

#endif  // TESTS_VSENSOR_VSENSORFIXTURE_H
