// The link layer: backend choice from the environment, the run-time loader, the most recently
// opened module and the I2C pause. The calls through either backend are exercised by the
// connection tests, which run on both.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Platform.h"
#include "UsbLink.h"
#include "tolmar2/MsgLogger.h"
#include "vsensor/VirtualSensor.h"

namespace {

namespace link = tolmar2::link;

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        MsgLogger::setMode(0);  // stderr only; no log files from these tests
        unsetenv("TOLMAR_VSENSOR_MODULES");
        unsetenv("TOLMAR_VSENSOR_PROFILE");
        unsetenv("TOLMAR_VSENSOR_FAULTS");
        vsensor::reset();
    }
    void TearDown() override {
        unsetenv("TOLMAR_LINK");
        unsetenv("TOLMAR_QUICKUSB_LIBRARY");
        link::reselect();
        vsensor::reset();
    }

    static bool select(const char* linkType, const char* library) {
        setenv("TOLMAR_LINK", linkType, 1);
        if (library) {
            setenv("TOLMAR_QUICKUSB_LIBRARY", library, 1);
        } else {
            unsetenv("TOLMAR_QUICKUSB_LIBRARY");
        }
        return link::reselect();
    }

    static QHANDLE openModule(const char* name) {
        std::string n = name;
        QHANDLE h = 0;
        EXPECT_NE(link::call::QuickUsbOpen(&h, n.data()), 0) << name;
        return h;
    }
};

TEST_F(LinkTest, LoaderFillsEveryCall) {
    link::Backend b;
    std::string error;
    ASSERT_TRUE(link::loadLibrary(VSENSOR_LIBRARY_PATH, b, error)) << error;
#define EXPECT_RESOLVED(name, params, args) EXPECT_NE(b.name, nullptr) << #name;
    QUICKUSB_API_CALLS(EXPECT_RESOLVED)
#undef EXPECT_RESOLVED
}

TEST_F(LinkTest, LibraryMissingACallIsRefusedByName) {
    link::Backend b;
    std::string error;
    EXPECT_FALSE(link::loadLibrary(INCOMPLETE_LIBRARY_PATH, b, error));
    EXPECT_NE(error.find("QuickUsbReadI2C"), std::string::npos) << error;
    EXPECT_EQ(b.QuickUsbOpen, nullptr);  // nothing half-loaded
}

// The choice, what it says about itself, and whether a module can be found through it. Only
// "auto" may fall back to the virtual sensor, and then it warns and gives the loader's reason;
// the vendor backend asked for explicitly gives no link at all when its library cannot be used:
// no virtual sensor stands in for the electronics.
TEST_F(LinkTest, ModeSelectionTable) {
    const std::string missing = "/nonexistent/libquickusb.so";
    const struct {
        const char* linkType;
        std::string library;
        bool ok;
        link::Kind kind;
        const char* name;
        std::string reason;  // part of reason(); empty: reason() is empty
        const char* logged;  // part of the log line
    } cases[] = {
        {"auto", VSENSOR_LIBRARY_PATH, true, link::Kind::Vendor, "vendor", "", "QuickUSB library"},
        {"auto", missing, true, link::Kind::Virtual, "virtual",
         "no vendor library found (cannot load " + missing + ": ", "WARNING"},
        {"auto", INCOMPLETE_LIBRARY_PATH, true, link::Kind::Virtual, "virtual",
         "does not export QuickUsbReadI2C", "WARNING"},
        {"vendor", missing, false, link::Kind::None, "none",
         "cannot load " + missing + ": " + missing + ": cannot open shared object file",
         "TOLMAR_LINK=vendor"},
        {"vendor", INCOMPLETE_LIBRARY_PATH, false, link::Kind::None, "none", "QuickUsbReadI2C",
         "QuickUsbReadI2C"},
        {"virtual", VSENSOR_LIBRARY_PATH, true, link::Kind::Virtual, "virtual",
         "TOLMAR_LINK=virtual", "simulated data"},
        {"Virtual", VSENSOR_LIBRARY_PATH, false, link::Kind::None, "none",
         "unknown TOLMAR_LINK value \"Virtual\"", "no link"},
        {"usb", VSENSOR_LIBRARY_PATH, false, link::Kind::None, "none", "\"usb\"", "no link"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.linkType) + " " + c.library);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(select(c.linkType, c.library.c_str()), c.ok);
        const std::string log = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find(c.logged), std::string::npos) << log;
        EXPECT_EQ(link::kind(), c.kind);
        EXPECT_STREQ(link::kindName(), c.name);
        if (c.reason.empty()) {
            EXPECT_EQ(link::reason(), "");
        } else {
            EXPECT_NE(link::reason().find(c.reason), std::string::npos) << link::reason();
        }
        char names[16] = {};
        QWORD version[3] = {};
        const bool linked = c.kind != link::Kind::None;
        EXPECT_EQ(link::call::QuickUsbFindModules(names, sizeof names) != 0, linked);
        EXPECT_EQ(link::call::QuickUsbGetDllVersion(&version[0], &version[1], &version[2]) != 0,
                  linked);
    }
    // Unset means auto; the default library name is not on this machine.
    unsetenv("TOLMAR_LINK");
    unsetenv("TOLMAR_QUICKUSB_LIBRARY");
    EXPECT_TRUE(link::reselect());
    EXPECT_EQ(link::kind(), link::Kind::Virtual);
    EXPECT_NE(link::reason().find("libquickusb.so"), std::string::npos) << link::reason();
}

