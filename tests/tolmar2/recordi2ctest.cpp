// The record in the virtual sensor's I2C memory: result codes, chunked verified writes, retries,
// erasing, the module list and the link-type switch, and the run-time loaded backend.
#include <cstdlib>
#include <cstring>

#include "UsbLink.h"
#include "recordimage.h"
#include "vsensor/VirtualSensor.h"

namespace {

using vsensor::Fault;

class RecordI2c : public RecordFixture {
protected:
    void SetUp() override {
        RecordFixture::SetUp();
        openModule();
    }
    void store(const std::vector<uint8_t>& image) {
        vsensor::writeMemory(vsensor::kRecordAddress, image);
    }
    int readI2c() { return cntrl->readTolmarConfigParameters(nullptr); }
};

// Every profile's record decodes to the numbers the profile was built from.
TEST_F(RecordI2c, ReadsEveryUnitProfile) {
    for (const vsensor::UnitProfile& p : vsensor::unitProfiles()) {
        if (p.blank)
            continue;
        SCOPED_TRACE(p.name);
        ASSERT_TRUE(vsensor::loadProfile(p.name));
        cntrl->setRecordDefaults();
        ASSERT_EQ(1, readI2c());
        EXPECT_EQ(p.devName, cntrl->devName);
        EXPECT_EQ(p.deviceOptions, cntrl->deviceOptions);
        EXPECT_EQ(p.createTime, cntrl->createTime);
        EXPECT_EQ(p.cal_dac[3][1], cntrl->cal_dac[3][1]);
        EXPECT_EQ(p.nCalRows, cntrl->nCalRows);
        EXPECT_EQ(p.nVchan, cntrl->nVchan);
        EXPECT_EQ(p.nExtProbes, cntrl->nExtProbes);
        if (p.nCalRows > 0) {
            EXPECT_EQ(p.cal_adc[p.nCalRows - 1][1][1], cntrl->cal_adc[p.nCalRows - 1][1][1]);
        }
        EXPECT_EQ(p.tempCoef[12][2], cntrl->tempCoef[12][2]);
        EXPECT_EQ(p.rangeValue[1], cntrl->rangeValue[1]);
        EXPECT_EQ(p.extTag == 0x80 ? p.extWord : 0xFFFFFFFFu, cntrl->extWord);
        EXPECT_EQ(bool(p.deviceOptions & 2), cntrl->vcScannable);
    }
}

// Failures of the read leave the mirror at its defaults.
TEST_F(RecordI2c, ReadResultCodes) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        int result;
    } cases[] = {
        {"blank memory", [] { vsensor::fillMemory(0xFF); }, -1},
        {"zero memory", [] { vsensor::fillMemory(0x00); }, 0},
        {"magic 1",
         [this] {
             Image im(8);
             im.u32(0, 1);
             store(im.bytes);
         },
         -2},
        {"other magic",
         [this] {
             Image im(8);
             im.u32(0, 0x1234);
             store(im.bytes);
         },
         0x1234},
        {"format 9",
         [this] {
             Image im(8);
             im.u32(0, 0xB070AAA0u);
             im.u32(4, 9);
             store(im.bytes);
         },
         -5},
        {"address write fails", [] { vsensor::scheduleFault(Fault::I2cWriteFail, 1); }, -3},
        {"header read fails", [] { vsensor::scheduleFault(Fault::I2cReadFail, 1); }, -4},
        {"header read short", [] { vsensor::scheduleFault(Fault::I2cShortRead, 1); }, -4},
        {"body read fails", [] { vsensor::scheduleFault(Fault::I2cReadFail, 5); }, -7},
        // Halved again and again, the reads dwindle to nothing instead of looping forever.
        {"body reads keep coming short",
         [] { vsensor::scheduleFault(Fault::I2cShortRead, 2, 1000); }, -7},
        {"too many rows",
         [this] {
             auto im = image16(makeSample());
             im[324] = 40;
             store(im);
         },
         -8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        vsensor::loadProfile("single");
        vsensor::clearFaults();
        c.arrange();
        EXPECT_EQ(c.result, readI2c());
        EXPECT_STREQ("-", cntrl->devName);
        EXPECT_FALSE(cntrl->recordLoaded);
    }
}

// A short read is continued where it stopped.
TEST_F(RecordI2c, ShortBodyReadsAreContinued) {
    vsensor::scheduleFault(Fault::I2cShortRead, 2, 3);
    ASSERT_EQ(1, readI2c());
    EXPECT_STREQ("QM759-2403-017", cntrl->devName);
    EXPECT_EQ(vsensor::findProfile("single")->cal_adc[0][1][1], cntrl->cal_adc[0][1][1]);
}

