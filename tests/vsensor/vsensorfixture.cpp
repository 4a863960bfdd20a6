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

Bytes VsensorTest::busRead(size_t n) {
    Bytes out(n, 0);
    QWORD length = static_cast<QWORD>(n);
    const bool ok = QuickUsbReadI2C(handle, vsensor::kI2cDevice, out.data(), &length) != 0;
    out.resize(ok ? length : 0);
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

Bytes VsensorTest::readBack(QULONG ask) {
    Bytes out(ask, 0xEE);
    QULONG length = ask;
    const bool ok = QuickUsbReadData(handle, out.data(), &length) != 0;
    out.resize(ok ? length : 0);
    return out;
}
