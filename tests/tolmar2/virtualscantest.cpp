// Known-answer scans on the virtual sensor: the library's decoded and converted data against the
// plasma model the virtual board streams from.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "tempdir.h"
#include "tolmar2/TolmarCntrl.h"
#include "virtuallink.h"
#include "vsensor/VirtualSensor.h"

namespace {

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

    void connect(const char* profile) {
        ASSERT_TRUE(vsensor::loadProfile(profile));
        c_ = std::make_unique<TolmarCntrl>();
        ASSERT_EQ(c_->connectTo(false), 1);
    }

    // Sweeps the scanned output from 0 V to `end` in `step` volts, n samples per step.
    void sweep(int lead, double end, double step, unsigned samples) {
        double vs[3] = {0, 0, 0}, ve[3] = {0, 0, 0};
        ve[lead] = end;
        int leadCh = lead;
        ASSERT_GT(c_->setScanVoltages(vs, ve, leadCh, step), 0);
        ASSERT_TRUE(c_->setAverageHW(samples, 0));
    }

    struct Scan {
        int code = 0;
        std::vector<double> data;
        unsigned nScans = 0, nPoints = 0, status = 0, acqStart = 0;
        int nChannels = 0;
        double timeRes = 0;
        double at(int row, unsigned point, unsigned scan = 0) const {
            return data[(size_t(scan) * nChannels + row) * nPoints + point];
        }
    };
    Scan scan() {
        Scan s;
        double* data = nullptr;
        s.code = c_->getDataFromOneScan(data, s.nScans, s.nPoints, s.nChannels, s.timeRes,
                                        s.acqStart, s.status, true);
        if (data)
            s.data.assign(data, data + size_t(s.nScans) * s.nChannels * s.nPoints);
        return s;
    }
    std::string log() const { return readWholeFile("tarvo.log"); }
    // The bias grid's voltage at step i, as the board's output A puts it out.
    static double biasAt(unsigned i) { return vsensor::boardState().sweepVolts(0, int(i)); }

    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<TolmarCntrl> c_;
};

TEST_F(VirtualScanTest, DiscScanRecoversCollectorCurrentAndVoltages) {
    connect("disc13");
    sweep(0, 78, 2, 64);  // output A drives the bias grid of a multi-channel unit
    ASSERT_TRUE(c_->startScan());
    const Scan s = scan();
    ASSERT_EQ(s.code, 1) << log();
    ASSERT_EQ(s.nScans, 1u);
    ASSERT_EQ(s.nChannels, 17);  // 13 sensors, 4 monitor rows
    ASSERT_EQ(s.nPoints, c_->iv_steps);
    const vsensor::PlasmaModel model = vsensor::plasmaModel();
    for (unsigned i = 0; i < s.nPoints; ++i) {
        const double bias = biasAt(i);
        EXPECT_NEAR(s.at(16, i), bias, 0.05) << i;
        EXPECT_NEAR(s.at(15, i), model.electrodeVoltage, 0.05) << i;
        for (int k = 0; k < 13; ++k) {
            EXPECT_NEAR(s.at(k, i), vsensor::collectorCurrent(model, k, 13, bias), 2e-9)
                << "sensor " << k << " step " << i;
        }
    }
    // The radial profile: an edge sensor collects less than the centre one (sensor 2) below
    // the peaks (ion current reads negative).
    EXPECT_LT(std::fabs(s.at(12, 0)), 0.8 * std::fabs(s.at(2, 0)));
    EXPECT_TRUE(c_->stopScan());
}

TEST_F(VirtualScanTest, SingleProbeScanGivesProgrammedVoltageAndCurrent) {
    connect("single");
    sweep(2, 58, 2, 32);
    ASSERT_TRUE(c_->setScanType(true, false, false));  // up and down again
    ASSERT_TRUE(c_->startScan());
    const Scan s = scan();
    ASSERT_EQ(s.code, 1) << log();
    ASSERT_EQ(s.nChannels, 2);
    ASSERT_EQ(s.nPoints, 2u * c_->iv_steps);
    const vsensor::PlasmaModel model = vsensor::plasmaModel();
    for (unsigned i = 0; i < s.nPoints; ++i) {
        const unsigned step = i < c_->iv_steps ? i : s.nPoints - 1 - i;
        EXPECT_EQ(s.at(0, i), c_->monitorVoltages[step]);
        EXPECT_NEAR(s.at(1, i), vsensor::collectorCurrent(model, 0, 1, s.at(0, i)), 3e-9) << i;
    }
}

TEST_F(VirtualScanTest, ElectrodeVoltageBetweenScansMatchesTheModel) {
    connect("disc13");
    vsensor::PlasmaModel model = vsensor::plasmaModel();
    model.electrodeVoltage = -42.5;
    vsensor::setPlasmaModel(model);
    double mean = 0;
    ASSERT_TRUE(c_->getElectrodeVoltage(&mean, nullptr)) << log();
    EXPECT_NEAR(mean, -42.5, 0.02);
    EXPECT_FALSE(c_->run_en);
    EXPECT_FALSE(vsensor::boardState().registers.run_en);
}

TEST_F(VirtualScanTest, TemperatureScanReturnsTheThermistorTemperatures) {
    connect("disc13");
    c_->setTemperatureScan(true);
    ASSERT_TRUE(c_->startScan());
    double t[13] = {};
    unsigned n = 0, status = 0;
    ASSERT_EQ(c_->getDataFromOneTempScan(t, n, status), 1) << log();
    ASSERT_EQ(n, 13u);
    const vsensor::PlasmaModel model = vsensor::plasmaModel();
    for (int k = 0; k < 13; ++k) EXPECT_NEAR(t[k], model.thermistors[k], 0.5) << k;
    EXPECT_TRUE(c_->stopScan());
}

