// The instrument panel on the virtual sensor: a whole scan from the Re-Scan button to the
// automatic save, the save that cannot be written, the refusals before a scan, the legacy
// warning, a cable pulled in the middle of a scan with the sensor handler finding the unit
// again, and the read-outs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <algorithm>
#include <array>
#include <memory>

#include "acquisition/sensorhandler.h"
#include "data/tarvodataset.h"
#include "qttestsupport.h"
#include "tempdir.h"
#include "tolmar2/TolmarCntrl.h"
#include "ui/instrumentpanel.h"
#include "virtualclock.h"
#include "virtuallink.h"
#include "vsensor/VirtualSensor.h"

namespace {

// Records the message boxes instead of showing them.
struct recordingNotifier : userNotifier {
    struct box {
        QString kind, title, text;
    };
    QList<box> boxes;
    void warning(QWidget*, const QString& title, const QString& text) override {
        boxes << box{"warning", title, text};
    }
    void critical(QWidget*, const QString& title, const QString& text) override {
        boxes << box{"critical", title, text};
    }
    int count(const QString& title) const {
        return static_cast<int>(std::count_if(boxes.begin(), boxes.end(),
                                              [&](const box& b) { return b.title == title; }));
    }
};

bool highVoltageOn() {
    const vsensor::BoardRegisters r = vsensor::boardState().registers;
    return r.hvps_en0 != 0 || r.hvps_en1 != 0 || r.hvps_en2 != 0;
}

void expectIdleVolts(const std::array<double, 3>& v) {
    const vsensor::BoardState board = vsensor::boardState();
    for (int o = 0; o < 3; ++o) {
        EXPECT_NEAR(board.idleVolts[o], v[o], 0.1) << "output " << o;
    }
}

// Runs the event loop until `signal` of `sender` arrives.
template <class Sender, class Signal>
void waitFor(Sender* sender, Signal signal) {
    QEventLoop loop;
    QObject::connect(sender, signal, &loop, &QEventLoop::quit);
    loop.exec();
}

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings().clear();
        ASSERT_TRUE(useVirtualLink(FIRMWARE_SOURCE_DIR));
        useVirtualClock();
        dir = std::make_unique<TempDir>(true);
        // A standard, time-averaged scan of two traces over a short bias sweep.
        QSettings s;
        s.setValue("scanmodeselectiondialog/selectionmode", 0);
        s.setValue("scanmodedialog/scanType", TimeAveragedScan);
        s.setValue("scanmodedialog/tracesPerScan", "2");
        s.setValue("scansettingdialog/useAdvancedMode", true);
        s.setValue("scansettingdialog/biasStart", "0");
        s.setValue("scansettingdialog/biasEnd", "20");
        s.setValue("scansettingdialog/biasStep", "2");
        s.setValue("scansettingdialog/collector", "-50");
        s.setValue("scansettingdialog/secElSup", "-50");
        s.setValue("scansettingdialog/ivAcc", "16");
        s.setValue("scansettingdialog/firstStep", "1");
    }
    void TearDown() override {
        panel.reset();
        handler.reset();
        cntrl.reset();
        for (tarvoDataSet* d : dataSets) {
            delete d;
        }
        dir.reset();
        releaseVirtualClock();
        releaseVirtualLink();
    }

    // Connects the unit through a sensor handler wired as the main window wires it.
    void connectUnit(const char* profile) {
        ASSERT_TRUE(vsensor::loadProfile(profile));
        cntrl = std::make_unique<TolmarCntrl>();
        panel = std::make_unique<instrumentPanel>();
        panel->setNotifier(&notes);
        QObject::connect(panel.get(), &instrumentPanel::newScanStarted,
                         [this](tarvoDataSet* d) { dataSets << d; });
        handler = std::make_unique<sensorHandler>(cntrl.get());
        QObject::connect(handler.get(), &sensorHandler::sensorConnection,
                         [this] { panel->sensorConnected(cntrl.get()); });
        QObject::connect(panel.get(), &instrumentPanel::sensorDisconnection, handler.get(),
                         &sensorHandler::sensorDisconnect);
        waitFor(handler.get(), &sensorHandler::sensorConnection);
        ASSERT_TRUE(panel->isSensorReady());
    }

    QPushButton* button(const char* name) {
        return panel->findChild<QPushButton*>(QString::fromLatin1(name));
    }

    // Presses Re-Scan and runs the event loop until the scan is done (or was refused).
    void runScan() {
        QEventLoop loop;
        QObject::connect(panel.get(), &instrumentPanel::scanDone, &loop, &QEventLoop::quit);
        const int before = dataSets.size();
        button("scanButton")->click();
        // The scan starts once the session holds the device.
        while (panel->isStarting()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        if (dataSets.size() > before) {
            loop.exec();
        }
    }

    void setAutosave(const QString& target) {
        QSettings s;
        s.setValue("prefDialog/useAutosave", true);
        s.setValue("prefDialog/useAutoexport", true);
        s.setValue("prefDialog/useAutoexportHdf5", true);
        s.setValue("prefDialog/targetPath", target);
        s.setValue("prefDialog/filePrefix", "run");
    }

    // The monitor answers again: the device is free.
    void expectMonitorReads() {
        QSignalSpy sync(panel.get(), &instrumentPanel::syncFreq);
        QMetaObject::invokeMethod(panel.get(), "refreshElectrodeVoltage");
        waitFor(panel.get(), &instrumentPanel::syncFreq);
        EXPECT_EQ(sync.count(), 1);
    }

    // Wakes the monitor until the sync input reads valid (its detector locks after a few
    // readings); the last status.
    int readUntilSynchronised() {
        int status = 0;
        for (int i = 0; i < 10 && status <= 0; ++i) {
            QSignalSpy sync(panel.get(), &instrumentPanel::syncFreq);
            QMetaObject::invokeMethod(panel.get(), "refreshElectrodeVoltage");
            waitFor(panel.get(), &instrumentPanel::syncFreq);
            status = sync.last().at(1).toInt();
        }
        return status;
    }

    std::unique_ptr<TempDir> dir;
    std::unique_ptr<TolmarCntrl> cntrl;
    std::unique_ptr<sensorHandler> handler;
    std::unique_ptr<instrumentPanel> panel;
    recordingNotifier notes;
    QList<tarvoDataSet*> dataSets;
};