// The read: address 0x2000, the 8-byte header, then 64-byte chunks up to the record size.
TEST_F(RecordI2c, ReadTransfers) {
    store(image12(makeSample()));
    vsensor::clearI2cLog();
    ASSERT_EQ(1, readI2c());
    const auto log = vsensor::i2cLog();
    ASSERT_EQ(2u + 6u, log.size());  // 360 body bytes: 5 x 64 + 40
    EXPECT_TRUE(log[0].write);
    EXPECT_EQ(0x2000, log[0].memoryAddress);
    EXPECT_EQ(8u, log[1].dataLength);
    EXPECT_EQ(0x2008, log[2].memoryAddress);
    EXPECT_EQ(64u, log[2].dataLength);
    EXPECT_EQ(40u, log[7].dataLength);
}

// A 2048-byte record goes out as 64 verified chunks of 32 bytes at 0x2000, 0x2020 ... 0x27E0.
TEST_F(RecordI2c, WritesRecordInVerifiedChunks) {
    ASSERT_EQ(1, readImage(image16(makeSample())));
    const std::vector<uint8_t> image = encoded();
    vsensor::fillMemory(0xFF);
    vsensor::clearI2cLog();
    cntrl->connected = true;
    ASSERT_EQ(1, cntrl->writeTolmarConfigParameters());

    const auto log = vsensor::i2cLog();
    ASSERT_EQ(64u * 3, log.size());
    for (size_t k = 0; k < 64; ++k) {
        const uint16_t address = static_cast<uint16_t>(0x2000 + 32 * k);
        const vsensor::I2cTransfer& data = log[3 * k];
        const vsensor::I2cTransfer& pointer = log[3 * k + 1];
        const vsensor::I2cTransfer& back = log[3 * k + 2];
        EXPECT_TRUE(data.write && data.ok);
        EXPECT_EQ(address, data.memoryAddress);
        EXPECT_EQ(32u, data.dataLength);
        EXPECT_TRUE(pointer.write);
        EXPECT_EQ(0u, pointer.dataLength);
        EXPECT_FALSE(back.write);
        EXPECT_EQ(address, back.memoryAddress);
        EXPECT_EQ(32u, back.dataLength);
    }
    EXPECT_EQ(image, vsensor::readMemory(vsensor::kRecordAddress, 2048));
    EXPECT_EQ(0, sleepsOf500);
}

// Format 12 (368 bytes): eleven full chunks and a last one of 16.
TEST_F(RecordI2c, WritesShortRecordUpToItsSize) {
    ASSERT_EQ(1, readImage(image12(makeSample())));
    cntrl->connected = true;
    vsensor::clearI2cLog();
    ASSERT_EQ(1, cntrl->writeTolmarConfigParameters());
    const auto log = vsensor::i2cLog();
    ASSERT_EQ(12u * 3, log.size());
    EXPECT_EQ(0x2160, log[33].memoryAddress);
    EXPECT_EQ(16u, log[33].dataLength);
    EXPECT_EQ(image12(makeSample()), vsensor::readMemory(vsensor::kRecordAddress, 368));
}

// Failed chunks are retried after a pause; the fifth failure in a row gives up.
TEST_F(RecordI2c, WriteRetries) {
    struct Case {
        const char* what;
        Fault fault;
        int nth, repeat;
        int result, pauses;
    } cases[] = {
        {"data write fails 4 times", Fault::I2cWriteFail, 1, 4, 1, 4},
        {"address write fails twice", Fault::I2cWriteFail, 2, 1, 1, 1},
        {"read back fails", Fault::I2cReadFail, 3, 1, 1, 1},
        {"read back short", Fault::I2cShortRead, 1, 1, 1, 1},
        {"five failures in a row", Fault::I2cWriteFail, 4, 5, -3, 4},
    };
    ASSERT_EQ(1, readImage(image16(makeSample())));
    const std::vector<uint8_t> image = encoded();
    cntrl->connected = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        vsensor::fillMemory(0);
        vsensor::clearFaults();
        sleepsOf500 = 0;
        vsensor::scheduleFault(c.fault, c.nth, c.repeat);
        EXPECT_EQ(c.result, cntrl->writeTolmarConfigParameters());
        EXPECT_EQ(c.pauses, sleepsOf500);
        if (c.result == 1) {
            EXPECT_EQ(image, vsensor::readMemory(vsensor::kRecordAddress, 2048));
        }
    }
}

TEST_F(RecordI2c, WriteWithoutConnection) {
    ASSERT_EQ(1, readImage(image16(makeSample())));
    const std::vector<uint8_t> image = encoded();
    tolmar2::link::call::QuickUsbClose(cntrl->qusbHandle);
    cntrl->qusbHandle = 0;
    vsensor::fillMemory(0);

    EXPECT_EQ(-6, cntrl->writeTolmarConfigParameters());
    char empty[] = "";
    EXPECT_EQ(-6, cntrl->writeTolmarConfigParameters(empty));
    char unknown[] = "QUSB-7";
    EXPECT_EQ(-5, cntrl->writeTolmarConfigParameters(unknown));
    char module[] = "QUSB-0";
    ASSERT_EQ(1, cntrl->writeTolmarConfigParameters(module));
    EXPECT_EQ(image, vsensor::readMemory(vsensor::kRecordAddress, 2048));
    // The module was closed again: it opens.
    QHANDLE h = 0;
    EXPECT_NE(0, tolmar2::link::call::QuickUsbOpen(&h, module));
    tolmar2::link::call::QuickUsbClose(h);
}

