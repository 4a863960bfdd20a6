// Scheduled I2C faults: which transfers they hit and how the text form is read.
#include <cstdlib>
#include <string>

#include "vsensorfixture.h"

namespace {

using vsensor::Fault;

// Runs `count` transfers of one direction and returns a pattern: '.' good, 'F' failed,
// 's' short read.
std::string runTransfers(QHANDLE handle, bool write, int count) {
    std::string pattern;
    for (int i = 0; i < count; ++i) {
        if (write) {
            QBYTE w[] = {0x00, 0x00, 0x42};
            pattern += QuickUsbWriteI2C(handle, 0x51, w, 3) ? '.' : 'F';
        } else {
            QBYTE r[8];
            QWORD n = 8;
            if (!QuickUsbReadI2C(handle, 0x51, r, &n)) {
                pattern += n == 0 ? 'F' : '?';
            } else {
                pattern += n == 8 ? '.' : (n == 4 ? 's' : '?');
            }
        }
    }
    return pattern;
}

struct FaultCase {
    std::string text;  // scheduled through the text form
    std::string writes;
    std::string reads;
};

class FaultCases : public VsensorTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultCases, HitTheCountedTransfers) {
    const FaultCase& c = GetParam();
    ASSERT_TRUE(vsensor::scheduleFaults(c.text));
    // Interleave the directions: each fault counts only its own direction.
    std::string writes, reads;
    for (size_t i = 0; i < c.writes.size(); ++i) {
        writes += runTransfers(handle, true, 1);
        reads += runTransfers(handle, false, 1);
    }
    EXPECT_EQ(writes, c.writes);
    EXPECT_EQ(reads, c.reads);
}

INSTANTIATE_TEST_SUITE_P(
    Vsensor, FaultCases,
    ::testing::Values(FaultCase{"", "......", "......"},
                      FaultCase{"i2c-write-fail@1", "F.....", "......"},
                      FaultCase{"i2c-write-fail@3x2", "..FF..", "......"},
                      FaultCase{"i2c-read-fail@2", "......", ".F...."},
                      FaultCase{"i2c-short-read@1x3", "......", "sss..."},
                      FaultCase{"i2c-short-read@2x3,i2c-read-fail@3", "......", ".sFs.."},
                      FaultCase{"i2c-write-fail@2,i2c-write-fail@4x2,i2c-read-fail@6", ".F.FF.",
                                ".....F"}));

TEST_F(VsensorTest, ControlApiFaultsCountFromScheduling) {
    EXPECT_EQ(runTransfers(handle, true, 3), "...");
    vsensor::scheduleFault(Fault::I2cWriteFail, 2, 2);
    vsensor::scheduleFault(Fault::I2cReadFail, 1);
    EXPECT_EQ(runTransfers(handle, true, 4), ".FF.");
    EXPECT_EQ(lastError(), vsensor::kErrorI2cNoAcknowledge);  // kept past the good write
    EXPECT_EQ(runTransfers(handle, false, 2), "F.");
    vsensor::scheduleFault(Fault::I2cShortRead, 1, 5);
    vsensor::clearFaults();
    EXPECT_EQ(runTransfers(handle, false, 2), "..");
    // Nonsense counts schedule nothing.
    vsensor::scheduleFault(Fault::I2cWriteFail, 0);
    vsensor::scheduleFault(Fault::I2cWriteFail, 1, 0);
    EXPECT_EQ(runTransfers(handle, true, 2), "..");
}

TEST_F(VsensorTest, FailedTransfersChangeNothing) {
    ASSERT_TRUE(busWrite({0x30, 0x00, 0x01, 0x02}));
    ASSERT_TRUE(busWrite({0x30, 0x00}));
    vsensor::scheduleFault(Fault::I2cWriteFail, 1);
    EXPECT_FALSE(busWrite({0x30, 0x00, 0xEE, 0xEE}));
    EXPECT_EQ(lastError(), vsensor::kErrorI2cNoAcknowledge);
    vsensor::scheduleFault(Fault::I2cReadFail, 1);
    bool ok = true;
    EXPECT_TRUE(busRead(2, vsensor::kI2cDevice, &ok).empty());
    EXPECT_FALSE(ok);
    EXPECT_EQ(lastError(), vsensor::kErrorTransferFailed);
    // Neither the failed write nor the failed read moved the pointer or the data.
    EXPECT_EQ(busRead(2), (std::vector<uint8_t>{0x01, 0x02}));
}

TEST_F(VsensorTest, ShortReadAdvancesByTheBytesReturned) {
    ASSERT_TRUE(busWrite({0x30, 0x00, 1, 2, 3, 4, 5, 6}));
    ASSERT_TRUE(busWrite({0x30, 0x00}));
    vsensor::scheduleFault(Fault::I2cShortRead, 1);
    EXPECT_EQ(busRead(5), (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(busRead(4), (std::vector<uint8_t>{3, 4, 5, 6}));
}

TEST_F(VsensorTest, BadFaultTextsScheduleNothing) {
    for (const char* text :
         {"i2c-write-fail", "i2c-write-fail@", "i2c-write-fail@0", "i2c-write-fail@-1",
          "i2c-write-fail@1x0", "i2c-write-fail@1x", "i2c-write-fail@1y2", "bogus@1", "@1",
          "i2c-write-fail@1,", ",i2c-write-fail@1", "i2c-write-fail@1,,i2c-read-fail@1",
          "I2C-WRITE-FAIL@1", "i2c-write-fail@ 1", "i2c-read-fail@2,nonsense"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(vsensor::scheduleFaults(text));
        EXPECT_EQ(runTransfers(handle, true, 3), "...");
        EXPECT_EQ(runTransfers(handle, false, 3), "...");
    }
}

TEST(VsensorFaultEnvironment, FaultsComeFromTheEnvironmentOnReset) {
    setenv("TOLMAR_VSENSOR_FAULTS", "i2c-read-fail@2", 1);
    vsensor::reset();
    QHANDLE h = 0;
    char n0[] = "QUSB-0";
    ASSERT_NE(QuickUsbOpen(&h, n0), 0);
    EXPECT_EQ(runTransfers(h, false, 3), ".F.");
    resetWithCleanEnvironment();
}

TEST(VsensorFaultEnvironment, BadTextIsReportedOnceAndIgnored) {
    const std::string text = "i2c-read-fail@two-report-once";
    setenv("TOLMAR_VSENSOR_FAULTS", text.c_str(), 1);
    ::testing::internal::CaptureStderr();
    vsensor::reset();
    vsensor::reset();
    const std::string err = ::testing::internal::GetCapturedStderr();
    const size_t first = err.find(text);
    ASSERT_NE(first, std::string::npos) << err;
    EXPECT_EQ(err.find(text, first + 1), std::string::npos) << err;
    QHANDLE h = 0;
    char n0[] = "QUSB-0";
    ASSERT_NE(QuickUsbOpen(&h, n0), 0);
    EXPECT_EQ(runTransfers(h, false, 3), "...");
    resetWithCleanEnvironment();
}

}  // namespace