TEST_F(PanelTest, ReScanRunsTheSavedScanAndSavesItInANewDirectory) {
    connectUnit("disc13");
    const QString target = QString::fromStdString(dir->file("results/today"));
    setAutosave(target);
    QSignalSpy hv(panel.get(), &instrumentPanel::HVtoggled);
    // The window is asked first and may call the scan off (unsaved data shown).
    int asked = 0;
    panel->setScanGate([&asked] { return ++asked > 1; });
    button("scanButton")->click();
    EXPECT_TRUE(dataSets.isEmpty());

    runScan();
    EXPECT_EQ(asked, 2);

    ASSERT_EQ(dataSets.size(), 1);
    EXPECT_TRUE(notes.boxes.isEmpty());
    // High voltage was switched on first, and the panel is back in the HV state.
    ASSERT_EQ(hv.count(), 1);
    EXPECT_TRUE(hv.at(0).at(0).toBool());
    EXPECT_TRUE(highVoltageOn());
    EXPECT_EQ(panel->statusImage(), instrumentPanel::HV_IMAGE);
    EXPECT_TRUE(button("scanButton")->isEnabled());
    EXPECT_FALSE(button("stopScanButton")->isEnabled());

    const tarvoDataSet& data = *dataSets[0];
    ASSERT_EQ(data.scanCount(), 1);
    EXPECT_EQ(data.sweepScans[0]->traces->size(), 2);
    EXPECT_EQ(data.settingsMap.value("biasEnd").toString(), "20");
    EXPECT_EQ(data.settingsMap.value("linkBackend").toString(), "virtual");
    EXPECT_EQ(data.settingsMap.value("activeSensors").toInt(), 13);
    // The per-probe table of the unit's record, one list per column, as the unit holds it.
    const char* columns[] = {"tempBeta", "tempRo", "tempRs", "ionFluxFactor"};
    for (int k = 0; k < 4; ++k) {
        const QVariantList values = data.settingsMap.value(columns[k]).toList();
        ASSERT_FALSE(values.isEmpty()) << columns[k];
        for (int r = 0; r < values.size(); ++r) {
            EXPECT_EQ(values[r].toDouble(), vsensor::findProfile("disc13")->tempCoef[r][k])
                << columns[k] << " " << r;
        }
    }

    // Saved and exported into the directory, which did not exist before.
    const QStringList kdf = QDir(target).entryList({"run_IV_TimeAveraged_*.kdf"});
    const QStringList csv = QDir(target).entryList({"run_IV_TimeAveraged_*.csv"});
    ASSERT_EQ(kdf.size(), 1);
    EXPECT_EQ(csv.size(), 1);
    EXPECT_EQ(QDir(target).entryList({"run_IV_TimeAveraged_*.h5"}),
              QStringList{QString(kdf[0]).replace(".kdf", ".h5")});
    EXPECT_EQ(kdf[0].size(), QString("run_IV_TimeAveraged_").size() + 15 + 4);
    EXPECT_EQ(tarvoDataSet(target + "/" + kdf[0]).scanCount(), 1);

    expectMonitorReads();
}

