// Known-answer scans on the virtual sensor: the library's decoded and converted data against the
// plasma model the virtual board streams from, normal and time-resolved. (Recovery from stream
// faults is proven against scripted streams and by the acquisition fault matrix.)
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "tempdir.h"
#include "tolmar2/TolmarCntrl.h"
#include "virtuallink.h"
#include "vsensor/VirtualSensor.h"

namespace {

// The disc unit: 13 sensors in rows 0-12, the electrode voltage in row 15, the bias in row 16.
constexpr int kProbes = 13, kChannels = 17, kElectrodeRow = 15, kBiasRow = 16;
constexpr double kSyncHz = 10000;  // a 100 us period

class VirtualScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(useVirtualLink(FIRMWARE_SOURCE_DIR));
        dir_ = std::make_unique<TempDir>(true);
    }
    void TearDown() override {
        c_.reset();
        dir_.reset();
        releaseVirtualLink();
    }
    std::string log() const { return readWholeFile("tarvo.log"); }

    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<TolmarCntrl> c_;
};

TEST_F(VirtualScanTest, ScansRecoverTheModelsCurrentsAndVoltages) {
    for (bool sync : {false, true}) {
        SCOPED_TRACE(sync ? "time-resolved" : "normal");
        vsensor::PlasmaModel model = vsensor::plasmaModel();
        if (sync) {
            model.saturatedShare = 0;  // a saturated slot would take its neighbour's value
            vsensor::setPlasmaModel(model);
        }
        ASSERT_TRUE(vsensor::loadProfile("disc13"));
        c_ = std::make_unique<TolmarCntrl>();
        ASSERT_EQ(c_->connectTo(false), 1);
        if (sync)
            vsensor::setSyncFrequency(kSyncHz);
        // Output 0 sweeps from 0 V to 78 V.
        double vs[3] = {0, 0, 0}, ve[3] = {78, 0, 0};
        int lead = 0;
        double step = sync ? 26 : 2;
        ASSERT_GT(c_->setScanVoltages(vs, ve, lead, step), 0);
        ASSERT_TRUE(c_->setAverageHW(sync ? 1 : 64, 0));
        ASSERT_TRUE(c_->setScanType(false, sync, false)) << log();
        double timeRes = 1;
        unsigned acqStart = 0, window = 0, phase = 0;
        ASSERT_TRUE(!sync || c_->setSyncScanParameters(timeRes, acqStart, window, phase, false));
        ASSERT_TRUE(c_->startScan()) << log();

        double* data = nullptr;
        unsigned nScans = 0, nPoints = 0, status = 0;
        int nChannels = 0;
        ASSERT_EQ(c_->getDataFromOneScan(data, nScans, nPoints, nChannels, timeRes, acqStart,
                                         status, true),
                  1)
            << log();
        ASSERT_EQ(nChannels, kChannels);
        ASSERT_EQ(nPoints, c_->iv_steps);
        // 10 kHz is 19,200 counts: usable = (2400 - 1 - 9) / 24 = 99 one-microsecond slots.
        ASSERT_EQ(nScans, sync ? 99u : 1u);
        EXPECT_EQ(timeRes, sync ? 1.0 : 0.0);
        auto at = [&](int row, unsigned i, unsigned t) {
            return data[(size_t(t) * nChannels + row) * nPoints + i];
        };
        for (unsigned t = 0; t < nScans; ++t) {
            const double pulse = sync ? std::fmod((acqStart + t) * kSyncHz / 1e6, 1.0) : -1;
            for (unsigned i = 0; i < nPoints; ++i) {
                SCOPED_TRACE("scan " + std::to_string(t) + " step " + std::to_string(i));
                const double bias = vsensor::boardState().sweepVolts(0, int(i));
                EXPECT_NEAR(at(kBiasRow, i, t), bias, 0.1);
                for (int k = 0; k < kProbes; ++k)
                    EXPECT_NEAR(at(k, i, t),
                                vsensor::collectorCurrent(model, k, kProbes, bias, pulse),
                                sync ? 1.2e-8 : 3e-9)
                        << "sensor " << k;
                if (!sync) {
                    EXPECT_NEAR(at(kElectrodeRow, i, t), model.electrodeVoltage, 0.05);
                }
            }
        }
        // Below the peaks the pulse is plain to see: on-slots collect over three times the
        // current of slots between pulses.
        if (sync) {
            EXPECT_GT(std::fabs(at(0, 0, 10)), 3 * std::fabs(at(0, 0, 60)));
        }
        EXPECT_TRUE(c_->stopScan());
        EXPECT_EQ(c_->disconnect(), 1);
    }
}

}  // namespace
