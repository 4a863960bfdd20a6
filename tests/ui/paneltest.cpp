// The instrument panel on the virtual sensor: Re-Scan to the automatic save (and one that cannot
// be written), the refusals and warnings before a scan, Stop and a pulled cable, where the
// outputs put the electrodes' voltages, and a time-resolved scan.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
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
    QStringList boxes;  // "kind|title|text"
    void warning(QWidget*, const QString& title, const QString& text) override {
        boxes << "warning|" + title + "|" + text;
    }
    void critical(QWidget*, const QString& title, const QString& text) override {
        boxes << "critical|" + title + "|" + text;
    }
    int count(const QString& kindAndTitle) const { return boxes.filter(kindAndTitle + "|").size(); }
};

bool highVoltageOn() {
    const vsensor::BoardRegisters r = vsensor::boardState().registers;
    return r.hvps_en0 != 0 || r.hvps_en1 != 0 || r.hvps_en2 != 0;
}

// Runs the event loop until `signal` of `sender` arrives.
template <class Sender, class Signal>
void waitFor(Sender* sender, Signal signal) {
    QEventLoop loop;
    QObject::connect(sender, signal, &loop, &QEventLoop::quit);
    loop.exec();
}

void set(const char* key, const QVariant& value) {
    QSettings().setValue(key, value);
}

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings().clear();
        ASSERT_TRUE(useVirtualLink(FIRMWARE_SOURCE_DIR));
        useVirtualClock();
        dir = std::make_unique<TempDir>(true);
        // A standard, time-averaged scan of two traces over a short bias sweep.
        for (const QString entry :
             {"scanmodeselectiondialog/selectionmode=0", "scanmodedialog/scanType=1",
              "scanmodedialog/tracesPerScan=2", "scansettingdialog/useAdvancedMode=true",
              "scansettingdialog/biasStart=0", "scansettingdialog/biasEnd=20",
              "scansettingdialog/biasStep=2", "scansettingdialog/collector=-50",
              "scansettingdialog/secElSup=-50", "scansettingdialog/ivAcc=16",
              "scansettingdialog/firstStep=1"}) {
            QSettings().setValue(entry.section('=', 0, 0), entry.section('=', 1));
        }
    }
    void TearDown() override {
        panel.reset();
        handler.reset();
        cntrl.reset();
        qDeleteAll(dataSets);
        dataSets.clear();
        notes.boxes.clear();
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
        set("prefDialog/useAutosave", true);
        set("prefDialog/useAutoexport", true);
        set("prefDialog/useAutoexportHdf5", true);
        set("prefDialog/targetPath", target);
        set("prefDialog/filePrefix", "run");
    }

    // Wakes the monitor once (it answers only while the device is free); the status it read.
    int readMonitor() {
        QSignalSpy sync(panel.get(), &instrumentPanel::syncFreq);
        QMetaObject::invokeMethod(panel.get(), "refreshElectrodeVoltage");
        waitFor(panel.get(), &instrumentPanel::syncFreq);
        EXPECT_EQ(sync.count(), 1);
        return sync.last().at(1).toInt();
    }

    std::unique_ptr<TempDir> dir;
    std::unique_ptr<TolmarCntrl> cntrl;
    std::unique_ptr<sensorHandler> handler;
    std::unique_ptr<instrumentPanel> panel;
    recordingNotifier notes;
    QList<tarvoDataSet*> dataSets;
};