TEST_F(PanelTest, SaveThatCannotBeWrittenIsReportedAndTheDataKept) {
    connectUnit("single");
    // A plain file stands where the directory would have to be.
    const QString blocker = QString::fromStdString(dir->file("blocker"));
    QFile f(blocker);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    setAutosave(blocker + "/sub");
    QSignalSpy done(panel.get(), &instrumentPanel::scanDone);

    runScan();

    ASSERT_EQ(dataSets.size(), 1);
    EXPECT_EQ(done.count(), 1);
    EXPECT_EQ(notes.count("Automatic save failed"), 1);
    EXPECT_EQ(notes.count("Automatic export failed"), 2);  // CSV and HDF5
    for (const auto& b : notes.boxes) {
        EXPECT_EQ(b.kind, "critical");
        EXPECT_TRUE(b.text.contains(blocker + "/sub/run_")) << b.text.toStdString();
    }
    // The data set is still complete with its receiver, ready to be saved by hand.
    ASSERT_EQ(dataSets[0]->scanCount(), 1);
    EXPECT_EQ(dataSets[0]->sweepScans[0]->traces->size(), 2);
    EXPECT_EQ(panel->statusImage(), instrumentPanel::HV_IMAGE);
    expectMonitorReads();
}

TEST_F(PanelTest, ScanWithTooManyStepsIsRefusedAndTheDeviceReleased) {
    connectUnit("single");  // its bias grid is on the 16-bit output C
    QSettings().setValue("scansettingdialog/biasStep", "0.01");
    QSettings().setValue("scansettingdialog/biasEnd", "60");

    runScan();

    EXPECT_TRUE(dataSets.isEmpty());
    ASSERT_EQ(notes.count("Too many steps in scan"), 1);
    // 0 to 60 V in steps of about 0.01 V (the step the DAC can make).
    const QRegularExpressionMatch m =
        QRegularExpression(R"(^Scan configuration invalid. \n current scan has (\d+) steps, this )"
                           R"(unit can handle scans of 4096 steps max\.$)")
            .match(notes.boxes[0].text);
    ASSERT_TRUE(m.hasMatch()) << notes.boxes[0].text.toStdString();
    EXPECT_GT(m.captured(1).toInt(), 5000);
    EXPECT_TRUE(button("scanButton")->isEnabled());
    expectMonitorReads();
}

TEST_F(PanelTest, TimeResolvedScanNeedsAValidSync) {
    connectUnit("disc13");  // no sync signal
    QSettings().setValue("scanmodedialog/scanType", TimeResolvedScan);

    runScan();

    EXPECT_TRUE(dataSets.isEmpty());
    EXPECT_EQ(notes.count("No valid sync signal"), 1);
    expectMonitorReads();
}

