// Connection against the virtual sensor's unit profiles, through the built-in backend and
// through the vendor backend loaded from the virtual sensor's own shared library. The board's
// independent decoding of the register block is the oracle for what the library sent.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Platform.h"
#include "UsbLink.h"
#include "quickusb/QuickUsbApi.h"
#include "tempdir.h"
#include "tolmar2/TolmarCntrl.h"
#include "vsensor/VirtualSensor.h"

namespace {

namespace fs = std::filesystem;
using vsensor::Fault;

void noSleep(unsigned) {}

// Whether the virtual module is held open by someone (an open attempt then reports it).
bool moduleIsOpen(std::string name) {
    QHANDLE h = 0;
    if (QuickUsbOpen(&h, name.data())) {
        QuickUsbClose(h);
        return false;
    }
    QULONG error = 0;
    QuickUsbGetLastError(&error);
    return error == vsensor::kErrorAlreadyOpen;
}

void putU32(uint16_t address, uint32_t value) {
    vsensor::writeMemory(address,
                         {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
}

void putSerial(const std::string& serial) {
    std::vector<uint8_t> bytes(serial.begin(), serial.end());
    bytes.resize(20, 0);
    vsensor::writeMemory(vsensor::kRecordAddress + 8, bytes);
}

std::string firmwareFile(const std::string& name) {
    return std::string(FIRMWARE_SOURCE_DIR) + "/" + name;
}

// The parameter: through the vendor backend.
class ConnectionTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        setenv("TOLMAR_FIRMWARE_DIR", FIRMWARE_SOURCE_DIR, 1);
        setenv("TOLMAR_LINK", GetParam() ? "vendor" : "virtual", 1);
        setenv("TOLMAR_QUICKUSB_LIBRARY", VSENSOR_LIBRARY, 1);
        ASSERT_TRUE(tolmar2::link::reselect());
        ASSERT_EQ(tolmar2::link::kind(),
                  GetParam() ? tolmar2::link::Kind::Vendor : tolmar2::link::Kind::Virtual);
        tolmar2::platform::setSleepFunction(&noSleep);
        tolmar2::link::setI2cPause(std::chrono::milliseconds(0));
        vsensor::reset();
        dir_ = std::make_unique<TempDir>(true);  // the log and any local firmware live here
        cntrl_ = std::make_unique<TolmarCntrl>();
    }

    void TearDown() override {
        cntrl_.reset();
        dir_.reset();
        vsensor::reset();
        tolmar2::platform::setSleepFunction(nullptr);
    }

    std::string log() const { return readWholeFile("tarvo.log"); }
    bool logged(const std::string& text) const { return log().find(text) != std::string::npos; }

    // A failed connection leaves nothing open and the identity reset; each line of `lines` is
    // in the log.
    void expectCleanFailure(int result, const std::string& lines) {
        EXPECT_EQ(result, 0);
        EXPECT_FALSE(cntrl_->connected);
        EXPECT_EQ(cntrl_->qusbHandle, 0);
        EXPECT_STREQ(cntrl_->qDevName, "-");
        EXPECT_STREQ(cntrl_->devName, "-");
        EXPECT_FALSE(moduleIsOpen("QUSB-0"));
        for (size_t at = 0, end; (end = lines.find('\n', at)) != std::string::npos; at = end + 1)
            EXPECT_TRUE(logged(lines.substr(at, end + 1 - at))) << log();
    }

    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<TolmarCntrl> cntrl_;
};

// ---- firmware choice and the initial block ----

TEST_P(ConnectionTest, EachProfileGetsItsFirmwareAndTheDefaultBlock) {
    const struct {
        const char* profile;
        int64_t options;  // written over the record's options when not negative
        const char* firmware;
        uint16_t firmwareId;
    } cases[] = {
        {"single", -1, "QM759.rbf", 0xAC59},
        {"disc13", -1, "QM759-plus-B.rbf", 0xACE2},
        {"disc13", 0x212, "QM759-PLUS.rbf", 0xACE1},  // extended board without channel enables
        {"ar", -1, "QM794-45.rbf", 0xACF1},
        {"single", 0x20A, "QM794-47.rbf", 0xACF3},  // 20 ADC values, scanned collector
    };
    const auto zeroCode = [](double offset) { return static_cast<uint16_t>(std::trunc(offset)); };
    for (const auto& pc : cases) {
        SCOPED_TRACE(std::string(pc.profile) + " -> " + pc.firmware);
        vsensor::reset();
        ASSERT_TRUE(vsensor::loadProfile(pc.profile));
        if (pc.options >= 0)
            putU32(vsensor::kRecordAddress + 28, static_cast<uint32_t>(pc.options));
        TolmarCntrl c;
        ASSERT_EQ(c.connectTo(false), 1);
        EXPECT_TRUE(logged("Fpga Firmware used :" + firmwareFile(pc.firmware) + "\n"));
        const vsensor::UnitProfile* p = vsensor::findProfile(pc.profile);
        EXPECT_EQ(vsensor::boardState().firmwareId, pc.firmwareId);
        // Idle codes are the integer part of the profile's calibration; the link test toggles
        // soft_adc an even number of times.
        const vsensor::BoardRegisters& r = vsensor::boardState().registers;
        EXPECT_EQ(r.v_a_def, zeroCode(p->cal_dac[0][0]) & 0xFFF);
        EXPECT_EQ(r.v_c_def, zeroCode(p->cal_dac[2][0]));
        EXPECT_FALSE(r.soft_adc || r.read_csr_md);
        EXPECT_EQ(r.hvps_en1 | r.hvps_en2, 0);
        std::remove("tarvo.log");
    }
}

TEST_P(ConnectionTest, InitialBlockCarriesBothFlagsAndFullSpeedSizesDiffer) {
    vsensor::setHighSpeed(false);
    ASSERT_EQ(cntrl_->connectTo(const_cast<char*>("QUSB-0"), false, false), 1);
    const vsensor::BoardState board = vsensor::boardState();
    EXPECT_EQ(board.blockWrites, 1u);  // no link test: the initial block only
    EXPECT_TRUE(board.initFlag && board.clearFifo);
    EXPECT_EQ(cntrl_->fifoWordsInBuffer, 65536);
    EXPECT_EQ(cntrl_->fifoReadBytes, 131072);
}

// An image in the working directory wins over the firmware directory, even that of another
// build; a damaged one ends the connection.
TEST_P(ConnectionTest, FirmwareInTheWorkingDirectoryWins) {
    fs::copy_file(firmwareFile("QM745.rbf"), "QM759.rbf");
    ASSERT_EQ(cntrl_->connectTo(false), 1);
    EXPECT_TRUE(logged("Fpga Firmware used :QM759.rbf\n"));
    EXPECT_EQ(cntrl_->fpgaFirmwareID, 0xAC45);
    EXPECT_EQ(cntrl_->disconnect(), 1);

    {
        std::fstream f("QM759.rbf", std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(100);
        f.put('\x5A');
    }
    vsensor::reset();
    expectCleanFailure(cntrl_->connectTo(false), "Failed to program FPGA\n");
    EXPECT_FALSE(vsensor::boardState().configured);
}

// ---- the record check ----

TEST_P(ConnectionTest, OpenAndRecordCheckMessages) {
    const struct {
        const char* name;
        std::function<void()> prepare;
        const char* message;  // nullptr: connects
    } cases[] = {
        {"no module", [] { vsensor::setModuleCount(0); }, "Cannot open device: QUSB-0\n"},
        {"blank memory", [] { vsensor::loadProfile("blank"); },
         "Device on USB is not initialized\n"},
        {"unknown format", [] { putU32(vsensor::kRecordAddress + 4, 5); },
         "Device on USB contains unknown memory format version\n"},
        {"other magic", [] { putU32(vsensor::kRecordAddress, 0x12345678); },
         "Device on USB is not recognized (0x12345678)\n"},
        {"serial not QM7", [] { putSerial("QX759-2403-017"); },
         "Device on USB (QX759-2403-017) is not compatible with driver\n"},
        {"serial exactly QM7", [] { putSerial("QM7"); }, nullptr},
    };
    for (const auto& rc : cases) {
        SCOPED_TRACE(rc.name);
        vsensor::reset();
        std::remove("tarvo.log");
        rc.prepare();
        const int result = cntrl_->connectTo(const_cast<char*>("QUSB-0"), false, true);
        if (!rc.message) {
            EXPECT_EQ(result, 1);
            continue;
        }
        expectCleanFailure(result, rc.message);
        EXPECT_FALSE(vsensor::boardState().configured);  // stopped before the firmware
    }
}

TEST_P(ConnectionTest, ForceConnectsABlankUnit) {
    vsensor::loadProfile("blank");
    EXPECT_EQ(cntrl_->connectTo(false), 0);
    EXPECT_TRUE(
        logged("Device \"QUSB-0\" connected to USB is not recognized as Tarvo compatible "
               "device.\n"));
    ASSERT_EQ(cntrl_->connectTo(true), 1);
    EXPECT_FALSE(cntrl_->recordLoaded);
    EXPECT_EQ(vsensor::boardState().firmwareId, 0xAC45);
}

TEST_P(ConnectionTest, DiscoveryPrefersTheFirstRecognisedModule) {
    vsensor::setModuleCount(3);
    vsensor::fillMemory(0xFF, 0);  // QUSB-0 blank, QUSB-1 and QUSB-2 recognised
    char* name = nullptr;
    bool recognized = false;
    ASSERT_TRUE(cntrl_->findTarvoDevice(name, recognized));
    EXPECT_STREQ(name, "QUSB-1");
    EXPECT_TRUE(recognized);
    EXPECT_FALSE(moduleIsOpen("QUSB-1"));
}

// ---- faults during a connection ----

TEST_P(ConnectionTest, TransferFaultsEndDisconnected) {
    const struct {
        const char* name;
        Fault fault;
        int nth, repeat;
        const char* messages;  // lines expected in the log; nullptr: connects
    } cases[] = {
        {"initial block", Fault::DataWriteFail, 1, 1,
         "Failed to writeFpgaConfigParameters(1, 1) usb err : (7)\n"
         "Failed to update initial Tolmar config parameters\n"},
        {"read-back mode on", Fault::DataWriteFail, 3, 1,
         "Failed to writeFpgaConfigParameters(false, false)\n"
         "Failed to read config data from FPGA\n"},
        {"transceiver stays busy", Fault::TransceiverBusy, 1, 1000000,
         "FPGA's serial trasceiver is permanently busy\n"},
        // Two busy read-backs after each toggle are normal; the link test waits them out.
        {"transceiver busy twice", Fault::TransceiverBusy, 2, 3, nullptr},
    };
    for (const auto& fc : cases) {
        SCOPED_TRACE(fc.name);
        vsensor::reset();
        std::remove("tarvo.log");
        vsensor::scheduleFault(fc.fault, fc.nth, fc.repeat);
        if (!fc.messages) {
            EXPECT_EQ(cntrl_->connectTo(false), 1);
            continue;
        }
        expectCleanFailure(cntrl_->connectTo(false), fc.messages);
        EXPECT_EQ(vsensor::boardState().registers.hvps_en1, 0);
    }
}

// The cable is pulled at every point of a connection in turn: each attempt fails cleanly until
// the pull comes after the connection completed.
TEST_P(ConnectionTest, UnplugAtEveryCallOfAConnection) {
    int pulls = 0;
    for (int nth = 1; nth < 10000; ++nth) {
        vsensor::reset();
        vsensor::scheduleFault(Fault::Unplug, nth);
        TolmarCntrl c;
        const int result = c.connectTo(false);
        if (result == 1)
            break;
        ++pulls;
        ASSERT_TRUE(result == 0 && !c.connected && c.qusbHandle == 0) << "pulled at call " << nth;
    }
    EXPECT_GT(pulls, 100);  // discovery, record, firmware, blocks: every step was hit
}

TEST_P(ConnectionTest, UnpluggedUnitFailsEveryCall) {
    ASSERT_EQ(cntrl_->connectTo(false), 1);
    vsensor::unplug();
    EXPECT_EQ(cntrl_->disconnect(), 0);
    EXPECT_TRUE(logged("Failed to turn off HVPS\n"));
    EXPECT_TRUE(logged("Failed to properly close QuickUSB connection to Tolmar\n"));
    EXPECT_EQ(cntrl_->qusbHandle, 0);
}

// Switching the board into read-back mode must not clear its FIFO, and the next write takes the
// board out of read-back mode again. Only a write that clears the FIFO marks the buffer consumed.
TEST_P(ConnectionTest, ReadBackKeepsTheFifo) {
    ASSERT_EQ(cntrl_->connectTo(false), 1);
    cntrl_->fifoReadPos = 5;
    ASSERT_TRUE(cntrl_->readFpgaConfigParameters());
    EXPECT_FALSE(vsensor::boardState().clearFifo);
    EXPECT_EQ(cntrl_->fifoReadPos, 5);
    ASSERT_TRUE(cntrl_->writeFpgaConfigParameters(false, false));
    EXPECT_FALSE(vsensor::boardState().registers.read_csr_md);
    EXPECT_EQ(cntrl_->fifoReadPos, 5);
    ASSERT_TRUE(cntrl_->writeFpgaConfigParameters(true, false));
    EXPECT_EQ(cntrl_->fifoReadPos, cntrl_->fifoWordsInBuffer);
    EXPECT_TRUE(vsensor::boardState().clearFifo);
}

// ---- high voltage, disconnection, destruction, module names ----

// High voltage on sets both enables to 7; a failed write ends the connection. Disconnecting
// switches off and resets the identity; the destructor switches off but leaves the module open.
TEST_P(ConnectionTest, HighVoltageDisconnectAndDestruction) {
    const auto enables = [] {  // both, as two digits
        const vsensor::BoardRegisters r = vsensor::boardState().registers;
        return r.hvps_en1 * 10 + r.hvps_en2 + (r.aux_sw1 || r.run_en ? 100 : 0);
    };
    ASSERT_EQ(cntrl_->connectTo(false), 1);
    ASSERT_TRUE(cntrl_->setHVPSEnabled(true));
    EXPECT_EQ(enables(), 77);
    ASSERT_TRUE(cntrl_->setHVPSEnabled(false));
    EXPECT_EQ(enables(), 0);
    cntrl_->aux_sw1 = true;
    ASSERT_TRUE(cntrl_->setHVPSEnabled(true));
    EXPECT_EQ(enables(), 177);
    EXPECT_EQ(cntrl_->disconnect(), 1);
    EXPECT_EQ(enables(), 0);  // aux_sw1 too
    EXPECT_FALSE(moduleIsOpen("QUSB-0"));
    EXPECT_FALSE(cntrl_->connected || cntrl_->recordLoaded);

    ASSERT_EQ(cntrl_->connectTo(false), 1);
    vsensor::scheduleFault(Fault::DataWriteFail, 1);
    EXPECT_FALSE(cntrl_->setHVPSEnabled(true));
    EXPECT_TRUE(logged("Failed to turn on HVPS\n"));
    EXPECT_FALSE(cntrl_->connected || moduleIsOpen("QUSB-0"));

    {
        TolmarCntrl c;
        ASSERT_EQ(c.connectTo(false), 1);
        ASSERT_TRUE(c.setHVPSEnabled(true));
        c.run_en = true;
        ASSERT_TRUE(c.writeFpgaConfigParameters(false, false));
    }
    EXPECT_EQ(enables(), 0);  // run_en too
    EXPECT_TRUE(moduleIsOpen("QUSB-0"));
}

// A module list that does not fit the caller's buffer is not written past it.
TEST_P(ConnectionTest, ModuleNamesNeverOverflowTheCallersBuffer) {
    vsensor::setModuleCount(3);
    std::vector<char> names(64, '#');
    EXPECT_EQ(TolmarCntrl::getDevNames(names.data(), 10), 0u);
    EXPECT_EQ(names[10], '#');
    EXPECT_EQ(TolmarCntrl::getDevNames(names.data(), 22), 3u);  // exactly the three and the end
    EXPECT_EQ(names[22], '#');
}

INSTANTIATE_TEST_SUITE_P(Backends, ConnectionTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Vendor" : "Virtual"; });

}  // namespace
