// The main window: start-up state, status texts, the scan's effect on the actions, loading,
// saving and exporting through the file dialogs, damaged and unfinished files, unsaved data,
// recent files and the single-instance guard; the data view's labels and properties; and the
// window on a 1280 x 720 screen (least sizes, controls in view, placement on the screen).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <tuple>

#include "data/recovery.h"
#include "data/recoveryjournal.h"
#include "datasetmaker.h"
#include "plots/tarvoplot.h"
#include "qttestsupport.h"
#include "tempdir.h"
#include "ui/datapropertiesdialog.h"
#include "ui/graphcontrols.h"
#include "ui/instrumentpanel.h"
#include "ui/instrumentsettingsdialog.h"
#include "ui/maindataview.h"
#include "ui/mainwindow.h"
#include "ui/scanwizard.h"
#include "ui/singleinstance.h"
#include "ui/topbanner.h"

namespace {

// Answers the next file dialog with `path` (empty: cancels it) and records "title|filters".
void answerFileDialog(modalScript& script, const QString& path, QString* title = nullptr) {
    script.on([](QWidget* w) { return qobject_cast<QFileDialog*>(w) != nullptr; },
              [path, title](QWidget* w) {
                  auto* dialog = qobject_cast<QFileDialog*>(w);
                  if (title) {
                      *title = dialog->windowTitle() + "|" + dialog->nameFilters().join(";;");
                  }
                  if (path.isEmpty()) {
                      dialog->reject();
                  } else {
                      dialog->selectFile(path);
                      QMetaObject::invokeMethod(dialog, "accept");
                  }
              });
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings().clear();
        window = std::make_unique<mainWindow>(nullptr, false);
    }

    // Saves a known data set to dir and returns its path.
    QString writeDataFile(const std::string& name, int channels, int scans) {
        const QString path = QString::fromStdString(dir.file(name));
        EXPECT_TRUE(makeDataSet(channels, 25, scans, 2)->save(path));
        return path;
    }

    bool enabled(const char* name) { return window->action(name)->isEnabled(); }

    TempDir dir{true};  // the controller writes its log in the working directory
    std::unique_ptr<mainWindow> window;
};

// What can be done follows the data: nothing to save or inspect at the start, no file work while
// a scan runs, all of it once the scan is done. The status bar says what the scan does.
TEST_F(WindowTest, ActionsAndStatusTextsFollowTheScan) {
    EXPECT_EQ(window->windowTitle(), "Kalder System");
    auto status = [&] {
        QStringList texts;
        for (const QLabel* label : window->statusLabels()) texts << label->text();
        return texts;
    };
    EXPECT_EQ(status(), QStringList({"", " No Sync Signal ", " Sweep Duration : - s ",
                                     " Scan Progress -% ", " Scan Nbr - "}));
    const QStringList actions = {
        "actionLoad",        "actionSave",       "actionSave_2",          "actionExport",
        "actionExportGraph", "actionInstrument", "actionFile_Properties", "actionInstrument_Info"};
    auto enabledOnes = [&] {
        QStringList on;
        for (const QString& name : actions) {
            if (enabled(name.toLatin1().constData()))
                on << name;
        }
        return on;
    };
    EXPECT_EQ(enabledOnes(), QStringList({"actionLoad"}));
    auto* data = makeDataSet(1, 20).release();
    ASSERT_TRUE(
        QMetaObject::invokeMethod(window.get(), "newScanStarted", Q_ARG(tarvoDataSet*, data)));
    EXPECT_EQ(window->dataView()->dataSet(), data);
    EXPECT_EQ(enabledOnes(), QStringList());
    EXPECT_EQ(window->banner()->scanLight(), topBanner::On);
    window->scanAdvancement(42);
    window->scanNumber(3);
    QMetaObject::invokeMethod(window.get(), "updateDuration", Q_ARG(double, 12.6));
    EXPECT_EQ(status().mid(2),
              QStringList({" Sweep Duration : 13 s ", " Progress : 42 % ", " Scan Nbr 3 "}));
    // The sync input's state; a code below -4 leaves the label as it was.
    for (const auto& [freq, code, text] :
         std::vector<std::tuple<double, int, QString>>{{1234.9, 3, " Sync Freq : 1234 Hz "},
                                                       {0, 0, "Sensor Disconnected"},
                                                       {0, -2, "Sync freq too low"},
                                                       {0, -5, "Sync freq too low"}}) {
        QMetaObject::invokeMethod(window.get(), "syncFreq", Q_ARG(double, freq), Q_ARG(int, code));
        EXPECT_EQ(window->statusLabels()[1]->text(), text) << code;
    }
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "scanDone"));
    EXPECT_EQ(enabledOnes(), actions.mid(0, 7));
    EXPECT_EQ(window->banner()->scanLight(), topBanner::Off);
}