TEST_F(PanelTest, LegacyCablingWarningComesOnceAndTemperatureNeedsNoHighVoltage) {
    connectUnit("legacy");
    QSettings().setValue("scanmodedialog/scanType", TemperatureScan);
    QSignalSpy hv(panel.get(), &instrumentPanel::HVtoggled);

    runScan();
    runScan();

    EXPECT_EQ(dataSets.size(), 2);
    EXPECT_EQ(notes.count("Legacy Kalder Hardware Detected"), 1);
    EXPECT_EQ(hv.count(), 0);
}

TEST_F(PanelTest, PulledCableStopsTheScanAndTheHandlerFindsTheUnitAgain) {
    connectUnit("disc13");
    QSettings().setValue("scanmodedialog/tracesPerScan", "0");  // until stopped
    QSignalSpy done(panel.get(), &instrumentPanel::scanDone);
    QSignalSpy lost(panel.get(), &instrumentPanel::sensorDisconnection);
    QObject::connect(panel.get(), &instrumentPanel::scanNumber, [] { vsensor::unplug(); });

    runScan();

    EXPECT_EQ(done.count(), 1);
    EXPECT_EQ(lost.count(), 1);
    EXPECT_FALSE(panel->isSensorReady());
    EXPECT_FALSE(panel->isScanning());
    for (const char* name : {"enableHV", "idleVoltages", "setScanButton", "scanButton"}) {
        EXPECT_FALSE(button(name)->isEnabled()) << name;
    }
    EXPECT_FALSE(button("enableHV")->isChecked());

    // The unit comes back; the handler polls again and the panel takes it up.
    QObject::disconnect(panel.get(), &instrumentPanel::scanNumber, nullptr, nullptr);
    ASSERT_TRUE(vsensor::replug("disc13"));
    waitFor(handler.get(), &sensorHandler::sensorConnection);
    EXPECT_TRUE(panel->isSensorReady());
    EXPECT_TRUE(button("scanButton")->isEnabled());

    // The device lock was released: a new scan runs to its end.
    QSettings().setValue("scanmodedialog/tracesPerScan", "1");
    runScan();
    ASSERT_EQ(dataSets.size(), 2);
    EXPECT_EQ(dataSets[1]->scanCount(), 1);
}

TEST_F(PanelTest, StopButtonEndsARunningScan) {
    connectUnit("single");
    QSettings().setValue("scanmodedialog/tracesPerScan", "0");
    QPushButton* stop = nullptr;
    QString textWhileStopping;
    // Stopped once the first trace has arrived (the data set reports it to this thread).
    QObject::connect(panel.get(), &instrumentPanel::newScanStarted, [&](tarvoDataSet* d) {
        QObject::connect(d, &tarvoDataSet::dataUpdated, panel.get(), [&] {
            if (stop) {
                return;
            }
            stop = button("stopScanButton");
            EXPECT_TRUE(stop->isEnabled());
            EXPECT_EQ(panel->statusImage(), instrumentPanel::SCAN_IMAGE);
            stop->click();
            textWhileStopping = stop->text();
        });
    });

    runScan();

    ASSERT_NE(stop, nullptr);
    EXPECT_EQ(textWhileStopping, "Stopping...");
    EXPECT_EQ(stop->text(), "Stop");
    EXPECT_FALSE(stop->isEnabled());
    ASSERT_EQ(dataSets.size(), 1);
    EXPECT_EQ(dataSets[0]->scanCount(), 1);
}

// Where the electrodes' voltages go, between scans and during them: the collector on output B,
// the bias grid on A and secondary electron suppression on C; on a two-value unit with a scanned
// output C, whose read-out takes the swept voltage from C's codes, those two change places.
// The read-out's swept voltage and the energy axis follow the bias grid on every unit kind.
struct placementCase {
    const char* profile;
    int bias, suppressor;  // their outputs
    bool monitors;         // voltage monitors: an electrode voltage to show ("-" without)
    bool fixedC;           // output C is a fixed supply, which puts out its idle register
};

