// Module discovery, open and close, descriptors, settings and the other module calls.
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "vsensorfixture.h"

namespace {

constexpr char kGuard = '#';

// A buffer of `length` usable bytes followed by guard bytes that must stay untouched.
struct GuardedBuffer {
    explicit GuardedBuffer(size_t length) : bytes(length + 16, kGuard), length(length) {}
    char* data() { return bytes.data(); }
    bool guardIntact() const {
        for (size_t i = length; i < bytes.size(); ++i) {
            if (bytes[i] != kGuard)
                return false;
        }
        return true;
    }
    std::string raw(size_t n) const { return std::string(bytes.data(), n); }
    std::vector<char> bytes;
    size_t length;
};

struct ListCase {
    int modules;
    QULONG length;
    bool ok;
    std::string expected;  // the bytes at the start of the buffer, NULs included
};

class ModuleListCases : public ::testing::TestWithParam<ListCase> {
protected:
    void SetUp() override { resetWithCleanEnvironment(); }
    void TearDown() override { vsensor::reset(); }
};

TEST_P(ModuleListCases, NamesEndWithAnEmptyNameAndStayInsideTheBuffer) {
    const ListCase& c = GetParam();
    vsensor::setModuleCount(c.modules);
    GuardedBuffer buf(c.length);
    EXPECT_EQ(QuickUsbFindModules(buf.data(), c.length) != 0, c.ok);
    EXPECT_EQ(buf.raw(c.expected.size()), c.expected);
    EXPECT_TRUE(buf.guardIntact());
    if (!c.ok) {
        QULONG e = 0;
        QuickUsbGetLastError(&e);
        EXPECT_EQ(e, vsensor::kErrorBufferTooSmall);
    }
}

using namespace std::string_literals;
INSTANTIATE_TEST_SUITE_P(
    Vsensor, ModuleListCases,
    ::testing::Values(ListCase{1, 128, true, "QUSB-0\0\0"s},
                      ListCase{1, 8, true, "QUSB-0\0\0"s},  // exactly fits
                      ListCase{1, 7, false, "\0"s},         // one byte short: empty list
                      ListCase{0, 128, true, "\0"s}, ListCase{0, 1, true, "\0"s},
                      ListCase{3, 128, true, "QUSB-0\0QUSB-1\0QUSB-2\0\0"s},
                      ListCase{3, 15, false, "QUSB-0\0QUSB-1\0\0"s},  // whole names only
                      ListCase{12, 128, true,
                               "QUSB-0\0QUSB-1\0QUSB-2\0QUSB-3\0QUSB-4\0QUSB-5\0"
                               "QUSB-6\0QUSB-7\0QUSB-8\0QUSB-9\0QUSB-10\0"
                               "QUSB-11\0\0"s}));

TEST(VsensorModules, ZeroLengthListIsRefused) {
    resetWithCleanEnvironment();
    char c = kGuard;
    EXPECT_EQ(QuickUsbFindModules(&c, 0), 0);
    EXPECT_EQ(c, kGuard);
    EXPECT_EQ(QuickUsbFindModules(nullptr, 16), 0);
}

TEST(VsensorModules, OpenAndCloseRules) {
    resetWithCleanEnvironment();
    vsensor::setModuleCount(2);
    char n0[] = "QUSB-0", n1[] = "QUSB-1", n2[] = "QUSB-2", partial[] = "QUSB";
    QHANDLE a = 0, b = 0, again = 0;
    ASSERT_NE(QuickUsbOpen(&a, n0), 0);
    EXPECT_NE(a, 0);
    EXPECT_EQ(QuickUsbOpen(&again, n0), 0);  // already open
    QULONG e = 0;
    QuickUsbGetLastError(&e);
    EXPECT_EQ(e, vsensor::kErrorAlreadyOpen);
    ASSERT_NE(QuickUsbOpen(&b, n1), 0);
    EXPECT_NE(b, a);
    for (char* name : {n2, partial}) {
        EXPECT_EQ(QuickUsbOpen(&again, name), 0);
        QuickUsbGetLastError(&e);
        EXPECT_EQ(e, vsensor::kErrorNoSuchModule);
    }
    EXPECT_EQ(QuickUsbOpen(nullptr, n0), 0);

    ASSERT_NE(QuickUsbClose(a), 0);
    EXPECT_EQ(QuickUsbClose(a), 0);  // closed already
    QuickUsbGetLastError(&e);
    EXPECT_EQ(e, vsensor::kErrorInvalidHandle);
    EXPECT_EQ(QuickUsbClose(0), 0);
    EXPECT_EQ(QuickUsbClose(12345), 0);

    // Reopening gives a new handle; the old one stays dead.
    ASSERT_NE(QuickUsbOpen(&again, n0), 0);
    EXPECT_NE(again, a);
    QWORD v = 0;
    EXPECT_EQ(QuickUsbReadSetting(a, 1, &v), 0);
    EXPECT_NE(QuickUsbReadSetting(again, 1, &v), 0);

    // reset() closes everything.
    vsensor::reset();
    EXPECT_EQ(QuickUsbClose(again), 0);
}

// Every call taking a handle fails on one that is not open and says so in the last error.
TEST(VsensorModules, CallsOnInvalidHandlesFail) {
    resetWithCleanEnvironment();
    char n0[] = "QUSB-0";
    QHANDLE closed = 0;
    ASSERT_NE(QuickUsbOpen(&closed, n0), 0);
    ASSERT_NE(QuickUsbClose(closed), 0);
    QBYTE data[64] = {0x20, 0x00};
    char text[128];
    QWORD w = 64;
    QULONG ul = 64;
    const std::vector<std::pair<const char*, std::function<QRETURN(QHANDLE)>>> calls = {
        {"GetStringDescriptor",
         [&](QHANDLE h) { return QuickUsbGetStringDescriptor(h, 1, text, 128); }},
        {"ReadSetting", [&](QHANDLE h) { return QuickUsbReadSetting(h, 17, &w); }},
        {"WriteSetting", [&](QHANDLE h) { return QuickUsbWriteSetting(h, 1, 1); }},
        {"StartFpgaConfiguration", [&](QHANDLE h) { return QuickUsbStartFpgaConfiguration(h); }},
        {"WriteFpgaData", [&](QHANDLE h) { return QuickUsbWriteFpgaData(h, data, 64); }},
        {"IsFpgaConfigured", [&](QHANDLE h) { return QuickUsbIsFpgaConfigured(h, &w); }},
        {"WriteData", [&](QHANDLE h) { return QuickUsbWriteData(h, data, 64); }},
        {"ReadData", [&](QHANDLE h) { return QuickUsbReadData(h, data, &ul); }},
        {"WriteI2C", [&](QHANDLE h) { return QuickUsbWriteI2C(h, 0x51, data, 2); }},
        {"ReadI2C", [&](QHANDLE h) { return QuickUsbReadI2C(h, 0x51, data, &w); }},
        {"SetRS232BaudRate", [&](QHANDLE h) { return QuickUsbSetRS232BaudRate(h, 9600); }},
        {"GetNumRS232", [&](QHANDLE h) { return QuickUsbGetNumRS232(h, 0, &w); }},
        {"FlushRS232", [&](QHANDLE h) { return QuickUsbFlushRS232(h, 0); }},
        {"ReadRS232", [&](QHANDLE h) { return QuickUsbReadRS232(h, 0, data, &w); }},
        {"WriteRS232", [&](QHANDLE h) { return QuickUsbWriteRS232(h, 0, data, 1); }},
    };
    for (QHANDLE h : {QHANDLE{0}, closed, QHANDLE{-1}, QHANDLE{999}}) {
        for (const auto& [name, call] : calls) {
            SCOPED_TRACE(std::string(name) + " on handle " + std::to_string(h));
            EXPECT_EQ(call(h), 0);
            QULONG e = 0;
            ASSERT_NE(QuickUsbGetLastError(&e), 0);
            EXPECT_EQ(e, vsensor::kErrorInvalidHandle);
        }
    }
    EXPECT_TRUE(vsensor::i2cLog().empty());  // nothing reached the bus
}

struct DescriptorCase {
    QBYTE index;
    QWORD length;
    std::string expected;
};

class DescriptorCases : public VsensorTest, public ::testing::WithParamInterface<DescriptorCase> {};

TEST_P(DescriptorCases, TextIsTerminatedInsideTheBuffer) {
    const DescriptorCase& c = GetParam();
    GuardedBuffer buf(c.length);
    ASSERT_NE(QuickUsbGetStringDescriptor(handle, c.index, buf.data(), c.length), 0);
    EXPECT_EQ(buf.raw(c.expected.size() + 1), c.expected + '\0');
    EXPECT_TRUE(buf.guardIntact());
}

INSTANTIATE_TEST_SUITE_P(
    Vsensor, DescriptorCases,
    ::testing::Values(DescriptorCase{1, 128, "Virtual Sensor"},
                      DescriptorCase{1, 15, "Virtual Sensor"},
                      DescriptorCase{1, 14, "Virtual Senso"}, DescriptorCase{1, 8, "Virtual"},
                      DescriptorCase{1, 1, ""}, DescriptorCase{2, 128, vsensor::kModel},
                      DescriptorCase{2, 9, "QuickUSB"}, DescriptorCase{3, 128, "VS000000"},
                      DescriptorCase{3, 3, "VS"}));

TEST_F(VsensorTest, BadDescriptorRequestsFail) {
    char text[128];
    for (QBYTE index : {0, 4, 255}) {
        EXPECT_EQ(QuickUsbGetStringDescriptor(handle, index, text, sizeof text), 0);
        EXPECT_EQ(lastError(), vsensor::kErrorInvalidParameter);
    }
    char guard = kGuard;
    EXPECT_EQ(QuickUsbGetStringDescriptor(handle, 1, &guard, 0), 0);
    EXPECT_EQ(guard, kGuard);
}

TEST_F(VsensorTest, SecondModuleHasItsOwnSerial) {
    vsensor::setModuleCount(2);
    char n1[] = "QUSB-1";
    QHANDLE h = 0;
    ASSERT_NE(QuickUsbOpen(&h, n1), 0);
    char text[128];
    ASSERT_NE(QuickUsbGetStringDescriptor(h, 3, text, sizeof text), 0);
    EXPECT_STREQ(text, "VS000001");
}

// Setting 17: bit 7 = high speed, bits 8-15 = revision code 1.
TEST_F(VsensorTest, ChipSettingReportsSpeedAndRevision) {
    QWORD v = 0;
    ASSERT_NE(QuickUsbReadSetting(handle, 17, &v), 0);
    EXPECT_EQ(v, 0x0180);
    vsensor::setHighSpeed(false);
    ASSERT_NE(QuickUsbReadSetting(handle, 17, &v), 0);
    EXPECT_EQ(v, 0x0100);
    EXPECT_EQ(QuickUsbWriteSetting(handle, 17, 0), 0);  // read-only
    ASSERT_NE(QuickUsbReadSetting(handle, 17, &v), 0);
    EXPECT_EQ(v, 0x0100);
}

TEST_F(VsensorTest, WrittenSettingsReadBack) {
    const struct { QWORD address, value; } writes[] = {{1, 1}, {3, 0xFA}, {4, 0}, {4, 0x1234}};
    for (const auto& s : writes) {
        ASSERT_NE(QuickUsbWriteSetting(handle, s.address, s.value), 0);
        QWORD v = 0xFFFF;
        ASSERT_NE(QuickUsbReadSetting(handle, s.address, &v), 0);
        EXPECT_EQ(v, s.value);
    }
    QWORD v = 0;
    EXPECT_EQ(QuickUsbReadSetting(handle, vsensor::kSettingCount, &v), 0);
    EXPECT_EQ(QuickUsbWriteSetting(handle, vsensor::kSettingCount, 1), 0);
    EXPECT_EQ(QuickUsbReadSetting(handle, 1, nullptr), 0);
    // A reopened module keeps its settings until reset.
    ASSERT_NE(QuickUsbClose(handle), 0);
    char n0[] = "QUSB-0";
    ASSERT_NE(QuickUsbOpen(&handle, n0), 0);
    ASSERT_NE(QuickUsbReadSetting(handle, 3, &v), 0);
    EXPECT_EQ(v, 0xFA);
}

TEST(VsensorModules, VersionsNeedNoModule) {
    resetWithCleanEnvironment();
    QWORD major = 0, minor = 0, build = 0;
    ASSERT_NE(QuickUsbGetDriverVersion(&major, &minor, &build), 0);
    EXPECT_EQ(major, vsensor::kDriverVersion[0]);
    EXPECT_EQ(minor, vsensor::kDriverVersion[1]);
    EXPECT_EQ(build, vsensor::kDriverVersion[2]);
    ASSERT_NE(QuickUsbGetDllVersion(&major, &minor, &build), 0);
    EXPECT_EQ(major, vsensor::kDllVersion[0]);
    EXPECT_EQ(minor, vsensor::kDllVersion[1]);
    EXPECT_EQ(build, vsensor::kDllVersion[2]);
    EXPECT_EQ(QuickUsbGetDllVersion(nullptr, &minor, &build), 0);
    EXPECT_EQ(QuickUsbGetLastError(nullptr), 0);
}

TEST_F(VsensorTest, FpgaReportsConfiguredOnlyAfterABitStream) {
    QWORD configured = 1;
    ASSERT_NE(QuickUsbIsFpgaConfigured(handle, &configured), 0);
    EXPECT_EQ(configured, 0);
    QBYTE chunk[65] = {};
    EXPECT_EQ(QuickUsbWriteFpgaData(handle, chunk, 64), 0);  // no configuration started
    EXPECT_EQ(lastError(), vsensor::kErrorNotConfigured);
    ASSERT_NE(QuickUsbStartFpgaConfiguration(handle), 0);
    ASSERT_NE(QuickUsbIsFpgaConfigured(handle, &configured), 0);
    EXPECT_EQ(configured, 0);
    EXPECT_EQ(QuickUsbWriteFpgaData(handle, chunk, 65), 0);  // chunks are at most 64 bytes
    ASSERT_NE(QuickUsbWriteFpgaData(handle, chunk, 64), 0);
    ASSERT_NE(QuickUsbWriteFpgaData(handle, chunk, 3), 0);
    ASSERT_NE(QuickUsbIsFpgaConfigured(handle, &configured), 0);
    EXPECT_EQ(configured, 0);  // bytes, but no firmware image (boardtest.cpp has those)
}

TEST_F(VsensorTest, Rs232PortsLoopBack) {
    QBYTE out[] = {'a', 'b', 'c'};
    ASSERT_NE(QuickUsbSetRS232BaudRate(handle, 115200), 0);
    EXPECT_EQ(QuickUsbSetRS232BaudRate(handle, 0), 0);
    ASSERT_NE(QuickUsbWriteRS232(handle, 1, out, 3), 0);
    QWORD count = 0;
    ASSERT_NE(QuickUsbGetNumRS232(handle, 1, &count), 0);
    EXPECT_EQ(count, 3);
    ASSERT_NE(QuickUsbGetNumRS232(handle, 0, &count), 0);
    EXPECT_EQ(count, 0);
    QBYTE in[8] = {};
    QWORD length = 2;
    ASSERT_NE(QuickUsbReadRS232(handle, 1, in, &length), 0);
    EXPECT_EQ(length, 2);
    EXPECT_EQ(std::string(in, in + 2), "ab");
    ASSERT_NE(QuickUsbFlushRS232(handle, 1), 0);
    length = 8;
    ASSERT_NE(QuickUsbReadRS232(handle, 1, in, &length), 0);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(QuickUsbWriteRS232(handle, vsensor::kRs232Ports, out, 1), 0);
}

TEST(VsensorModules, ModuleCountFromEnvironment) {
    const struct {
        const char* value;
        int expected;
    } cases[] = {{"3", 3}, {"0", 0}, {"16", 16}, {"17", 1}, {"-1", 1}, {"two", 1}, {"2x", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        setenv("TOLMAR_VSENSOR_MODULES", c.value, 1);
        vsensor::reset();
        EXPECT_EQ(vsensor::moduleCount(), c.expected);
    }
    resetWithCleanEnvironment();
    EXPECT_EQ(vsensor::moduleCount(), 1);
}

// Two threads hammering their own modules: the shared state stays consistent.
TEST(VsensorModules, ConcurrentModulesKeepTheirData) {
    resetWithCleanEnvironment();
    vsensor::setModuleCount(2);
    auto worker = [](int module, bool* good) {
        std::string name = "QUSB-" + std::to_string(module);
        QHANDLE h = 0;
        *good = QuickUsbOpen(&h, name.data()) != 0;
        for (int i = 0; i < 300 && *good; ++i) {
            const uint8_t value = static_cast<uint8_t>(i * 3 + module);
            QBYTE w[] = {0x10, static_cast<QBYTE>(i & 0x3F), value};
            QBYTE a[] = {0x10, static_cast<QBYTE>(i & 0x3F)};
            QBYTE r = 0;
            QWORD n = 1;
            *good = QuickUsbWriteI2C(h, 0x51, w, 3) && QuickUsbWriteI2C(h, 0x51, a, 2) &&
                    QuickUsbReadI2C(h, 0x51, &r, &n) && n == 1 && r == value;
            QWORD s = 0;
            *good = *good && QuickUsbReadSetting(h, 17, &s) && s == 0x0180;
        }
        *good = *good && QuickUsbClose(h);
    };
    bool good0 = false, good1 = false;
    std::thread t0(worker, 0, &good0);
    std::thread t1(worker, 1, &good1);
    t0.join();
    t1.join();
    EXPECT_TRUE(good0);
    EXPECT_TRUE(good1);
    EXPECT_EQ(vsensor::i2cLog().size(), 2u * 300u * 3u);
}

}  // namespace
