// Module discovery, open and close, descriptors, settings and handles: what the library relies
// on from the QuickUSB calls.
#include <stdlib.h>

#include <functional>
#include <string>
#include <thread>

#include "vsensorfixture.h"

namespace {

using namespace std::string_literals;

// The list is NUL-separated names ended by an empty name, whole names only, nothing written
// past the length given.
TEST(VsensorModules, ListOfNamesStaysInsideTheBuffer) {
    const struct {
        int modules;
        QULONG length;
        bool ok;              // false: kErrorBufferTooSmall
        std::string written;  // NULs included
    } cases[] = {
        {1, 128, true, "QUSB-0\0\0"s},
        {1, 8, true, "QUSB-0\0\0"s},  // exactly fits
        {1, 7, false, "\0"s},         // one byte short: empty list
        {0, 1, true, "\0"s},
        {3, 128, true, "QUSB-0\0QUSB-1\0QUSB-2\0\0"s},
        {3, 15, false, "QUSB-0\0QUSB-1\0\0"s},
        {12, 128, true,
         "QUSB-0\0QUSB-1\0QUSB-2\0QUSB-3\0QUSB-4\0QUSB-5\0QUSB-6\0QUSB-7\0"
         "QUSB-8\0QUSB-9\0QUSB-10\0QUSB-11\0\0"s},
        {1, 0, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.modules) + " modules, " + std::to_string(c.length));
        resetWithCleanEnvironment();
        vsensor::setModuleCount(c.modules);
        std::string buffer(c.length + 16, '#');
        EXPECT_EQ(QuickUsbFindModules(buffer.data(), c.length) != 0, c.ok);
        EXPECT_EQ(buffer, c.written + std::string(buffer.size() - c.written.size(), '#'));
    }
    EXPECT_EQ(QuickUsbFindModules(nullptr, 16), 0);
    // TOLMAR_VSENSOR_MODULES: 0 to 16, anything else one module.
    for (const auto& [text, count] :
         {std::pair{"3", 3}, {"0", 0}, {"16", 16}, {"17", 1}, {"-1", 1}, {"two", 1}, {"2x", 1}}) {
        setenv("TOLMAR_VSENSOR_MODULES", text, 1);
        vsensor::reset();
        EXPECT_EQ(vsensor::moduleCount(), count) << text;
    }
    resetWithCleanEnvironment();
}

TEST_F(VsensorTest, OpenCloseAndHandles) {
    vsensor::setModuleCount(2);
    char n0[] = "QUSB-0", n1[] = "QUSB-1", n2[] = "QUSB-2", partial[] = "QUSB";
    QHANDLE a = 0, b = 0, again = 0;
    ASSERT_NE(QuickUsbOpen(&a, n0), 0);
    EXPECT_EQ(QuickUsbOpen(&again, n0), 0);
    EXPECT_EQ(lastError(), vsensor::kErrorAlreadyOpen);
    ASSERT_NE(QuickUsbOpen(&b, n1), 0);
    EXPECT_NE(b, a);
    for (char* name : {n2, partial}) {
        EXPECT_EQ(QuickUsbOpen(&again, name), 0);
        EXPECT_EQ(lastError(), vsensor::kErrorNoSuchModule);
    }
    EXPECT_EQ(QuickUsbOpen(nullptr, n0), 0);
    ASSERT_NE(QuickUsbClose(a), 0);
    ASSERT_NE(QuickUsbOpen(&again, n0), 0);  // reopened: a new handle, the old one stays dead
    EXPECT_NE(again, a);

    // Each module has its own memory.
    QBYTE w[] = {0x00, 0x00, 0x5A};
    ASSERT_NE(QuickUsbWriteI2C(b, vsensor::kI2cDevice, w, 3), 0);
    EXPECT_EQ(vsensor::readMemory(0, 1, 1)[0], 0x5A);
    EXPECT_EQ(vsensor::readMemory(0, 1, 0)[0], 0xFF);

    // Every call taking a handle fails on one that is not open, and nothing reaches the bus.
    vsensor::clearI2cLog();
    QBYTE data[64] = {0x20, 0x00};
    char text[128];
    QWORD n = 64;
    QULONG ul = 64;
    const std::function<QRETURN(QHANDLE)> calls[] = {
        [&](QHANDLE h) { return QuickUsbGetStringDescriptor(h, 1, text, 128); },
        [&](QHANDLE h) { return QuickUsbReadSetting(h, 17, &n); },
        [&](QHANDLE h) { return QuickUsbWriteSetting(h, 1, 1); },
        [&](QHANDLE h) { return QuickUsbStartFpgaConfiguration(h); },
        [&](QHANDLE h) { return QuickUsbWriteFpgaData(h, data, 64); },
        [&](QHANDLE h) { return QuickUsbIsFpgaConfigured(h, &n); },
        [&](QHANDLE h) { return QuickUsbWriteData(h, data, 64); },
        [&](QHANDLE h) { return QuickUsbReadData(h, data, &ul); },
        [&](QHANDLE h) { return QuickUsbWriteI2C(h, 0x51, data, 2); },
        [&](QHANDLE h) { return QuickUsbReadI2C(h, 0x51, data, &n); },
        [&](QHANDLE h) { return QuickUsbSetRS232BaudRate(h, 9600); },
        [&](QHANDLE h) { return QuickUsbGetNumRS232(h, 0, &n); },
        [&](QHANDLE h) { return QuickUsbFlushRS232(h, 0); },
        [&](QHANDLE h) { return QuickUsbReadRS232(h, 0, data, &n); },
        [&](QHANDLE h) { return QuickUsbWriteRS232(h, 0, data, 1); },
        [&](QHANDLE h) { return QuickUsbClose(h); },
    };
    for (QHANDLE h : {QHANDLE{0}, a, QHANDLE{-1}, QHANDLE{999}}) {
        for (size_t i = 0; i < std::size(calls); ++i) {
            SCOPED_TRACE("call " + std::to_string(i) + " on handle " + std::to_string(h));
            EXPECT_EQ(calls[i](h), 0);
            EXPECT_EQ(lastError(), vsensor::kErrorInvalidHandle);
        }
    }
    EXPECT_TRUE(vsensor::i2cLog().empty());
    vsensor::reset();  // closes everything
    EXPECT_EQ(QuickUsbClose(again), 0);
}

