#include "vsensorfixture.h"

#include <cstdlib>
#include <sstream>
#include <string>

#include "tempdir.h"

Bytes block(const char* text) {
    Bytes b(64, 0);
    std::istringstream in(text);
    std::string token;
    for (size_t at = 0; in >> token;) {
        if (token[0] == '@')
            at = std::stoul(token.substr(1));
        else
            b.at(at++) = static_cast<uint8_t>(std::stoul(token, nullptr, 16));
    }
    return b;
}

Bytes standIn(const char* name) {
    const std::string text = readWholeFile(std::string(FIRMWARE_SOURCE_DIR) + "/" + name);
    EXPECT_FALSE(text.empty()) << name;
    return Bytes(text.begin(), text.end());
}

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
    resetWithCleanEnvironment();
}

bool VsensorTest::busWrite(const Bytes& bytes, QWORD device) {
    Bytes copy = bytes;
    return QuickUsbWriteI2C(handle, device, copy.data(), static_cast<QWORD>(copy.size())) != 0;
}

Bytes VsensorTest::busRead(size_t n, QWORD device, bool* ok) {
    Bytes out(n, 0);
    QWORD length = static_cast<QWORD>(n);
    const bool r = QuickUsbReadI2C(handle, device, out.data(), &length) != 0;
    if (ok)
        *ok = r;
    out.resize(r ? length : 0);
    return out;
}

bool VsensorTest::configure(const Bytes& stream, size_t chunk) {
    if (!QuickUsbStartFpgaConfiguration(handle))
        return false;
    for (size_t at = 0; at < stream.size(); at += chunk) {
        Bytes part(stream.begin() + at, stream.begin() + std::min(stream.size(), at + chunk));
        if (!QuickUsbWriteFpgaData(handle, part.data(), part.size()))
            return false;
    }
    return true;
}

bool VsensorTest::configured() {
    QWORD flag = 7;
    EXPECT_NE(QuickUsbIsFpgaConfigured(handle, &flag), 0);
    return flag != 0;
}

bool VsensorTest::writeBlock(Bytes bytes) {
    return QuickUsbWriteData(handle, bytes.data(), bytes.size()) != 0;
}

Bytes VsensorTest::readBack(QULONG ask, bool* ok) {
    Bytes out(ask, 0xEE);
    QULONG length = ask;
    const bool r = QuickUsbReadData(handle, out.data(), &length) != 0;
    if (ok)
        *ok = r;
    out.resize(length);
    return out;
}

QULONG VsensorTest::lastError() {
    QULONG e = 0;
    EXPECT_NE(QuickUsbGetLastError(&e), 0);
    return e;
}