// Opening through the dialog fills the views; Save As asks for a kdf file and makes it the data
// set's own, Save then writes there without asking. Cancelled dialogs change nothing.
TEST_F(WindowTest, OpenSaveAsAndCancelledDialogs) {
    const QString original = writeDataFile("original.kdf", 13, 2);
    const QString copy = QString::fromStdString(dir.file("copy.kdf"));
    QString openTitle, saveTitle;
    modalScript script;
    answerFileDialog(script, original, &openTitle);
    answerFileDialog(script, QString());  // open
    answerFileDialog(script, QString());  // save as
    script.on("exportOptions", [](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    answerFileDialog(script, copy, &saveTitle);
    for (const char* action : {"actionLoad", "actionLoad", "actionSave", "actionExport"}) {
        window->action(action)->trigger();
    }
    EXPECT_EQ(openTitle, "Open File|Kalder Data Files (*.kdf);;Kalder Old Format (*.dat)");
    mainDataView* view = window->dataView();
    ASSERT_NE(view->dataSet(), nullptr);
    EXPECT_EQ(view->dataSet()->filePath(), original);
    EXPECT_EQ(view->channelCount(), 13);
    EXPECT_EQ(view->scanSelectorCount(), 2);
    EXPECT_EQ(window->statusLabels()[0]->text(), "original.kdf");
    EXPECT_EQ(QSettings().value("Settings/lastopenfile").toString(), original);
    EXPECT_EQ(QDir(QString::fromStdString(dir.path())).entryList({"*.kdf", "*.csv", "*.h5"}),
              QStringList({"original.kdf"}));
    window->action("actionSave")->trigger();
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(saveTitle, "Save|Kalder data file(*.kdf)");
    EXPECT_EQ(view->dataSet()->filePath(), copy);
    tarvoDataSet b(copy);  // the last sweep of the second scan, channel 9, step 7
    ASSERT_EQ(b.scanCount(), 2);
    EXPECT_EQ(b.sweepScans[1]->traces->at(1)->currents[8][7], knownCurrent(8, 3, 7));
    window->action("actionSave_2")->trigger();  // asks nothing
    EXPECT_TRUE(script.unexpected.isEmpty()) << script.unexpected.join(",").toStdString();
}

// Unreadable files keep the data shown and say so; a file cut short shows the scans complete
// before the cut, and says how many.
TEST_F(WindowTest, DamagedFiles) {
    const QString good = writeDataFile("good.kdf", 1, 1);
    ASSERT_TRUE(window->loadFile(good));
    tarvoDataSet* before = window->dataView()->dataSet();
    const std::string one = readWholeFile(good.toStdString());
    const std::string three = readWholeFile(writeDataFile("three.kdf", 1, 3).toStdString());
    auto truncated = [&](const char* name, const char* outcome) {
        return "Truncated File|The file " + QString::fromStdString(dir.file(name)) +
               " is truncated: it ends before its data do (a copy was interrupted or a disk was "
               "full).\n\n" +
               outcome;
    };
    const QString invalid = "Invalid File|File was corrupted and cannot be loaded.";
    struct Case {
        const char* name;
        std::string contents;
        int scans;  // shown; 0: the data shown before stay
        QString message;
    };
    const std::vector<Case> cases = {
        // Cut inside the header that follows the data marker: no scan is complete.
        {"truncated.kdf", one.substr(0, one.find("[DATA]") + 8 + 4 + 4 + 10), 0,
         truncated("truncated.kdf",
                   "No scan was complete before the cut; nothing could be loaded.")},
        {"garbage.kdf", std::string(4000, '\x5a'), 0, invalid},
        // Cut in the last trace: every scan is shown, the last one without that trace.
        {"cut.kdf", three.substr(0, three.size() - 10), 3,
         truncated("cut.kdf",
                   "3 of its 3 scans were recovered; the data after the cut are missing.")}};
    for (const Case& c : cases) {
        const QString path = QString::fromStdString(dir.file(c.name));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.contents.data(), qint64(c.contents.size()));
        file.close();
        modalScript script;
        QString message;
        script.on([](QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; },
                  [&message](QWidget* w) {
                      auto* box = qobject_cast<QMessageBox*>(w);
                      message = box->windowTitle() + "|" + box->text();
                      box->accept();
                  });
        EXPECT_EQ(window->loadFile(path), c.scans > 0) << c.name;
        EXPECT_EQ(message, c.message) << c.name;
        if (c.scans > 0) {
            EXPECT_EQ(window->dataView()->dataSet()->scanCount(), c.scans);
        } else {
            EXPECT_EQ(window->dataView()->dataSet(), before) << c.name;
        }
        EXPECT_EQ(window->statusLabels()[0]->text(), c.scans > 0 ? c.name : "good.kdf");
    }
}

// Runs that never ended, as their checkpoints left them: "Yes" turns one into an ordinary data
// file that the window shows, "No" leaves it for the next start, "Discard" removes it.
TEST_F(WindowTest, UnfinishedRunsAreOfferedAtStart) {
    const QString runs = QString::fromStdString(dir.file("runs"));
    ASSERT_TRUE(QDir().mkpath(runs));
    // The checkpoints of a process that has ended, as a crash leaves them.
    const pid_t writer = fork();
    if (writer == 0) {
        _exit(0);
    }
    ASSERT_GT(writer, 0);
    waitpid(writer, nullptr, 0);
    auto leaveCheckpoint = [&](int channels, int minute) {
        auto data = makeDataSet(channels, 25, 1, 2);
        const QDateTime started(QDate(2026, 12, 1), QTime(9, minute));
        const QString path = recovery::fileName(runs, started, writer);
        const QVariantMap flags{{recovery::UNFINISHED_KEY, true},
                                {recovery::TYPE_KEY, "IV_TimeAveraged"},
                                {recovery::STARTED_KEY, started.toString(Qt::ISODate)},
                                {recovery::PROCESS_KEY, qint64(writer)}};
        EXPECT_TRUE(recoveryJournal(path).append(*data, flags));
        return path;
    };
    const QString kept = leaveCheckpoint(7, 1);
    const QString recovered = leaveCheckpoint(9, 2);
    const QString discarded = leaveCheckpoint(13, 3);

    modalScript script;
    for (QMessageBox::StandardButton answer :
         {QMessageBox::No, QMessageBox::Yes, QMessageBox::Discard}) {
        script.on([](QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; },
                  [answer](QWidget* w) {
                      auto* box = qobject_cast<QMessageBox*>(w);
                      EXPECT_EQ(box->windowTitle(), "Recover unfinished measurement");
                      box->button(answer)->click();
                  });
    }
    EXPECT_EQ(window->offerRecovery({runs}), 1);
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(QFileInfo::exists(kept));
    EXPECT_FALSE(QFileInfo::exists(recovered));
    EXPECT_FALSE(QFileInfo::exists(discarded));
    ASSERT_TRUE(window->dataView()->dataSet());
    EXPECT_EQ(window->dataView()->dataSet()->nChannels, 9);
    EXPECT_EQ(window->lastFile(),
              QFileInfo(recovered).dir().filePath(
                  "recovered_" + QFileInfo(recovered).completeBaseName() + ".kdf"));
    tarvoDataSet onDisk(window->lastFile());
    EXPECT_FALSE(onDisk.settingsMap.contains(recovery::UNFINISHED_KEY));
    EXPECT_EQ(recovery::findUnfinishedRuns({runs}).size(), 1);
}

// Export asks for the options, then the file; a CSV file takes the separator chosen.
TEST_F(WindowTest, ExportWritesTheChosenFileType) {
    ASSERT_TRUE(window->loadFile(writeDataFile("data.kdf", 1, 2)));
    const QString target = QString::fromStdString(dir.file("export.csv"));
    modalScript script;
    QString title;
    script.on("exportOptions", [](QWidget* w) {
        w->findChild<QLineEdit*>("separator")->setText(";");
        qobject_cast<QDialog*>(w)->accept();
    });
    answerFileDialog(script, target, &title);
    window->action("actionExport")->trigger();
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(title, "Export|comma separated value (*.csv)");
    const std::string csv = readWholeFile(target.toStdString());
    EXPECT_EQ(csv.substr(0, 22), "Time Averaged IV scan\n");
    EXPECT_NE(csv.find("Frame ;2;Time;10"), std::string::npos);
}

TEST_F(WindowTest, UnsavedDataIsOfferedForSavingBeforeItGoes) {
    const QString other = writeDataFile("other.kdf", 1, 1);
    const QString kept = QString::fromStdString(dir.file("kept.kdf"));
    using B = QMessageBox;
    const struct {
        const char* what;
        B::StandardButton answer;
        bool goesOn;
    } cases[] = {{"load", B::Cancel, false}, {"close", B::Save, true}};
    for (const auto& c : cases) {
        const std::string name = c.what;
        QFile::remove(kept);
        window = std::make_unique<mainWindow>(nullptr, false);
        QMetaObject::invokeMethod(window.get(), "newScanStarted",
                                  Q_ARG(tarvoDataSet*, makeDataSet(1, 20).release()));
        QMetaObject::invokeMethod(window.get(), "scanDone");
        EXPECT_EQ(window->windowTitle(), "Unsaved scan - Kalder System") << name;
        modalScript script;
        script.on("unsavedDataBox", [&c](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            EXPECT_EQ(box->standardButtons(), B::Save | B::Discard | B::Cancel);
            box->button(c.answer)->click();
        });
        if (c.answer == B::Save) {
            answerFileDialog(script, kept);
        }
        const bool goesOn = name == "load" ? window->openFile(other) : window->close();
        EXPECT_TRUE(script.finished()) << name;
        EXPECT_TRUE(script.unexpected.isEmpty()) << name;
        EXPECT_EQ(goesOn, c.goesOn) << name;
        EXPECT_EQ(QFile::exists(kept), c.answer == B::Save) << name;
    }
    // Data from a file, or saved, goes without a question.
    ASSERT_TRUE(window->loadFile(other));
    modalScript none;
    EXPECT_TRUE(window->openFile(other));
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(none.seen.isEmpty());
}

// A loaded file names the window and joins File > Recent Files, newest first, from where it opens.
TEST_F(WindowTest, RecentFilesReopen) {
    const QString first = QFileInfo(writeDataFile("first.kdf", 1, 1)).absoluteFilePath();
    const QString second = QFileInfo(writeDataFile("second.kdf", 1, 1)).absoluteFilePath();
    ASSERT_TRUE(window->loadFile(first));
    ASSERT_TRUE(window->loadFile(second));
    auto* menu = window->findChild<QMenu*>("menuRecent");
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[1]->text(), "&2 first.kdf");
    menu->actions()[1]->trigger();
    EXPECT_EQ(window->windowTitle(), "first.kdf - Kalder System");
}

