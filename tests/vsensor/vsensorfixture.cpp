#include "vsensorfixture.h"

#include <cstdlib>

void resetWithCleanEnvironment() {
    for (const char* name : {"TOLMAR_VSENSOR_PROFILE", "TOLMAR_VSENSOR_MODULES",
                             "TOLMAR_VSENSOR_FAULTS", "TOLMAR_VSENSOR_SYNC_HZ"}) {
        unsetenv(name);
    }
    vsensor::reset();
}

void VsensorTest::SetUp() {
    resetWithCleanEnvironment();
    char name[] = "QUSB-0";
    ASSERT_NE(QuickUsbOpen(&handle, name), 0);
}

void VsensorTest::TearDown() {
    vsensor::reset();
}

bool VsensorTest::busWrite(const std::vector<uint8_t>& bytes, QWORD device) {
    std::vector<uint8_t> copy = bytes;
    return QuickUsbWriteI2C(handle, device, copy.data(), static_cast<QWORD>(copy.size())) != 0;
}

std::vector<uint8_t> VsensorTest::busRead(size_t n, QWORD device, bool* ok) {
    std::vector<uint8_t> out(n, 0);
    QWORD length = static_cast<QWORD>(n);
    const bool r = QuickUsbReadI2C(handle, device, out.data(), &length) != 0;
    if (ok)
        *ok = r;
    out.resize(r ? length : 0);
    return out;
}

QULONG VsensorTest::lastError() {
    QULONG e = 0;
    EXPECT_NE(QuickUsbGetLastError(&e), 0);
    return e;
}
