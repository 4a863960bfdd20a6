// Common set-up for the virtual sensor tests: a power-on emulation with no environment
// overrides and module "QUSB-0" open, and the QuickUSB calls the tests make with bytes by hand.
#ifndef TESTS_VSENSOR_VSENSORFIXTURE_H
#define TESTS_VSENSOR_VSENSORFIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "quickusb/QuickUsbApi.h"
#include "tempdir.h"
#include "vsensor/VirtualSensor.h"

using Bytes = std::vector<uint8_t>;

// A 64-byte register block from hex bytes; "@n" moves to byte n.
inline Bytes block(const std::string& text) {
    Bytes b(64, 0);
    std::istringstream in(text);
    size_t at = 0;
    for (std::string token; in >> token;) {
        if (token[0] == '@')
            at = std::stoul(token.substr(1));
        else
            b.at(at++) = static_cast<uint8_t>(std::stoul(token, nullptr, 16));
    }
    return b;
}

// The bytes of a stand-in firmware image in tolmar2/firmware.
inline Bytes standIn(const char* name) {
    const std::string text = readWholeFile(std::string(FIRMWARE_SOURCE_DIR) + "/" + name);
    return Bytes(text.begin(), text.end());
}

class VsensorTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"TOLMAR_VSENSOR_PROFILE", "TOLMAR_VSENSOR_MODULES",
                                 "TOLMAR_VSENSOR_FAULTS", "TOLMAR_VSENSOR_SYNC_HZ"}) {
            unsetenv(name);
        }
        vsensor::reset();
        char name[] = "QUSB-0";
        ASSERT_NE(QuickUsbOpen(&handle, name), 0);
    }
    void TearDown() override { vsensor::reset(); }

    // I2C: a write of raw bytes (address bytes included), a read of up to n bytes (none when
    // the read fails).
    bool busWrite(Bytes b) {
        return QuickUsbWriteI2C(handle, vsensor::kI2cDevice, b.data(), QWORD(b.size())) != 0;
    }
    Bytes busRead(size_t n) {
        Bytes out(n, 0);
        QWORD length = static_cast<QWORD>(n);
        const bool ok = QuickUsbReadI2C(handle, vsensor::kI2cDevice, out.data(), &length) != 0;
        out.resize(ok ? length : 0);
        return out;
    }
    // The FPGA: a bit stream in chunks of the given size (the last one shorter), whether it
    // runs, a register block.
    bool configure(const Bytes& stream, size_t chunk = 64) {
        if (!QuickUsbStartFpgaConfiguration(handle))
            return false;
        for (size_t at = 0; at < stream.size(); at += chunk) {
            Bytes part(stream.begin() + at, stream.begin() + std::min(stream.size(), at + chunk));
            if (!QuickUsbWriteFpgaData(handle, part.data(), part.size()))
                return false;
        }
        return true;
    }
    bool configure(const char* image) { return configure(standIn(image)); }
    bool configured() {
        QWORD flag = 7;
        EXPECT_NE(QuickUsbIsFpgaConfigured(handle, &flag), 0);
        return flag != 0;
    }
    bool writeBlock(Bytes b) { return QuickUsbWriteData(handle, b.data(), b.size()) != 0; }

    QHANDLE handle = 0;
};

#endif  // TESTS_VSENSOR_VSENSORFIXTURE_H