TEST_F(LinkTest, LastOpenedFollowsOpenAndClose) {
    ASSERT_TRUE(select("virtual", nullptr));
    vsensor::setModuleCount(2);
    EXPECT_EQ(link::lastOpened(), 0);
    const QHANDLE a = openModule("QUSB-0");
    EXPECT_EQ(link::lastOpened(), a);
    const QHANDLE b = openModule("QUSB-1");
    EXPECT_EQ(link::lastOpened(), b);
    ASSERT_NE(link::call::QuickUsbClose(a), 0);  // another module: b stays the last opened
    EXPECT_EQ(link::lastOpened(), b);
    ASSERT_NE(link::call::QuickUsbClose(b), 0);
    EXPECT_EQ(link::lastOpened(), 0);

    QHANDLE failed = 0;
    char unknown[] = "QUSB-7";
    EXPECT_EQ(link::call::QuickUsbOpen(&failed, unknown), 0);  // a failed open records nothing
    EXPECT_EQ(link::lastOpened(), 0);

    const QHANDLE c = openModule("QUSB-1");
    link::closeLastOpened();
    EXPECT_EQ(link::lastOpened(), 0);
    EXPECT_EQ(link::call::QuickUsbClose(c), 0);  // closed by closeLastOpened
    const QHANDLE again = openModule("QUSB-1");  // and free to open again
    EXPECT_NE(again, 0);
    link::closeLastOpened();
    link::closeLastOpened();  // nothing left: no effect
    EXPECT_EQ(link::lastOpened(), 0);
}

std::vector<unsigned> sleeps;
void recordSleep(unsigned ms) {
    sleeps.push_back(ms);
}

TEST_F(LinkTest, I2cPauseGoesThroughTheSleepFunction) {
    const auto previous = tolmar2::platform::setSleepFunction(&recordSleep);
    const std::chrono::milliseconds initial = link::i2cPause();
    EXPECT_EQ(initial.count(), 10);
    sleeps.clear();
    link::pauseAfterI2c();
    link::setI2cPause(std::chrono::milliseconds(3));
    EXPECT_EQ(link::i2cPause().count(), 3);
    link::pauseAfterI2c();
    link::setI2cPause(std::chrono::milliseconds(0));
    link::pauseAfterI2c();  // no pause at all
    EXPECT_EQ(sleeps, (std::vector<unsigned>{10, 3}));
    link::setI2cPause(initial);
    tolmar2::platform::setSleepFunction(previous);
}

}  // namespace