TEST_F(VsensorTest, DescriptorsSettingsAndVersions) {
    // Descriptors 1 to 3, cut to the buffer and terminated inside it.
    const struct {
        QBYTE index;
        QWORD length;
        std::string text;
    } descriptors[] = {{1, 128, "Virtual Sensor"}, {1, 14, "Virtual Senso"}, {1, 1, ""},
                       {2, 128, vsensor::kModel},  {3, 128, "VS000000"},     {3, 3, "VS"}};
    for (const auto& d : descriptors) {
        std::string buffer(d.length + 16, '#');
        ASSERT_NE(QuickUsbGetStringDescriptor(handle, d.index, buffer.data(), d.length), 0);
        EXPECT_EQ(buffer.substr(0, d.text.size() + 1), d.text + '\0');
        EXPECT_EQ(buffer.substr(d.length), std::string(16, '#'));
    }
    char text[128];
    for (QBYTE index : {0, 4}) {
        EXPECT_EQ(QuickUsbGetStringDescriptor(handle, index, text, sizeof text), 0);
        EXPECT_EQ(lastError(), vsensor::kErrorInvalidParameter);
    }
    // Setting 17: bit 7 high speed, bits 8-15 revision code 1; read-only. Others read back.
    QWORD v = 0;
    ASSERT_NE(QuickUsbReadSetting(handle, 17, &v), 0);
    EXPECT_EQ(v, 0x0180);
    vsensor::setHighSpeed(false);
    EXPECT_EQ(QuickUsbWriteSetting(handle, 17, 0x80), 0);
    ASSERT_NE(QuickUsbReadSetting(handle, 17, &v), 0);
    EXPECT_EQ(v, 0x0100);
    ASSERT_NE(QuickUsbWriteSetting(handle, 3, 0xFA), 0);
    ASSERT_NE(QuickUsbReadSetting(handle, 3, &v), 0);
    EXPECT_EQ(v, 0xFA);
    EXPECT_EQ(QuickUsbReadSetting(handle, vsensor::kSettingCount, &v), 0);
    QWORD major = 0, minor = 0, build = 0;
    ASSERT_NE(QuickUsbGetDriverVersion(&major, &minor, &build), 0);
    EXPECT_EQ(std::vector<QWORD>({major, minor, build}), std::vector<QWORD>({2, 15, 0}));
    ASSERT_NE(QuickUsbGetDllVersion(&major, &minor, &build), 0);
    EXPECT_EQ(std::vector<QWORD>({major, minor, build}), std::vector<QWORD>({2, 15, 2}));
}

// Two threads working their own modules: the shared state stays consistent.
TEST(VsensorModules, ConcurrentModulesKeepTheirData) {
    resetWithCleanEnvironment();
    vsensor::setModuleCount(2);
    auto worker = [](int module, bool* good) {
        std::string name = "QUSB-" + std::to_string(module);
        QHANDLE h = 0;
        *good = QuickUsbOpen(&h, name.data()) != 0;
        for (int i = 0; i < 300 && *good; ++i) {
            const uint8_t value = static_cast<uint8_t>(i * 3 + module);
            QBYTE w[] = {0x10, static_cast<QBYTE>(i & 0x3F), value}, r = 0;
            QWORD n = 1;
            *good = QuickUsbWriteI2C(h, 0x51, w, 3) && QuickUsbWriteI2C(h, 0x51, w, 2) &&
                    QuickUsbReadI2C(h, 0x51, &r, &n) && n == 1 && r == value;
        }
    };
    bool good0 = false, good1 = false;
    std::thread t0(worker, 0, &good0), t1(worker, 1, &good1);
    t0.join();
    t1.join();
    EXPECT_TRUE(good0 && good1);
    EXPECT_EQ(vsensor::i2cLog().size(), 2u * 300u * 3u);
    vsensor::reset();
}

}  // namespace