class PanelPlacementTest : public PanelTest, public ::testing::WithParamInterface<placementCase> {};

TEST_P(PanelPlacementTest, OutputsKeepTheirElectrodeBetweenAndDuringScans) {
    const placementCase& k = GetParam();
    auto onOutputs = [&](double bias, double collector, double suppressor) {
        std::array<double, 3> v{0.0, collector, 0.0};
        v[k.bias] = bias, v[k.suppressor] = suppressor;
        return v;
    };
    QSettings().setValue("scansettingdialog/secElSup", "-45");
    connectUnit(k.profile);
    modalScript script;
    script.on("idleVoltagesDialog", [](QWidget* w) {
        w->findChild<QLineEdit*>("biasGridEdit")->setText("5");
        w->findChild<QLineEdit*>("collectorEdit")->setText("-20");
        w->findChild<QLineEdit*>("secElSupEdit")->setText("-25");
        static_cast<QDialog*>(w)->accept();
    });
    button("idleVoltages")->click();
    ASSERT_TRUE(script.finished());
    expectIdleVolts(onOutputs(5.0, -20.0, -25.0));
    QSignalSpy hv(panel.get(), &instrumentPanel::HVtoggled);
    button("enableHV")->click();
    EXPECT_TRUE(highVoltageOn());
    EXPECT_EQ(panel->statusImage(), instrumentPanel::HV_IMAGE);
    expectIdleVolts(onOutputs(5.0, -20.0, -25.0));

    vsensor::clearBlockWriteLog();
    runScan();
    ASSERT_EQ(dataSets.size(), 1);
    expectIdleVolts(onOutputs(5.0, -20.0, -25.0));  // restored when the scan ended
    const QString ev = panel->findChild<QLabel*>("evDisplay")->text();
    EXPECT_TRUE(k.monitors ? ev.contains(">75.0 </span>") : ev == "-") << ev.toStdString();
    const ivTrace& average = *dataSets[0]->currentAverage();
    ASSERT_GE(average.energy.size(), 10);  // 0 .. 20 V; 20 V itself is not always reached
    for (int i = 0; i < average.energy.size(); ++i) {  // within a coarse DAC's step error
        EXPECT_NEAR(average.currents[average.nRows - 1][i], 2.0 * i, 0.1 + 0.02 * i) << i;
        EXPECT_NEAR(average.energy[i], 2.0 * i, 0.1 + 0.02 * i) << i;
    }
    // Every block that programs the sweep, the step check's and the scan's alike (the others
    // are the monitor's one-step readings): the bias grid runs from 0 V in 2 V steps, the other
    // outputs hold their electrode. code = cal[1] * volts + cal[0].
    const std::array<double, 3> first = onOutputs(0.0, -50.0, -45.0);
    int sweeps = 0, running = 0;
    for (const vsensor::BlockWrite& b : vsensor::blockWriteLog()) {
        const vsensor::BoardRegisters& r = b.registers;
        const double start[3] = {double(r.v_a_start), double(r.v_b_start), double(r.v_c_start)};
        const double inc[3] = {double(r.v_a_inc), double(r.v_b_inc), double(r.v_c_inc)};
        if (inc[0] != 0 || inc[1] != 0 || inc[2] != 0) {
            ++sweeps, running += r.run_en ? 1 : 0;
            for (int o = 0; o < (k.fixedC ? 2 : 3); ++o) {
                const double* cal = vsensor::findProfile(k.profile)->cal_dac[o];
                EXPECT_NEAR((start[o] - cal[0]) / cal[1], first[o], 0.1) << "output " << o;
                EXPECT_NEAR(inc[o] / cal[1], o == k.bias ? 2.0 : 0.0, 0.05) << "output " << o;
            }
        }
    }
    EXPECT_GE(sweeps, 2);
    EXPECT_GE(running, 1);

    button("enableHV")->click();
    EXPECT_EQ(hv.count(), 2);
    EXPECT_FALSE(highVoltageOn());
    EXPECT_EQ(panel->statusImage(), instrumentPanel::ENABLED_IMAGE);
}

