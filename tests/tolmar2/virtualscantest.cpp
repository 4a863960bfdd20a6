// Known-answer scans on the virtual sensor: the library's decoded and converted data against the
// plasma model the virtual board streams from. (Recovery from stream faults is proven against
// scripted streams and by the acquisition fault matrix.)
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

// Where a unit's rows sit in a converted scan; `lead` is the output driving the bias grid.
struct Unit {
    const char* profile;
    int lead, channels, probes, firstProbeRow, biasRow;
};
const Unit kSingle{"single", 2, 2, 1, 1, 0};
const Unit kDisc{"disc13", 0, 17, 13, 0, 16};  // 13 sensors, 4 monitor rows

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

    // Point i of scan t: the bias row against the board's output and every sensor's current
    // against the model at that bias (and phase of the pulse).
    void expectModelAt(const Scan& s, const Unit& u, unsigned t, unsigned i, int step, double phase,
                       double tolerance) {
        const vsensor::PlasmaModel model = vsensor::plasmaModel();
        const double bias = vsensor::boardState().sweepVolts(u.lead, step);
        EXPECT_NEAR(s.at(u.biasRow, i, t), bias, 0.1) << "scan " << t << " step " << i;
        for (int k = 0; k < u.probes; ++k)
            EXPECT_NEAR(s.at(u.firstProbeRow + k, i, t),
                        vsensor::collectorCurrent(model, k, u.probes, bias, phase), tolerance)
                << "scan " << t << " sensor " << k << " step " << i;
    }

    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<TolmarCntrl> c_;
};

constexpr double kSyncHz = 10000;  // a 100 us period

// Both units, normal (the single unit sweeping up and down again) and time-resolved.
TEST_F(VirtualScanTest, ScansRecoverTheModelsCurrentsAndVoltages) {
    for (bool sync : {false, true}) {
        for (const Unit& u : {kDisc, kSingle}) {
            SCOPED_TRACE(std::string(u.profile) + (sync ? ", time-resolved" : ", normal"));
            if (sync) {
                vsensor::PlasmaModel model = vsensor::plasmaModel();
                model.saturatedShare = 0;  // a saturated slot would take its neighbour's value
                vsensor::setPlasmaModel(model);
            }
            connect(u.profile);
            const bool upDown = !sync && u.probes == 1;
            if (sync)
                vsensor::setSyncFrequency(kSyncHz);
            sweep(u.lead, 78, sync ? 26 : 2, sync ? 1 : 64);
            ASSERT_TRUE(c_->setScanType(upDown, sync, false)) << log();
            double timeRes = 1;
            unsigned acqStart = 0, window = 0, phase = 0;
            ASSERT_TRUE(!sync ||
                        c_->setSyncScanParameters(timeRes, acqStart, window, phase, false));
            ASSERT_TRUE(c_->startScan()) << log();
            const Scan s = scan();
            ASSERT_EQ(s.code, 1) << log();
            ASSERT_EQ(s.nChannels, u.channels);
            ASSERT_EQ(s.nPoints, (upDown ? 2u : 1u) * c_->iv_steps);
            // 10 kHz is 19,200 counts on either firmware family (the single unit's older one,
            // the disc's newer one): usable = (2400 - 1 - 9) / 24 = 99 one-microsecond slots.
            ASSERT_EQ(s.nScans, sync ? 99u : 1u);
            EXPECT_EQ(s.timeRes, sync ? 1.0 : 0.0);
            for (unsigned t = 0; t < s.nScans; ++t) {
                const double pulse = sync ? std::fmod((s.acqStart + t) * kSyncHz / 1e6, 1.0) : -1;
                for (unsigned i = 0; i < s.nPoints; ++i) {
                    const unsigned step = i < c_->iv_steps ? i : s.nPoints - 1 - i;
                    expectModelAt(s, u, t, i, int(step), pulse, sync ? 1.2e-8 : 3e-9);
                }
            }
            if (sync) {
                // Below the peaks the pulse is plain to see: on-slots collect over three times
                // the current of slots between pulses.
                EXPECT_GT(std::fabs(s.at(u.firstProbeRow, 0, 10)),
                          3 * std::fabs(s.at(u.firstProbeRow, 0, 60)));
            } else if (u.channels == 17) {
                for (unsigned i = 0; i < s.nPoints; ++i)
                    EXPECT_NEAR(s.at(15, i), vsensor::plasmaModel().electrodeVoltage, 0.05) << i;
            }
            EXPECT_TRUE(c_->stopScan());
            EXPECT_EQ(c_->disconnect(), 1);
        }
    }
}

}  // namespace
