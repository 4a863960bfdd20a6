// A controller "connected" to the scripted board, with the log in a temporary directory.
#ifndef TESTS_TOLMAR2_READOUTFIXTURE_H
#define TESTS_TOLMAR2_READOUTFIXTURE_H

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "Platform.h"
#include "UsbLink.h"
#include "scriptedboard.h"
#include "tempdir.h"
#include "tolmar2/TolmarCntrl.h"

using Words = std::vector<uint16_t>;

class ReadOutFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(board_.select());
        board_.reset();
        tolmar2::platform::setSleepFunction(&noSleep);
        dir_ = std::make_unique<TempDir>(true);
        c_ = std::make_unique<TolmarCntrl>();
        c_->qusbHandle = 1;
        c_->connected = true;
        c_->run_en = true;
        c_->deviceOptions = 0;
        c_->nAdcChannels = 2;
        c_->nProbes = 1;
        c_->iv_steps = 1;
        c_->iv_samples = 1;
        c_->fifoReadBytes = 32768;
        c_->fifoReadPos = c_->fifoWordsInBuffer = 16384;
    }
    void TearDown() override {
        c_->qusbHandle = 0;  // nothing to switch off on the scripted board
        c_.reset();
        dir_.reset();
        tolmar2::platform::setSleepFunction(nullptr);
        unsetenv("TOLMAR_LINK");
        unsetenv("TOLMAR_QUICKUSB_LIBRARY");
        tolmar2::link::reselect();
    }

    static void noSleep(unsigned) {}

    // What one read hands out: the normal reader keeps the first `values` values.
    struct Result {
        int code = 0;
        std::vector<double> data;
        unsigned nScans = 0, nPoints = 0, status = 0;
    };
    Result read(bool averaged, size_t values) {
        Result r;
        double* data = nullptr;
        r.code = c_->readFpgaFifoData(data, averaged, r.nPoints, r.status);
        if (data)
            r.data.assign(data, data + values);
        return r;
    }
    // The time-resolved reader (two channels).
    Result readTrm() {
        Result r;
        double* data = nullptr;
        r.code = c_->readFpgaFifoDataTRM(data, r.nScans, r.nPoints, r.status);
        if (data)
            r.data.assign(data, data + size_t(r.nScans) * r.nPoints * 2);
        return r;
    }

    // One call of getDataFromOneScan with everything it hands out.
    struct OneScan {
        int code = 0;
        double* data = nullptr;
        unsigned nScans = 0, nPoints = 0, acqStart = 0, status = 0;
        int nChannels = 0;
        double timeRes = -1;
    };
    OneScan oneScan() {
        OneScan s;
        s.code = c_->getDataFromOneScan(s.data, s.nScans, s.nPoints, s.nChannels, s.timeRes,
                                        s.acqStart, s.status, true);
        return s;
    }

    std::string log() const { return readWholeFile("tarvo.log"); }
    bool logged(const std::string& text) const { return log().find(text) != std::string::npos; }

    // A restart as the board sees it: first a stop (run bit, byte 3) with the FIFO cleared
    // (byte 48), last a run.
    void expectRestart() {
        const auto blocks = board_.blocks();
        ASSERT_GE(blocks.size(), 2u);
        EXPECT_EQ(blocks.front()[3] & 0x10, 0);
        EXPECT_TRUE(blocks.front()[48] & 0x02);
        EXPECT_TRUE(blocks.back()[3] & 0x10);
    }

    ScriptedBoard board_;
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<TolmarCntrl> c_;
};

#endif  // TESTS_TOLMAR2_READOUTFIXTURE_H