INSTANTIATE_TEST_SUITE_P(Units, PanelPlacementTest,
                         ::testing::Values(placementCase{"disc13", 0, 2, true, false},
                                           placementCase{"ar", 0, 2, true, false},
                                           placementCase{"single", 2, 0, false, false},
                                           placementCase{"legacy", 0, 2, false, true}),
                         [](const ::testing::TestParamInfo<placementCase>& info) {
                             return std::string(info.param.profile);
                         });

// Scans of the other kinds through the panel, named in their automatic save files.
struct scanKind {
    const char* name;
    const char* profile;
    int selection;
    int scanType;
    const char* typeName;
};

class PanelScanTest : public PanelTest, public ::testing::WithParamInterface<scanKind> {};

TEST_P(PanelScanTest, RunsAndSavesUnderItsTypeName) {
    const scanKind& k = GetParam();
    QSettings s;
    s.setValue("scanmodeselectiondialog/selectionmode", k.selection);
    s.setValue("scanmodedialog/scanType", k.scanType);
    s.setValue("scansettingdialog/kalderIvAcc", "16");
    s.setValue("scansettingdialog/aspectRatioStepCount", "2");
    const QString target = QString::fromStdString(dir->file("out"));
    setAutosave(target);
    connectUnit(k.profile);
    if (k.scanType == TimeResolvedScan) {
        ASSERT_GT(readUntilSynchronised(), 0);
    }
    QSignalSpy ratios(panel.get(), &instrumentPanel::ARCounter);
    QSignalSpy progress(panel.get(), &instrumentPanel::scanProgress);

    runScan();

    ASSERT_EQ(dataSets.size(), 1);
    EXPECT_TRUE(notes.boxes.isEmpty());
    const QStringList saved = QDir(target).entryList({QString("run_%1_*.kdf").arg(k.typeName)});
    EXPECT_EQ(saved.size(), 1);
    const tarvoDataSet& data = *dataSets[0];
    if (k.selection == 1) {
        // Start 1 and one step of 5, then the extra ratio 1.0 of an empty list.
        EXPECT_EQ(ratios.count(), 3);
        EXPECT_EQ(data.arScans.size(), 1);
    } else {
        EXPECT_EQ(data.timeUnit(), "usec");
        EXPECT_GE(data.scanCount(), 1);
        // One read of the board per trace asked for: half way, then done.
        ASSERT_EQ(progress.count(), 2);
        EXPECT_EQ(progress.at(0).at(0).toInt(), 50);
        EXPECT_EQ(progress.at(1).at(0).toInt(), 100);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PanelScanTest,
    ::testing::Values(scanKind{"timeResolved", "single", 0, TimeResolvedScan,
                               "Time Resolved IV scan"},
                      scanKind{"aspectRatio", "ar", 1, TimeAveragedScan, "Kalder"}),
    [](const ::testing::TestParamInfo<scanKind>& info) { return std::string(info.param.name); });

TEST_F(PanelTest, ReadOutsAndCountdown) {
    panel = std::make_unique<instrumentPanel>();
    // The electrode voltage's display is checked with the scans above; the wizard gets the
    // value as read.
    EXPECT_EQ(panel->findChild<QLabel*>("evDisplay")->text(), "---");
    panel->updateEVLabel(12.345, 0.0, false);
    EXPECT_EQ(panel->wizard().electrodeVoltage(), 12.345);

    // The countdown runs from 1.7 times the estimate and is not stopped at zero.
    QSignalSpy duration(panel.get(), &instrumentPanel::updateDuration);
    QMetaObject::invokeMethod(panel.get(), "estimatedScanDuration", Q_ARG(double, 2.0));
    for (int i = 0; i < 5; ++i) {
        QMetaObject::invokeMethod(panel.get(), "scanAdvance");
    }
    ASSERT_EQ(duration.count(), 5);
    EXPECT_DOUBLE_EQ(duration.at(0).at(0).toDouble(), 2.4);
    EXPECT_DOUBLE_EQ(duration.at(4).at(0).toDouble(), 3.4 - 5.0);
}

}  // namespace
