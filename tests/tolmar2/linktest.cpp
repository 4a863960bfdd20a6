// The link layer: backend choice from the environment and the run-time loader's symbol check.
// The calls through either backend are exercised by the connection tests, which run on both.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "UsbLink.h"
#include "tolmar2/MsgLogger.h"

namespace {

namespace link = tolmar2::link;

// The choice, what it says about itself, and whether a module can be found through it. Only
// "auto" may fall back to the virtual sensor, and then it warns and gives the loader's reason;
// the vendor backend asked for explicitly gives no link at all when its library cannot be used:
// no virtual sensor stands in for the electronics. A library missing one call is refused by name.
TEST(Link, ModeSelectionTable) {
    MsgLogger::setMode(0);  // stderr only; no log files from this test
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
        {"vendor", missing, false, link::Kind::None, "none",
         "cannot load " + missing + ": " + missing + ": cannot open shared object file",
         "TOLMAR_LINK=vendor"},
        {"vendor", INCOMPLETE_LIBRARY_PATH, false, link::Kind::None, "none",
         "does not export QuickUsbReadI2C", "QuickUsbReadI2C"},
        {"virtual", VSENSOR_LIBRARY_PATH, true, link::Kind::Virtual, "virtual",
         "TOLMAR_LINK=virtual", "simulated data"},
        {"Virtual", VSENSOR_LIBRARY_PATH, false, link::Kind::None, "none",
         "unknown TOLMAR_LINK value \"Virtual\"", "no link"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.linkType) + " " + c.library);
        setenv("TOLMAR_LINK", c.linkType, 1);
        setenv("TOLMAR_QUICKUSB_LIBRARY", c.library.c_str(), 1);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(link::reselect(), c.ok);
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
        EXPECT_EQ(link::call::QuickUsbFindModules(names, sizeof names) != 0,
                  c.kind != link::Kind::None);
    }
    // Unset means auto; the default library name is not on this machine. This also leaves the
    // link as the other tests expect it.
    unsetenv("TOLMAR_LINK");
    unsetenv("TOLMAR_QUICKUSB_LIBRARY");
    EXPECT_TRUE(link::reselect());
    EXPECT_EQ(link::kind(), link::Kind::Virtual);
    EXPECT_NE(link::reason().find("libquickusb.so"), std::string::npos) << link::reason();
}

}  // namespace