class VirtualSyncScanTest : public VirtualScanTest {
protected:
    static constexpr double kSyncHz = 10000;  // a 100 us period

    void syncScan(const char* profile, int lead) {
        vsensor::PlasmaModel model = vsensor::plasmaModel();
        model.saturatedShare = 0;  // a saturated slot would take its neighbour's value
        vsensor::setPlasmaModel(model);
        connect(profile);
        vsensor::setSyncFrequency(kSyncHz);
        sweep(lead, 78, 26, 1);
        ASSERT_TRUE(c_->setScanType(false, true, false)) << log();
        double timeRes = 1;
        unsigned acqStart = 0, window = 0, phase = 0;
        ASSERT_TRUE(c_->setSyncScanParameters(timeRes, acqStart, window, phase, false));
        ASSERT_TRUE(c_->startScan()) << log();
    }
};

TEST_F(VirtualSyncScanTest, TimeResolvedScanShowsThePulseInTheRightSlots) {
    // 10 kHz is 19,200 counts on either firmware family (the single unit's older one, the
    // disc's newer one): usable = (2400 - 1 - 9) / 24 = 99 one-microsecond slots.
    const struct {
        const char* profile;
        unsigned slots;
        int channels, probes, firstProbeRow, biasRow, lead;
    } units[] = {{"single", 99, 2, 1, 1, 0, 2}, {"disc13", 99, 17, 13, 0, 16, 0}};
    for (const auto& u : units) {
        SCOPED_TRACE(u.profile);
        syncScan(u.profile, u.lead);
        const Scan s = scan();
        ASSERT_EQ(s.code, 1) << log();
        ASSERT_EQ(s.nChannels, u.channels);
        ASSERT_EQ(s.nScans, u.slots);
        EXPECT_EQ(s.timeRes, 1.0);
        const vsensor::PlasmaModel model = vsensor::plasmaModel();
        const double periodUs = 1e6 / kSyncHz;
        for (unsigned t = 0; t < s.nScans; ++t) {
            const double phase = std::fmod((s.acqStart + t * s.timeRes) / periodUs, 1.0);
            for (unsigned i = 0; i < s.nPoints; ++i) {
                const double bias = vsensor::boardState().sweepVolts(u.lead, int(i));
                EXPECT_NEAR(s.at(u.biasRow, i, t), bias, 0.1);
                for (int k = 0; k < u.probes; k += 4) {
                    EXPECT_NEAR(s.at(u.firstProbeRow + k, i, t),
                                vsensor::collectorCurrent(model, k, u.probes, bias, phase), 1.2e-8)
                        << "slot " << t << " sensor " << k << " step " << i;
                }
            }
        }
        // Below the peaks the pulse is plain to see: on-slots collect over three times the
        // current of slots between pulses.
        EXPECT_GT(std::fabs(s.at(u.firstProbeRow, 0, 10)),
                  3 * std::fabs(s.at(u.firstProbeRow, 0, 60)));
        EXPECT_TRUE(c_->stopScan());
        EXPECT_EQ(c_->disconnect(), 1);
    }
}

TEST_F(VirtualSyncScanTest, ElectrodeVoltageLockedToTheSyncSignal) {
    connect("disc13");
    vsensor::setSyncFrequency(kSyncHz);
    double frequency = 0;
    ASSERT_EQ(c_->getSyncFreq(&frequency, true), 1) << log();
    ASSERT_TRUE(c_->sync_frq_locked);
    const vsensor::PlasmaModel model = vsensor::plasmaModel();
    double mean = 0, minScan = -1;
    ASSERT_TRUE(c_->getElectrodeVoltage(&mean, &minScan)) << log();
    EXPECT_NEAR(mean, model.electrodeVoltage, 0.02);
    // Only a time-resolved read gives more than one scan, and with it the per-scan minimum.
    EXPECT_NEAR(minScan, model.electrodeVoltage, 0.05);
    EXPECT_FALSE(c_->sync_mode);  // the scan type is restored
    EXPECT_FALSE(c_->run_en);
}

struct StreamFault {
    const char* name;
    vsensor::Fault fault;
    const char* message;
};

class VirtualFaultTest : public VirtualScanTest,
                         public ::testing::WithParamInterface<StreamFault> {};

TEST_P(VirtualFaultTest, ScanRecoversAfterTheFault) {
    const StreamFault& tc = GetParam();
    connect("disc13");
    sweep(0, 40, 4, 64);
    ASSERT_TRUE(c_->startScan());
    // The second data read falls into the middle of the first block (four reads long).
    vsensor::scheduleFault(tc.fault, tc.fault == vsensor::Fault::DataReadFail ? 2 : 1);
    const Scan s = scan();
    EXPECT_EQ(s.code, 1);
    EXPECT_NE(log().find(tc.message), std::string::npos) << log();
    EXPECT_NE(log().find("error #1 happened in iteration #0"), std::string::npos);
    const vsensor::PlasmaModel model = vsensor::plasmaModel();
    EXPECT_NEAR(s.at(0, 0), vsensor::collectorCurrent(model, 0, 13, biasAt(0)), 2e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, VirtualFaultTest,
    ::testing::Values(StreamFault{"ShortBlock", vsensor::Fault::ShortBlock,
                                  "Unexpected termination of measured data block"},
                      StreamFault{
                          "StreamStop", vsensor::Fault::StreamStop,
                          "Either device lost USB connection to PC or scan doesn't run anymore"},
                      StreamFault{"ReadFailsMidBlock", vsensor::Fault::DataReadFail,
                                  "Failed to read fifo data from Fpga"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