// Re-Scan switches high voltage on, runs the saved scan and saves and exports it into a new
// directory; a save that cannot be written is reported and the data kept.
TEST_F(PanelTest, ReScanRunsTheSavedScanAndSavesIt) {
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
    ASSERT_EQ(hv.count(), 1);
    EXPECT_TRUE(hv.at(0).at(0).toBool());
    EXPECT_TRUE(highVoltageOn());
    EXPECT_TRUE(button("scanButton")->isEnabled());
    const tarvoDataSet& data = *dataSets[0];
    ASSERT_EQ(data.scanCount(), 1);
    EXPECT_EQ(data.sweepScans[0]->traces->size(), 2);
    EXPECT_EQ(data.settingsMap.value("biasEnd").toString(), "20");
    EXPECT_EQ(data.settingsMap.value("activeSensors").toInt(), 13);
    // The per-probe table of the unit's record, one list per column, as the unit holds it.
    const char* columns[] = {"tempBeta", "tempRo", "tempRs", "ionFluxFactor"};
    for (int k = 0; k < 4; ++k) {
        const QVariantList values = data.settingsMap.value(columns[k]).toList();
        ASSERT_FALSE(values.isEmpty()) << columns[k];
        for (int r = 0; r < values.size(); ++r) {
            EXPECT_EQ(values[r].toDouble(), vsensor::findProfile("disc13")->tempCoef[r][k]) << k;
        }
    }
    // Saved and exported into the directory, which did not exist before.
    const QStringList kdf = QDir(target).entryList({"run_IV_TimeAveraged_*.kdf"});
    ASSERT_EQ(kdf.size(), 1);
    EXPECT_EQ(QDir(target).entryList({"run_IV_TimeAveraged_*"}),
              QStringList({QString(kdf[0]).replace(".kdf", ".csv"),
                           QString(kdf[0]).replace(".kdf", ".h5"), kdf[0]}));
    EXPECT_EQ(tarvoDataSet(target + "/" + kdf[0]).scanCount(), 1);
    readMonitor();

    // A plain file stands where the directory would have to be.
    const QString blocker = QString::fromStdString(dir->file("blocker"));
    QFile f(blocker);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    setAutosave(blocker + "/sub");
    runScan();
    ASSERT_EQ(dataSets.size(), 2);
    ASSERT_EQ(notes.boxes.size(), 3);
    EXPECT_EQ(notes.count("critical|Automatic save failed"), 1);
    EXPECT_EQ(notes.count("critical|Automatic export failed"), 2);  // CSV and HDF5
    EXPECT_EQ(notes.boxes.filter(blocker + "/sub/run_").size(), 3);
    // The data set is still complete, ready to be saved by hand.
    ASSERT_EQ(dataSets[1]->scanCount(), 1);
    EXPECT_EQ(dataSets[1]->sweepScans[0]->traces->size(), 2);
    readMonitor();
}

// Scans the unit cannot run are refused with the reason, and the device is released; the
// warnings before a scan.
TEST_F(PanelTest, RefusalsAndWarningsBeforeAScan) {
    connectUnit("single");  // its bias grid is on the 16-bit output C
    set("scansettingdialog/biasStep", "0.01");
    set("scansettingdialog/biasEnd", "60");
    runScan();
    ASSERT_EQ(notes.boxes.size(), 1);
    // 0 to 60 V in steps of about 0.01 V (the step the DAC can make).
    const QRegularExpressionMatch m =
        QRegularExpression(
            R"(^critical\|Too many steps in scan\|Scan configuration invalid. \n current scan )"
            R"(has (\d+) steps, this unit can handle scans of 4096 steps max\.$)")
            .match(notes.boxes[0]);
    ASSERT_TRUE(m.hasMatch()) << notes.boxes[0].toStdString();
    EXPECT_GT(m.captured(1).toInt(), 5000);
    EXPECT_TRUE(button("scanButton")->isEnabled());
    readMonitor();

    TearDown();
    SetUp();
    connectUnit("disc13");  // no sync signal
    set("scanmodedialog/scanType", TimeResolvedScan);
    runScan();
    EXPECT_EQ(notes.count("warning|No valid sync signal"), 1);
    EXPECT_TRUE(dataSets.isEmpty());
    readMonitor();

    // The legacy cabling warning comes once; a temperature record needs no high voltage.
    TearDown();
    SetUp();
    connectUnit("legacy");
    set("scanmodedialog/scanType", TemperatureScan);
    QSignalSpy hv(panel.get(), &instrumentPanel::HVtoggled);
    runScan();
    runScan();
    EXPECT_EQ(dataSets.size(), 2);
    EXPECT_EQ(notes.count("warning|Legacy Kalder Hardware Detected"), 1);
    EXPECT_EQ(hv.count(), 0);
}