TEST(SingleInstance, HandsAFileToTheRunningProgramOrAsks) {
    auto newGuard = [] {  // keys of the tests' own (the program may be running here)
        const QString key =
            QStringLiteral("kalder-test-%1-").arg(QCoreApplication::applicationPid());
        return std::make_unique<singleInstanceGuard>(key + "Tarvo", key + "Kalder");
    };
    const auto running = newGuard();
    ASSERT_TRUE(running->acquire([](const QString&) { return false; }));
    QStringList received, asked;
    ASSERT_TRUE(running->listen([&](const QString& path) {
        received << path;
        return false;
    }));
    // The later start blocks on the socket, so it runs in a thread of its own while this one's
    // event loop serves the running program.
    bool acquired = true;
    std::atomic<bool> done{false};
    const auto later = newGuard();
    std::thread start([&] {
        acquired = later->acquire(
            [&](const QString& text) {
                asked << text;
                return false;
            },
            QStringLiteral("rel/run.kdf"));
        done = true;
    });
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    start.join();
    EXPECT_FALSE(acquired);
    EXPECT_FALSE(later->handedOver());
    EXPECT_EQ(asked, QStringList{"Kalder software already running. Open another instance?"});
    EXPECT_EQ(received, QStringList{QDir::current().absoluteFilePath("rel/run.kdf")});
}