TEST_F(RecordI2c, EraseWritesAndVerifiesEveryByte) {
    vsensor::fillMemory(0);
    vsensor::clearI2cLog();
    EXPECT_EQ(1, cntrl->eraseI2C(0x1FFE, 0, 'x'));
    EXPECT_TRUE(vsensor::i2cLog().empty());

    EXPECT_EQ(1, cntrl->eraseI2C(0x1FFE, 4, static_cast<char>(0xA5)));
    EXPECT_EQ((std::vector<uint8_t>{0, 0xA5, 0xA5, 0xA5, 0xA5, 0}), vsensor::readMemory(0x1FFD, 6));
    EXPECT_EQ(12u, vsensor::i2cLog().size());

    vsensor::scheduleFault(Fault::I2cWriteFail, 1, 4);
    EXPECT_EQ(1, cntrl->eraseI2C(0x10, 2, 0x11));
    EXPECT_EQ((std::vector<uint8_t>{0x11, 0x11}), vsensor::readMemory(0x10, 2));
    vsensor::scheduleFault(Fault::I2cReadFail, 1, 5);
    EXPECT_EQ(-1, cntrl->eraseI2C(0x20, 1, 0x22));
}

TEST_F(RecordI2c, ListsModules) {
    char names[64];
    vsensor::setModuleCount(3);
    EXPECT_EQ(3u, TolmarCntrl::getDevNames(names, sizeof names));
    EXPECT_STREQ("QUSB-0", names);
    EXPECT_STREQ("QUSB-2", names + 14);
    vsensor::setModuleCount(0);
    std::memset(names, 'x', sizeof names);
    EXPECT_EQ(0u, TolmarCntrl::getDevNames(names, sizeof names));
    EXPECT_TRUE(std::all_of(names, names + sizeof names, [](char c) { return c == 0; }));
}

TEST_F(RecordI2c, UsbLinkSwitchClosesLastOpenedModule) {
    EXPECT_TRUE(TolmarCntrl::isGenuineUsbLink());
    TolmarCntrl::setUsbLink(false);
    EXPECT_FALSE(TolmarCntrl::isGenuineUsbLink());
    EXPECT_EQ(-3, readI2c());  // the controller's module was closed
    TolmarCntrl::setUsbLink(true);
    EXPECT_TRUE(TolmarCntrl::isGenuineUsbLink());
}

TEST_F(RecordI2c, ConstructorReadsLibraryVersion) {
    EXPECT_EQ(vsensor::kDllVersion[0], cntrl->qusbDllVer[0]);
    EXPECT_EQ(vsensor::kDllVersion[1], cntrl->qusbDllVer[1]);
    EXPECT_EQ(vsensor::kDllVersion[2], cntrl->qusbDllVer[2]);
    EXPECT_STREQ("-", cntrl->qDevName);
    EXPECT_STREQ("-", cntrl->qusbHWRev);
    EXPECT_FALSE(cntrl->recordLoaded);
}

// The virtual sensor loaded as a vendor library at run time is the same emulation: the record
// read through it equals the one read through the built-in backend.
TEST_F(RecordI2c, VendorBackendLoadedFromLibraryReadsTheSameRecord) {
    ASSERT_TRUE(vsensor::loadProfile("disc13"));
    ASSERT_EQ(1, readI2c());
    const std::vector<uint8_t> builtIn = encoded();
    tolmar2::link::call::QuickUsbClose(cntrl->qusbHandle);

    setenv("TOLMAR_LINK", "vendor", 1);
    setenv("TOLMAR_QUICKUSB_LIBRARY", VSENSOR_LIBRARY_PATH, 1);
    const bool loaded = tolmar2::link::reselect();
    const tolmar2::link::Kind kind = tolmar2::link::kind();
    TolmarCntrl viaLibrary;
    openModule();
    std::swap(cntrl->qusbHandle, viaLibrary.qusbHandle);
    const int result = viaLibrary.readTolmarConfigParameters(nullptr);
    std::string path = dir.file("vendor.rec");
    viaLibrary.writeTolmarConfigParameters(nullptr, path.data());
    tolmar2::link::call::QuickUsbClose(viaLibrary.qusbHandle);

    unsetenv("TOLMAR_QUICKUSB_LIBRARY");
    setenv("TOLMAR_LINK", "virtual", 1);
    tolmar2::link::reselect();

    ASSERT_TRUE(loaded);
    EXPECT_EQ(tolmar2::link::Kind::Vendor, kind);
    ASSERT_EQ(1, result);
    EXPECT_EQ(builtIn, readFile(path));
    EXPECT_EQ(24, viaLibrary.nAdcChannels);
}

}  // namespace