// A scan until stopped ends with the Stop button; a pulled cable ends the next one, and the
// handler finds the unit again once it is back, ready for a scan that runs to its end.
TEST_F(PanelTest, StopButtonAndPulledCableEndARunningScan) {
    connectUnit("disc13");
    set("scanmodedialog/tracesPerScan", "0");  // until stopped
    QPushButton* stop = button("stopScanButton");
    QString textWhileStopping;
    bool clicked = false;
    // Stopped once the first trace has arrived (the data set reports it to this thread).
    auto stopOnData =
        QObject::connect(panel.get(), &instrumentPanel::newScanStarted, [&](tarvoDataSet* d) {
            QObject::connect(d, &tarvoDataSet::dataUpdated, panel.get(), [&] {
                if (clicked) {
                    return;
                }
                clicked = true;
                EXPECT_EQ(panel->statusImage(), instrumentPanel::SCAN_IMAGE);
                stop->click();
                textWhileStopping = stop->text();
            });
        });
    runScan();
    EXPECT_EQ(textWhileStopping, "Stopping...");
    EXPECT_EQ(stop->text(), "Stop");
    EXPECT_FALSE(stop->isEnabled());
    ASSERT_EQ(dataSets.size(), 1);
    EXPECT_EQ(dataSets[0]->scanCount(), 1);
    QObject::disconnect(stopOnData);

    QSignalSpy done(panel.get(), &instrumentPanel::scanDone);
    QSignalSpy lost(panel.get(), &instrumentPanel::sensorDisconnection);
    auto unplug =
        QObject::connect(panel.get(), &instrumentPanel::scanNumber, [] { vsensor::unplug(); });
    runScan();
    EXPECT_EQ(done.count(), 1);
    EXPECT_EQ(lost.count(), 1);
    EXPECT_FALSE(panel->isSensorReady());
    EXPECT_FALSE(panel->isScanning());
    EXPECT_FALSE(button("scanButton")->isEnabled());
    EXPECT_FALSE(button("enableHV")->isChecked());
    QObject::disconnect(unplug);
    ASSERT_TRUE(vsensor::replug("disc13"));
    waitFor(handler.get(), &sensorHandler::sensorConnection);
    EXPECT_TRUE(panel->isSensorReady());
    EXPECT_TRUE(button("scanButton")->isEnabled());
    // The device lock was released: a new scan runs to its end.
    set("scanmodedialog/tracesPerScan", "1");
    runScan();
    ASSERT_EQ(dataSets.size(), 3);
    EXPECT_EQ(dataSets[2]->scanCount(), 1);
}

// Where the electrodes' voltages go, between scans and during them: the collector on output B,
// the bias grid on A and secondary electron suppression on C; on a two-value unit with a scanned
// output C, whose read-out takes the swept voltage from C's codes, those two change places.
// The read-out's swept voltage and the energy axis follow the bias grid on every unit kind.
struct placementCase {
    const char* profile;
    int bias, suppressor;  // their outputs
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
    set("scansettingdialog/secElSup", "-45");
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
    button("enableHV")->click();
    ASSERT_TRUE(highVoltageOn());
    const std::array<double, 3> idle = onOutputs(5.0, -20.0, -25.0);
    for (int o = 0; o < 3; ++o) {
        EXPECT_NEAR(vsensor::boardState().idleVolts[o], idle[o], 0.1) << "output " << o;
    }
    vsensor::clearBlockWriteLog();
    runScan();
    ASSERT_EQ(dataSets.size(), 1);
    const ivTrace& average = *dataSets[0]->currentAverage();
    ASSERT_GE(average.energy.size(), 10);  // 0 .. 20 V; 20 V itself is not always reached
    for (int i = 0; i < average.energy.size(); ++i) {  // within a coarse DAC's step error
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
}

INSTANTIATE_TEST_SUITE_P(Units, PanelPlacementTest,
                         ::testing::Values(placementCase{"disc13", 0, 2, false},
                                           placementCase{"ar", 0, 2, false},
                                           placementCase{"single", 2, 0, false},
                                           placementCase{"legacy", 0, 2, true}),
                         [](const ::testing::TestParamInfo<placementCase>& info) {
                             return std::string(info.param.profile);
                         });

// A time-resolved scan through the panel reads the board once per trace asked for and is saved
// under its type's name.
TEST_F(PanelTest, TimeResolvedScanRunsAndSavesUnderItsTypeName) {
    set("scansettingdialog/kalderIvAcc", "16");
    const QString target = QString::fromStdString(dir->file("out"));
    setAutosave(target);
    set("scanmodedialog/scanType", TimeResolvedScan);
    connectUnit("single");
    int sync = 0;
    for (int i = 0; i < 10 && sync <= 0; ++i) {
        sync = readMonitor();  // the sync input's detector locks after a few readings
    }
    ASSERT_GT(sync, 0);
    QSignalSpy progress(panel.get(), &instrumentPanel::scanProgress);
    runScan();
    ASSERT_EQ(dataSets.size(), 1);
    EXPECT_TRUE(notes.boxes.isEmpty());
    EXPECT_EQ(QDir(target).entryList({"run_Time Resolved IV scan_*.kdf"}).size(), 1);
    EXPECT_EQ(dataSets[0]->timeUnit(), "usec");
    EXPECT_GE(dataSets[0]->scanCount(), 1);
    ASSERT_EQ(progress.count(), 2);  // half way, then done
    EXPECT_EQ(QList<int>({progress.at(0).at(0).toInt(), progress.at(1).at(0).toInt()}),
              QList<int>({50, 100}));
}

}  // namespace