// What a user reads after a scan: the average energy with its unit, and the peaks.
TEST_F(WindowTest, ResultLabels) {
    mainDataView& view = *window->dataView();
    view.setDataSet(makeDataSet(7, 40).release());
    double energy = 0.0;
    {
        std::lock_guard<std::mutex> lock(view.dataSet()->mutex);
        energy = view.dataSet()->averageEnergy(0);
    }
    EXPECT_EQ(
        QStringList({view.averageEnergyText(), view.peaksLabelText()}),
        QStringList({QString("<html><head/><body><p><span style=\" font-size:14pt;\">%1 "
                             "</span><span style=\" font-size:9pt;\">eV</span></p></body></html>")
                         .arg(QString::number(energy, 'f', 1)),
                     "none"}));  // straight currents have no peaks
}

// The data properties list the settings map, with the flux factors of the sensors (those of the
// file, the default for the rest) to edit.
TEST_F(WindowTest, DataPropertiesListTheSettingsAndEditTheFluxFactors) {
    window->dataView()->setDataSet(makeDataSet(7, 20, 2, 3).release());
    tarvoDataSet* data = window->dataView()->dataSet();
    data->settingsMap["scanDate"] = "2026-01-02T03:04:05";
    data->settingsMap["biasEnd"] = "250";
    data->settingsMap["activeSensors"] = 3;
    data->settingsMap["ionFluxFactor"] = QVariantList{1000.0, 2000.0};
    modalScript script;
    QStringList texts;
    script.on([](QWidget* w) { return qobject_cast<dataPropertiesDialog*>(w) != nullptr; },
              [&](QWidget* w) {
                  auto* dialog = qobject_cast<dataPropertiesDialog*>(w);
                  texts = dialog->texts();
                  ASSERT_EQ(dialog->fluxFactorEdits().size(), 3);
                  texts << dialog->fluxFactorEdits()[2]->text();
                  dialog->fluxFactorEdits()[2]->setText("4321");
                  dialog->accept();
              });
    window->action("actionFile_Properties")->setEnabled(true);
    window->action("actionFile_Properties")->trigger();
    EXPECT_TRUE(script.finished());
    for (const char* line :
         {"Time Averaged IV Scan", "Scan started on : 2026-01-02T03:04:05", "2 scans",
          "3 traces per scan", "Current Channels : 7",
          "Bias grid voltages, Start : -10.0 V, Step : 1 V, End : 250 V", "860000"}) {
        EXPECT_TRUE(texts.contains(line)) << line << "\n" << texts.join("\n").toStdString();
    }
    EXPECT_EQ(data->settingsMap.value("ionFluxFactor").toList(),
              QVariantList({1000.0, 2000.0, 4321.0}));
}

bool fitsSmallScreen(const QWidget* w) {
    const QSize least = w->minimumSizeHint().expandedTo(w->minimumSize());
    return least.width() <= 1280 && least.height() <= 720;
}

TEST_F(WindowTest, EveryDialogFitsASmallScreen) {
    // The largest forms: the time-resolved settings of the aspect-ratio family, a record of the
    // most probes, a data set of the most sensors with their temperature factors.
    scanWizard& wizard = window->panel()->wizard();
    wizard.settingsDialog().setAspectRatioFamily(true);
    wizard.settingsDialog().setTimeResolved(true);
    window->controller().nExtProbes = TolmarCntrl::MAX_TEMP_ROWS;
    instrumentSettingsDialog instrument(&window->controller());
    auto data = makeDataSet(1, 20);
    const QVariantList factors = QVector<QVariant>(dataPropertiesDialog::MAX_FACTORS, 1.0).toList();
    for (const char* key : {"ionFluxFactor", "tempBeta", "tempRo", "tempRs"}) {
        data->settingsMap[key] = factors;
    }
    dataPropertiesDialog properties(data.get());
    for (QWidget* dialog : std::vector<QWidget*>{
             &wizard.selectionDialog(), &wizard.modeDialog(), &wizard.settingsDialog(),
             &wizard.preferences(), &window->panel()->idleDialog(), &instrument, &properties,
             &window->exportDialog(), window->graphicControls()}) {
        EXPECT_TRUE(fitsSmallScreen(dialog))
            << dialog->metaObject()->className() << " " << dialog->minimumSizeHint().width()
            << " x " << dialog->minimumSizeHint().height();
    }
}

TEST_F(WindowTest, TheWindowFitsASmallScreenWithItsControlsInView) {
    EXPECT_TRUE(fitsSmallScreen(window.get()));
    window->resize(1280, 720);
    window->show();
    QApplication::processEvents();
    for (const char* name :
         {"idleVoltages", "enableHV", "setScanButton", "scanButton", "stopScanButton"}) {
        auto* control = window->panel()->findChild<QWidget*>(name);
        ASSERT_NE(control, nullptr) << name;
        const QRect inWindow(control->mapTo(window.get(), QPoint(0, 0)), control->size());
        EXPECT_TRUE(window->rect().contains(inWindow)) << name;
        // Whole, not scrolled or clipped away.
        EXPECT_EQ(control->visibleRegion(), QRegion(control->rect())) << name;
    }
    // The trace plot has half the central area at least.
    EXPECT_GE(2 * window->dataView()->plot()->height(), window->centralWidget()->height());
}

TEST(WindowPlacement, FitOnScreen) {
    const QRect laptop(0, 0, 1366, 738);
    struct Case {
        QRect saved, available, fitted;
    };
    const Case cases[] = {
        {{100, 100, 800, 600}, laptop, {100, 100, 800, 600}},   // fits: unchanged
        {{2000, 100, 800, 600}, laptop, {566, 100, 800, 600}},  // the second monitor gone
        {{100, 0, 800, 800}, QRect(0, 30, 1366, 738), {100, 30, 800, 738}},  // task bar on top
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mainWindow::fitOnScreen(c.saved, c.available), c.fitted) << c.saved.x();
    }
}

}  // namespace
